#pragma once

#include <QList>
#include <QString>

#include <optional>

class ServiceDatabase;

/// The engines signed in to every instance that shares a PostgreSQL database, one row each:
/// the account, the instance holding the connection and the room it is in. Rosters, room
/// occupancy, the lines in use and "one engine per account" are read from here, so that every
/// instance sees the same.
class SessionRegistry final
{
public:
    /// One engine's row.
    struct Row
    {
        QString instance; ///< the instance holding its connection
        QString tag;      ///< "u1001" or "g3", unique among the instances
        qint64 entityId = 0;
        QString displayName;
        qint64 roomId = 0;
        qint64 joinOrder = 0;
        bool micMuted = false;
        QString shareName;
        qint64 publisherId = 0;      ///< at the room's relay, 0: not admitted there (yet)
        qint64 sharePublisherId = 0; ///< for its share
    };

    SessionRegistry(ServiceDatabase &db, const QString &instance);

    const QString &instance() const { return m_instance; }
    /// Writes this instance's row of the engine `row.tag`.
    void record(const Row &row);
    void forget(const QString &tag);
    /// The publisher ids this instance's engine `tag` was given at its room's relay; a row
    /// written for another room has none until it is admitted there.
    void setPublishers(const QString &tag, qint64 id, qint64 shareId);
    /// The people in a room on every instance, in the order they came.
    QList<Row> inRoom(qint64 roomId) const;
    /// The row of a participant of a room, whichever instance holds it.
    std::optional<Row> participant(qint64 roomId, const QString &tag) const;
    /// The account's engine held by another instance, if any.
    std::optional<Row> elsewhere(qint64 entityId) const;
    int occupancy(qint64 roomId) const;
    int linesInUse() const;
    /// The next of a number the instances hand out together (guests, joins), from 1.
    qint64 next(const QString &counter);
    /// Ends every session an instance held (its own at start and stop, or one that stopped
    /// beating): their people go offline unless signed in elsewhere, and those admitted at a
    /// relay are no longer counted there. Returns the rooms they were in.
    QList<qint64> endInstance(const QString &instance);

private:
    ServiceDatabase &m_db;
    QString m_instance;
};
