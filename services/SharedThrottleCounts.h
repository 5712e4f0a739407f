#pragma once

#include <QString>
#include <QStringList>

class ServiceDatabase;

/// The failure counts of a Throttle kept in the database, so that the instances of a deployment
/// on one database count together: failures spread over the instances by the front add up, and
/// a lockout on one holds on every other. Times are milliseconds since the epoch, the one clock
/// the instances share.
class SharedThrottleCounts final
{
public:
    explicit SharedThrottleCounts(const ServiceDatabase &db);

    struct Count
    {
        int failures = 0;
        qint64 lockedUntilMs = 0;
    };

    /// The latest lockout's end of any of `keys`, or 0.
    qint64 lockedUntil(const QStringList &keys) const;
    /// Counts a failure at `nowMs` in one step, whoever counts at the same time: a lockout
    /// served starts the count again.
    Count fail(const QString &key, qint64 nowMs) const;
    /// Locks `key` out until `untilMs` unless it is locked already.
    void lock(const QString &key, qint64 untilMs) const;
    void clear(const QStringList &keys) const;
    /// Forgets counts not locked and without failures since `beforeMs`.
    void forgetStale(qint64 nowMs, qint64 beforeMs) const;

private:
    const ServiceDatabase &m_db;
};
