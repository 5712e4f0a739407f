#pragma once

#include "services/Account.h"
#include "services/CredentialCache.h"
#include "services/Throttle.h"

#include <functional>
#include <optional>

class CredentialCheck;
class QObject;
class ServiceDatabase;

/// Where every password is checked (the login service, the portal's Basic authentication, the
/// conference service's sign-in), for local accounts and the directory's people alike:
/// failures are throttled per address and per account name, and recently verified
/// credentials are remembered.
class SignInGate final
{
public:
    struct Verdict
    {
        std::optional<Account> account;
        int holdMs = 0; ///< answer a failure this much later
    };
    using Done = std::function<void(const Verdict &verdict)>;

    SignInGate(const ServiceDatabase &db, const CredentialCheck &check);

    /// Calls `done` with the verdict: at once, or once the directory has answered (on this
    /// thread, and not at all once `context` is gone).
    void check(const QString &address, const QString &userName, const QString &password,
               QObject *context, Done done);
    Throttle &throttle() { return m_throttle; }
    CredentialCache &cache() { return m_cache; }

private:
    void checked(const QString &address, const QString &userName, const QByteArray &key,
                 const CredentialCache::Stamp &before, const std::optional<Account> &account,
                 const Done &done);

    const ServiceDatabase &m_db;
    const CredentialCheck &m_check;
    Throttle m_throttle;
    CredentialCache m_cache;
};
