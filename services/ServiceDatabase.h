#pragma once

#include "services/Account.h"
#include "services/Broadcast.h"
#include "services/DatabaseSettings.h"
#include "services/DirectoryEntry.h"
#include "services/DirectoryPerson.h"

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <memory>
#include <optional>
#include <unordered_map>

/// The deployment's store, in SQLite or PostgreSQL: accounts, the directory, contacts and
/// broadcasts.
class ServiceDatabase final
{
public:
    ServiceDatabase();
    ~ServiceDatabase();
    ServiceDatabase(const ServiceDatabase &) = delete;
    ServiceDatabase &operator=(const ServiceDatabase &) = delete;

    /// Opens the database and brings its tables to this program's version; `reset` drops
    /// everything first.
    bool open(const DatabaseSettings &settings, bool reset, QString *error);
    /// Opens (creating) a SQLite file.
    bool open(const QString &path, bool reset, QString *error);
    bool isPostgres() const { return m_postgres; }
    /// The connection, for what only the driver offers; used on this thread only.
    QSqlDatabase connection() const { return m_db; }
    /// Runs a query prepared on connection() as the store's own run (a connection lost is made
    /// again), a failure logged.
    bool run(QSqlQuery &q) const { return execLogged(q); }
    /// The query to run `sql` with, its values still to bind: `fresh` prepared, or on
    /// PostgreSQL one prepared once on this connection and kept, since the driver otherwise
    /// spends a PREPARE and a DEALLOCATE round trip of their own on every run. For statements
    /// run often; not for one still being read when it is asked for again.
    QSqlQuery &prepared(QSqlQuery &fresh, const QString &sql) const;
    /// A fresh room key: 128 random bits from the system's generator, in hex.
    static QString newRoomKey();
    bool isEmpty() const;

    /// Adds a member or a room; one without a room key gets a fresh one.
    bool addEntry(const DirectoryEntry &entry);
    bool addAccount(const Account &account, const QString &password);
    bool addContact(qint64 owner, qint64 entityID);
    bool removeContact(qint64 owner, qint64 entityID);
    bool isContact(qint64 owner, qint64 entityID) const;
    bool addBroadcast(const Broadcast &broadcast);
    /// Moves every broadcast by `deltaMs`.
    void shiftBroadcasts(qint64 deltaMs);

    std::optional<Account> authenticate(const QString &userName, const QString &password) const;
    std::optional<Account> account(const QString &userName) const;
    /// The stored password hash of an account that may sign in; empty when there is none.
    QByteArray passwordHash(const QString &userName) const;
    bool setPassword(const QString &userName, const QString &password);

    // Accounts of the company directory's people: no local password, kept in step with it.
    bool isDirectoryAccount(const QString &userName) const;
    /// Adds or updates a person's account and member entry; false when the name is a local
    /// account's.
    bool storeDirectoryPerson(const DirectoryPerson &person);
    /// Stores every person in one transaction and removes the directory accounts (with their
    /// member entries and contacts) of people no longer in it; returns how many are stored,
    /// -1 when the database is busy or the transaction failed.
    int syncDirectory(const QList<DirectoryPerson> &people);
    /// A new directory person's account and member entry: its entity id, 0 on failure.
    qint64 addDirectoryPerson(const DirectoryPerson &person);
    void removeDirectoryAccount(const QString &userName);

    std::optional<DirectoryEntry> entry(qint64 entityID) const;
    std::optional<DirectoryEntry> entryByKey(const QString &roomKey) const;
    std::optional<DirectoryEntry> entryByExtensionOrName(const QString &name) const;
    QList<DirectoryEntry> contacts(qint64 owner) const;
    /// Members whose display or user name contains `query`, case-insensitively.
    QList<DirectoryEntry> searchMembers(const QString &query, int limit) const;
    bool setPresence(qint64 entityID, const QString &presence);
    /// Every member offline but those signed in to other instances: nobody is signed in here
    /// when the services start.
    bool resetPresence(QString *error);

    QList<Broadcast> broadcasts(const QString &coId) const;
    std::optional<Broadcast> broadcast(const QString &coId, const QString &liveId) const;

    // Which relay carries each conference, shared by every instance of the deployment.
    /// The relay the conference is on: the one recorded, or `relay` when none is.
    QString placeConference(qint64 conference, const QString &relay);
    /// Moves the conference from `from` to `to` unless another process moved it first; the
    /// relay it is on now.
    QString movePlacement(qint64 conference, const QString &from, const QString &to);
    /// The relay recorded for the conference; empty: none.
    QString placement(qint64 conference) const;
    /// Participants per relay, over every conference placed.
    QHash<QString, int> relayLoads() const;
    /// `delta` more participants in the conference; its placement goes with the last one.
    void countParticipants(qint64 conference, int delta);
    void forgetPlacements();

    QString meta(const QString &key) const;
    void setMeta(const QString &key, const QString &value);

    /// A write transaction, holding the write lock from its start (one writer at a time, on
    /// either database); false when it is busy.
    bool transaction();
    bool commit();
    void rollback();
    /// The account when it exists and is not disabled.
    std::optional<Account> activeAccount(const QString &userName) const;
    /// Every account, disabled ones too, by user name.
    QList<Account> accounts() const;
    bool setDisabled(const QString &userName, bool disabled);
    /// The account, its directory entry (its personal room) and its contacts.
    bool removeAccount(const Account &account);
    /// A directory entry and every contact list's mention of it.
    bool removeEntry(qint64 entityID);
    QList<DirectoryEntry> rooms() const;
    /// An entity id no member or room has yet.
    qint64 nextEntityID() const;

private:
    bool connect(const DatabaseSettings &settings, QString *error);
    /// An entry whose id (or room key) is taken already is, with `unlessTaken`, not added and
    /// no error.
    bool insertEntry(const DirectoryEntry &entry, bool unlessTaken);
    bool setUpSession(QString *error) const;
    /// Runs a prepared query. On PostgreSQL a connection lost (a restarted server, one that
    /// ended it) is made again and the query run once more, outside a transaction only.
    bool exec(QSqlQuery &q) const;
    /// `sql` prepared and run.
    bool exec(QSqlQuery &q, const QString &sql) const;
    /// exec() with a failure logged.
    bool execLogged(QSqlQuery &q) const;
    /// True when the connection was lost and is made again.
    bool reconnect() const;

    QSqlDatabase m_db;
    QString m_connection;
    bool m_postgres = false;
    bool m_writing = false; ///< in a PostgreSQL transaction of transaction()
    struct Kept
    {
        std::unique_ptr<QSqlQuery> query;
        int connection = -1; ///< prepared on this one of the connections made
    };
    mutable std::unordered_map<QString, Kept> m_kept;
    mutable int m_connections = 0; ///< made so far: statements prepared on earlier ones are gone
};
