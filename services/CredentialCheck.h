#pragma once

#include "services/Account.h"

#include <QString>

#include <functional>
#include <optional>

class LdapDirectory;
class QObject;
class ServiceDatabase;

/// The one place a name and password are checked, for the login service, the portal and the
/// conference service alike (through SignInGate, which throttles and remembers): local
/// accounts against their stored hash, the company directory's people by a bind to the
/// directory. Disabled accounts are refused either way.
class CredentialCheck final
{
public:
    using Done = std::function<void(const std::optional<Account> &account)>;

    explicit CredentialCheck(ServiceDatabase &db);

    /// With a directory, names that are not local accounts are the directory's to check.
    void setDirectory(LdapDirectory *directory) { m_directory = directory; }

    /// Calls `done` with the account, or nothing when refused: now for a local account, later
    /// (on this thread, and not at all once `context` is gone) for the directory's.
    void verify(const QString &userName, const QString &password, QObject *context,
                Done done) const;

private:
    ServiceDatabase &m_db;
    LdapDirectory *m_directory = nullptr;
};
