#include "services/Throttle.h"

#include "services/SharedThrottleCounts.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>

#include <algorithm>

namespace {

QString addressKey(const QString &address)
{
    return QStringLiteral("a:") + address;
}

QString subjectKey(const QString &subject)
{
    return QStringLiteral("s:") + subject;
}

} // namespace

Throttle::Throttle(const char *what, const Policy &perAddress, const Policy &perSubject)
    : m_what(what)
    , m_address(perAddress)
    , m_subject(perSubject)
{
    m_clock.start();
}

Throttle::~Throttle() = default;

void Throttle::shareIn(const ServiceDatabase &db)
{
    m_shared = std::make_unique<SharedThrottleCounts>(db);
}

qint64 Throttle::now() const
{
    return m_shared ? QDateTime::currentMSecsSinceEpoch() : m_clock.elapsed();
}

void Throttle::setPolicies(const Policy &perAddress, const Policy &perSubject)
{
    m_address = perAddress;
    m_subject = perSubject;
}

bool Throttle::locked(const QString &address, const QString &subject)
{
    if (m_shared)
        return m_shared->lockedUntil(
                   {sharedKey(addressKey(address)), sharedKey(subjectKey(subject))}) > now();
    return lockedKey(addressKey(address)) || lockedKey(subjectKey(subject));
}

bool Throttle::lockedKey(const QString &key)
{
    const auto it = m_counts.constFind(key);
    return it != m_counts.cend() && it->lockedUntilMs > now();
}

int Throttle::failed(const QString &address, const QString &subject)
{
    forgetStale();
    const int byAddress = fail(addressKey(address), m_address);
    const int bySubject = fail(subjectKey(subject), m_subject);
    const int hold = std::max(byAddress, bySubject);
    // Who and from where, never what was tried.
    qInfo("throttle: %s failed from %s on \"%s\"; answer held %d ms", m_what, qPrintable(address),
          qPrintable(subject), hold);
    return hold;
}

int Throttle::fail(const QString &key, const Policy &policy)
{
    const int failures = m_shared ? countShared(key, policy) : count(key, policy);
    const int beyond = failures - policy.freeFailures;
    if (beyond <= 0)
        return 0;
    const qint64 delay = qint64(policy.firstDelayMs) << std::min(beyond - 1, 20);
    return int(std::min<qint64>(delay, policy.maxDelayMs));
}

int Throttle::count(const QString &key, const Policy &policy)
{
    Count &count = m_counts[key];
    const qint64 t = now();
    if (count.lockedUntilMs != 0 && count.lockedUntilMs <= t)
        count = {}; // the lockout served: start again
    ++count.failures;
    count.lastFailureMs = t;
    if (count.failures >= policy.lockoutAfter && count.lockedUntilMs == 0) {
        count.lockedUntilMs = t + policy.lockoutMs;
        qWarning("throttle: %s locked out for %d s after %d failures: %s", m_what,
                 policy.lockoutMs / 1000, count.failures, qPrintable(key.mid(2)));
    }
    return count.failures;
}

int Throttle::countShared(const QString &key, const Policy &policy)
{
    const qint64 t = now();
    const SharedThrottleCounts::Count count = m_shared->fail(sharedKey(key), t);
    if (count.failures >= policy.lockoutAfter && count.lockedUntilMs == 0) {
        m_shared->lock(sharedKey(key), t + policy.lockoutMs);
        qWarning("throttle: %s locked out for %d s after %d failures: %s", m_what,
                 policy.lockoutMs / 1000, count.failures, qPrintable(key.mid(2)));
    }
    return count.failures;
}

void Throttle::succeeded(const QString &address, const QString &subject)
{
    if (m_shared)
        return m_shared->clear({sharedKey(addressKey(address)), sharedKey(subjectKey(subject))});
    m_counts.remove(addressKey(address));
    m_counts.remove(subjectKey(subject));
}

void Throttle::forgetStale()
{
    if (m_shared)
        return forgetStaleShared();
    const qint64 t = now();
    const int limit = std::min(m_address.maxEntries, m_subject.maxEntries);
    if (m_counts.size() < limit)
        return;
    const int forgetMs = std::min(m_address.forgetMs, m_subject.forgetMs);
    m_counts.removeIf([t, forgetMs](const QHash<QString, Count>::iterator &it) {
        return it->lockedUntilMs <= t && t - it->lastFailureMs > forgetMs;
    });
    // Still full: a flood of distinct names or addresses. The oldest half goes, lockouts stay.
    if (m_counts.size() < limit)
        return;
    QList<std::pair<qint64, QString>> open;
    for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it) {
        if (it->lockedUntilMs <= t)
            open.append({it->lastFailureMs, it.key()});
    }
    const qsizetype excess = std::min(open.size(), m_counts.size() - limit / 2);
    std::nth_element(open.begin(), open.begin() + excess, open.end());
    for (qsizetype i = 0; i < excess; ++i)
        m_counts.remove(open.at(i).second);
}

/// The shared counts are swept now and then, by whichever instance counts a failure.
void Throttle::forgetStaleShared()
{
    constexpr qint64 sweepMs = 60000;
    const qint64 t = now();
    if (t - m_lastForgotten < sweepMs)
        return;
    m_lastForgotten = t;
    m_shared->forgetStale(t, t - std::min(m_address.forgetMs, m_subject.forgetMs));
}

QString Throttle::clientAddress(const QHostAddress &peer, const QByteArray &forwardedFor,
                                bool behindFront)
{
    if (behindFront && peer.isLoopback() && !forwardedFor.isEmpty()) {
        // The front appends the address it saw; what comes before it the client wrote.
        const QByteArray last = forwardedFor.split(',').last().trimmed();
        const QHostAddress forwarded(QString::fromLatin1(last));
        if (!forwarded.isNull())
            return forwarded.toString();
    }
    QHostAddress plain = peer;
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4)
        plain = QHostAddress(v4); // "::ffff:10.0.0.1" and "10.0.0.1" are one client
    return plain.toString();
}
