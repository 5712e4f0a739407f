#pragma once

#include "services/Account.h"
#include "services/CredentialCache.h"
#include "services/Throttle.h"

#include <optional>

class ServiceDatabase;

/// Where every password is checked (the login service, the portal's Basic authentication, the
/// conference service's sign-in): failures are throttled per address and per account name,
/// and recently verified credentials are remembered.
class SignInGate final
{
public:
    struct Verdict
    {
        std::optional<Account> account;
        int holdMs = 0; ///< answer a failure this much later
    };

    explicit SignInGate(const ServiceDatabase &db);

    Verdict check(const QString &address, const QString &userName, const QString &password);
    Throttle &throttle() { return m_throttle; }
    CredentialCache &cache() { return m_cache; }

private:
    const ServiceDatabase &m_db;
    Throttle m_throttle;
    CredentialCache m_cache;
};
