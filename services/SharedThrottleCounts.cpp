#include "services/SharedThrottleCounts.h"

#include "services/ServiceDatabase.h"

#include <QSqlQuery>
#include <QVariant>

SharedThrottleCounts::SharedThrottleCounts(const ServiceDatabase &db)
    : m_db(db)
{}

qint64 SharedThrottleCounts::lockedUntil(const QStringList &keys) const
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q =
        m_db.prepared(fresh, QStringLiteral("SELECT COALESCE(MAX(lockedUntil), 0) FROM throttles"
                                            " WHERE key IN (?, ?)"));
    q.addBindValue(keys.value(0));
    q.addBindValue(keys.value(1, keys.value(0)));
    const qint64 until = m_db.run(q) && q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    return until;
}

SharedThrottleCounts::Count SharedThrottleCounts::fail(const QString &key, qint64 nowMs) const
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q = m_db.prepared(
        fresh,
        QStringLiteral("INSERT INTO throttles(key, failures, lastFailure, lockedUntil)"
                       " VALUES(?, 1, ?, 0) ON CONFLICT(key) DO UPDATE SET"
                       " failures = CASE WHEN throttles.lockedUntil <> 0"
                       " AND throttles.lockedUntil <= excluded.lastFailure"
                       " THEN 1 ELSE throttles.failures + 1 END,"
                       " lockedUntil = CASE WHEN throttles.lockedUntil <= excluded.lastFailure"
                       " THEN 0 ELSE throttles.lockedUntil END,"
                       " lastFailure = excluded.lastFailure"
                       " RETURNING failures, lockedUntil"));
    q.addBindValue(key);
    q.addBindValue(nowMs);
    Count count;
    if (m_db.run(q) && q.next())
        count = {q.value(0).toInt(), q.value(1).toLongLong()};
    q.finish();
    return count;
}

void SharedThrottleCounts::lock(const QString &key, qint64 untilMs) const
{
    QSqlQuery q(m_db.connection());
    q.prepare(
        QStringLiteral("UPDATE throttles SET lockedUntil = ? WHERE key = ? AND lockedUntil = 0"));
    q.addBindValue(untilMs);
    q.addBindValue(key);
    m_db.run(q);
}

void SharedThrottleCounts::clear(const QStringList &keys) const
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q =
        m_db.prepared(fresh, QStringLiteral("DELETE FROM throttles WHERE key IN (?, ?)"));
    q.addBindValue(keys.value(0));
    q.addBindValue(keys.value(1, keys.value(0)));
    m_db.run(q);
}

void SharedThrottleCounts::forgetStale(qint64 nowMs, qint64 beforeMs) const
{
    QSqlQuery q(m_db.connection());
    q.prepare(QStringLiteral("DELETE FROM throttles WHERE lockedUntil <= ? AND lastFailure < ?"));
    q.addBindValue(nowMs);
    q.addBindValue(beforeMs);
    m_db.run(q);
}
