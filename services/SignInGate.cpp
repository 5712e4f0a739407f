#include "services/SignInGate.h"

#include "services/CredentialCheck.h"

namespace {

Throttle::Policy perAddress()
{
    // Many people may share one address (an office's NAT): more room before the lockout.
    Throttle::Policy policy;
    policy.freeFailures = 5;
    policy.lockoutAfter = 50;
    return policy;
}

} // namespace

SignInGate::SignInGate(const ServiceDatabase &db, const CredentialCheck &check)
    : m_db(db)
    , m_check(check)
    , m_throttle("sign-in", perAddress(), Throttle::Policy{})
{}

void SignInGate::check(const QString &address, const QString &userName, const QString &password,
                       QObject *context, Done done)
{
    if (m_throttle.locked(address, userName))
        return done({std::nullopt, 0}); // refused unchecked: costs no PBKDF2 and no bind
    const QByteArray key = m_cache.keyOf(userName, password);
    if (auto account = m_cache.find(m_db, key, userName)) {
        m_throttle.succeeded(address, userName);
        return done({std::move(account), 0});
    }
    // Read before the check: a password changed meanwhile is not vouched for by this one.
    const CredentialCache::Stamp before = CredentialCache::stampOf(m_db, userName);
    m_check.verify(userName, password, context,
                   [this, address, userName, key, before, done](const auto &account) {
                       checked(address, userName, key, before, account, done);
                   });
}

void SignInGate::checked(const QString &address, const QString &userName, const QByteArray &key,
                         const CredentialCache::Stamp &before,
                         const std::optional<Account> &account, const Done &done)
{
    if (!account)
        return done({std::nullopt, m_throttle.failed(address, userName)});
    m_throttle.succeeded(address, userName);
    // A directory person's account may have come with this very sign-in.
    const bool local = !before.directory && !before.value.isEmpty();
    m_cache.remember(key, local ? before : CredentialCache::stampOf(m_db, userName));
    done({account, 0});
}
