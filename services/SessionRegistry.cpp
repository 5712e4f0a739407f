#include "services/SessionRegistry.h"

#include "services/ServiceDatabase.h"

#include <QHash>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QString rowColumns =
    QStringLiteral("instance, tag, entityID, displayName, roomID, joinOrder, micMuted, shareName");
const QString readColumns = rowColumns + QStringLiteral(", publisherID, sharePublisherID");

SessionRegistry::Row rowFrom(const QSqlQuery &q)
{
    SessionRegistry::Row r;
    r.instance = q.value(0).toString();
    r.tag = q.value(1).toString();
    r.entityId = q.value(2).toLongLong();
    r.displayName = q.value(3).toString();
    r.roomId = q.value(4).toLongLong();
    r.joinOrder = q.value(5).toLongLong();
    r.micMuted = q.value(6).toBool();
    r.shareName = q.value(7).toString();
    r.publisherId = q.value(8).toLongLong();
    r.sharePublisherId = q.value(9).toLongLong();
    return r;
}

QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

} // namespace

SessionRegistry::SessionRegistry(ServiceDatabase &db, const QString &instance)
    : m_db(db)
    , m_instance(instance)
{}

void SessionRegistry::record(const Row &r)
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q = m_db.prepared(
        fresh,
        QStringLiteral("INSERT INTO sessions(") + rowColumns +
            QStringLiteral(") VALUES(?,?,?,?,?,?,?,?) ON CONFLICT(instance, tag) DO UPDATE SET"
                           " entityID = excluded.entityID, displayName = excluded.displayName,"
                           " roomID = excluded.roomID, joinOrder = excluded.joinOrder,"
                           " micMuted = excluded.micMuted, shareName = excluded.shareName,"
                           " publisherID = CASE WHEN sessions.roomID = excluded.roomID"
                           " THEN sessions.publisherID ELSE 0 END,"
                           " sharePublisherID = CASE WHEN sessions.roomID = excluded.roomID"
                           " THEN sessions.sharePublisherID ELSE 0 END"));
    for (const QVariant &v : {QVariant(m_instance), text(r.tag), QVariant(r.entityId),
                              text(r.displayName), QVariant(r.roomId), QVariant(r.joinOrder),
                              QVariant(r.micMuted ? 1 : 0), text(r.shareName)})
        q.addBindValue(v);
    m_db.run(q);
}

void SessionRegistry::forget(const QString &tag)
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q =
        m_db.prepared(fresh, QStringLiteral("DELETE FROM sessions WHERE instance = ? AND tag = ?"));
    q.addBindValue(m_instance);
    q.addBindValue(tag);
    m_db.run(q);
}

void SessionRegistry::setPublishers(const QString &tag, qint64 id, qint64 shareId)
{
    QSqlQuery q(m_db.connection());
    q.prepare(QStringLiteral("UPDATE sessions SET publisherID = ?, sharePublisherID = ?"
                             " WHERE instance = ? AND tag = ?"));
    for (const QVariant &v : {QVariant(id), QVariant(shareId), QVariant(m_instance), text(tag)})
        q.addBindValue(v);
    m_db.run(q);
}

QList<SessionRegistry::Row> SessionRegistry::inRoom(qint64 roomId) const
{
    QList<Row> rows;
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q = m_db.prepared(
        fresh, QStringLiteral("SELECT ") + readColumns +
                   QStringLiteral(" FROM sessions WHERE roomID = ? ORDER BY joinOrder"));
    q.addBindValue(roomId);
    if (m_db.run(q)) {
        while (q.next())
            rows.append(rowFrom(q));
    }
    return rows;
}

std::optional<SessionRegistry::Row> SessionRegistry::participant(qint64 roomId,
                                                                 const QString &tag) const
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q = m_db.prepared(
        fresh, QStringLiteral("SELECT ") + readColumns +
                   QStringLiteral(" FROM sessions WHERE roomID = ? AND tag = ? LIMIT 1"));
    q.addBindValue(roomId);
    q.addBindValue(tag);
    if (!m_db.run(q) || !q.next())
        return std::nullopt;
    return rowFrom(q);
}

std::optional<SessionRegistry::Row> SessionRegistry::elsewhere(qint64 entityId) const
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q = m_db.prepared(
        fresh, QStringLiteral("SELECT ") + readColumns +
                   QStringLiteral(" FROM sessions WHERE entityID = ? AND instance <> ? LIMIT 1"));
    q.addBindValue(entityId);
    q.addBindValue(m_instance);
    if (entityId == 0 || !m_db.run(q) || !q.next())
        return std::nullopt;
    return rowFrom(q);
}

int SessionRegistry::occupancy(qint64 roomId) const
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q =
        m_db.prepared(fresh, QStringLiteral("SELECT COUNT(*) FROM sessions WHERE roomID = ?"));
    q.addBindValue(roomId);
    return m_db.run(q) && q.next() ? q.value(0).toInt() : 0;
}

int SessionRegistry::linesInUse() const
{
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q =
        m_db.prepared(fresh, QStringLiteral("SELECT COUNT(*) FROM sessions WHERE roomID <> 0"));
    return m_db.run(q) && q.next() ? q.value(0).toInt() : 0;
}

qint64 SessionRegistry::next(const QString &counter)
{
    // One statement: two instances asking at once get two numbers.
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q = m_db.prepared(
        fresh, QStringLiteral("INSERT INTO counters(name, value) VALUES(?, 1) ON CONFLICT(name)"
                              " DO UPDATE SET value = counters.value + 1 RETURNING value"));
    q.addBindValue(counter);
    return m_db.run(q) && q.next() ? q.value(0).toLongLong() : 0;
}

QList<qint64> SessionRegistry::endInstance(const QString &instance)
{
    QList<qint64> rooms;
    QSqlQuery q(m_db.connection());
    q.prepare(QStringLiteral(
        "DELETE FROM sessions WHERE instance = ? RETURNING entityID, roomID, publisherID"));
    q.addBindValue(instance);
    QList<qint64> people;
    QHash<qint64, int> admitted; // by room: the engines counted at its relay
    if (m_db.run(q)) {
        while (q.next()) {
            if (q.value(0).toLongLong() != 0)
                people.append(q.value(0).toLongLong());
            if (q.value(1).toLongLong() != 0 && !rooms.contains(q.value(1).toLongLong()))
                rooms.append(q.value(1).toLongLong());
            if (q.value(1).toLongLong() != 0 && q.value(2).toLongLong() != 0)
                ++admitted[q.value(1).toLongLong()];
        }
    }
    // No one releases them at their relays: the instance that admitted them is gone.
    for (auto it = admitted.cbegin(); it != admitted.cend(); ++it)
        m_db.countParticipants(it.key(), -it.value());
    for (qint64 entityId : std::as_const(people)) {
        q.prepare(QStringLiteral("UPDATE entities SET presence = 'Offline' WHERE entityID = ?"
                                 " AND NOT EXISTS (SELECT 1 FROM sessions WHERE entityID = ?)"));
        q.addBindValue(entityId);
        q.addBindValue(entityId);
        m_db.run(q);
    }
    return rooms;
}
