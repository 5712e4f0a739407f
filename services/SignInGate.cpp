#include "services/SignInGate.h"

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

SignInGate::SignInGate(const ServiceDatabase &db)
    : m_db(db)
    , m_throttle("sign-in", perAddress(), Throttle::Policy{})
{}

SignInGate::Verdict SignInGate::check(const QString &address, const QString &userName,
                                      const QString &password)
{
    if (m_throttle.locked(address, userName))
        return {std::nullopt, 0}; // refused unchecked: a locked account costs no PBKDF2
    Verdict verdict{m_cache.authenticate(m_db, userName, password), 0};
    if (verdict.account)
        m_throttle.succeeded(address, userName);
    else
        verdict.holdMs = m_throttle.failed(address, userName);
    return verdict;
}
