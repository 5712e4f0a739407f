#include "services/ServiceDatabase.h"

#include "services/PasswordHash.h"
#include "services/SchemaMigrations.h"

#include <QRandomGenerator>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <algorithm>

namespace {

// A null QString binds as SQL NULL; the columns hold empty texts instead.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

const QString entryColumns = QStringLiteral(
    "entityID, kind, displayName, emailAddress, extension, tenant, presence, ownerID, roomKey,"
    " pin, capacity, occupants, locked");

DirectoryEntry entryFrom(const QSqlQuery &q)
{
    DirectoryEntry e;
    e.entityID = q.value(0).toLongLong();
    e.kind = q.value(1).toString();
    e.displayName = q.value(2).toString();
    e.emailAddress = q.value(3).toString();
    e.extension = q.value(4).toString();
    e.tenant = q.value(5).toString();
    e.presence = q.value(6).toString();
    e.ownerID = q.value(7).toLongLong();
    e.roomKey = q.value(8).toString();
    e.pin = q.value(9).toString();
    e.capacity = q.value(10).toInt();
    e.occupants = q.value(11).toInt();
    e.locked = q.value(12).toBool();
    return e;
}

Account accountFrom(const QSqlQuery &q)
{
    Account a;
    a.userName = q.value(0).toString();
    a.entityID = q.value(1).toLongLong();
    a.coId = q.value(2).toString();
    a.userRole = q.value(3).toInt();
    a.play = q.value(4).toInt();
    a.version = q.value(5).toInt();
    a.period = q.value(6).toInt();
    a.disabled = q.value(7).toBool();
    return a;
}

Broadcast broadcastFrom(const QSqlQuery &q)
{
    Broadcast b;
    b.liveId = q.value(0).toString();
    b.coId = q.value(1).toString();
    b.channelId = q.value(2).toString();
    b.liveName = q.value(3).toString();
    b.liveRemark = q.value(4).toString();
    b.startsAt = q.value(5).toLongLong();
    b.endsAt = q.value(6).toLongLong();
    b.onlineMax = q.value(7).toInt();
    return b;
}

/// pg_advisory_xact_lock's key for write transactions.
const QString writeLock = QStringLiteral("7307351064213400002");

const QString accountColumns =
    QStringLiteral("userName, entityID, coId, userRole, play, version, period, disabled");
const QString broadcastColumns =
    QStringLiteral("liveId, coId, channelId, liveName, liveRemark, startsAt, endsAt, onlineMax");

} // namespace

ServiceDatabase::ServiceDatabase()
    : m_connection(QUuid::createUuid().toString())
{}

ServiceDatabase::~ServiceDatabase()
{
    m_kept.clear();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool ServiceDatabase::open(const QString &path, bool reset, QString *error)
{
    return open(DatabaseSettings::sqlite(path), reset, error);
}

bool ServiceDatabase::open(const DatabaseSettings &settings, bool reset, QString *error)
{
    if (!connect(settings, error))
        return false;
    QSqlQuery q(m_db);
    if (m_postgres) {
        // Tables that are not there yet are no news worth a line on the terminal.
        q.exec(QStringLiteral("SET client_min_messages = warning"));
    } else {
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        // The account commands write while the service runs: each waits for the other's write.
        q.exec(QStringLiteral("PRAGMA busy_timeout=5000"));
    }
    return SchemaMigrations(*this).apply(reset, error) && setUpSession(error);
}

bool ServiceDatabase::setUpSession(QString *error) const
{
    if (!m_postgres)
        return true;
    QSqlQuery q(m_db);
    // As SQLite's busy timeout: a writer waits that long for another (set after the
    // migrations, which wait for each other as long as they take).
    if (q.exec(QStringLiteral("SET client_min_messages = warning")) &&
        q.exec(QStringLiteral("SET lock_timeout = 5000")))
        return true;
    *error = q.lastError().text();
    return false;
}

bool ServiceDatabase::exec(QSqlQuery &q) const
{
    if (q.exec())
        return true;
    // A transaction went with its connection: only a statement of its own is run again.
    if (!m_postgres || m_writing || !reconnect())
        return false;
    QSqlQuery again(m_db);
    again.prepare(q.lastQuery());
    for (const QVariant &value : q.boundValues())
        again.addBindValue(value);
    const bool done = again.exec();
    q = std::move(again);
    return done;
}

QSqlQuery &ServiceDatabase::prepared(QSqlQuery &fresh, const QString &sql) const
{
    if (!m_postgres) {
        fresh.prepare(sql);
        return fresh;
    }
    Kept &kept = m_kept[sql];
    if (!kept.query)
        kept.query = std::make_unique<QSqlQuery>(m_db);
    if (kept.connection != m_connections) {
        kept.query->prepare(sql);
        kept.connection = m_connections;
    }
    return *kept.query;
}

bool ServiceDatabase::exec(QSqlQuery &q, const QString &sql) const
{
    q.prepare(sql);
    return exec(q);
}

bool ServiceDatabase::execLogged(QSqlQuery &q) const
{
    if (exec(q))
        return true;
    qWarning("database: %s", qPrintable(q.lastError().text()));
    return false;
}

bool ServiceDatabase::reconnect() const
{
    // A statement that failed on a live connection failed for a reason of its own. (The
    // driver closes a connection it found broken.)
    if (m_db.isOpen() && QSqlQuery(m_db).exec(QStringLiteral("SELECT 1")))
        return false;
    QSqlDatabase db = m_db;
    db.close();
    ++m_connections;
    QString error;
    if (db.open() && setUpSession(&error)) {
        qWarning("database: the connection was lost; connected again");
        return true;
    }
    qWarning("database: the connection was lost: %s %s", qPrintable(db.lastError().text()),
             qPrintable(error));
    return false;
}

bool ServiceDatabase::connect(const DatabaseSettings &settings, QString *error)
{
    m_kept.clear(); // prepared on a connection about to be replaced
    m_postgres = settings.postgres();
    const QString driver = m_postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = m_postgres ? QStringLiteral("Qt's PostgreSQL driver is missing (Debian package "
                                             "libqt6sql6-psql)")
                            : QStringLiteral("Qt's SQLite driver is missing (Debian package "
                                             "libqt6sql6-sqlite)");
        return false;
    }
    m_db = QSqlDatabase::addDatabase(driver, m_connection);
    if (m_postgres) {
        m_db.setHostName(settings.hostName);
        m_db.setPort(settings.port);
        m_db.setDatabaseName(settings.databaseName);
        m_db.setUserName(settings.userName);
        m_db.setPassword(settings.password);
        m_db.setConnectOptions(settings.connectOptions);
    } else {
        m_db.setDatabaseName(settings.sqlitePath);
    }
    if (m_db.open())
        return true;
    *error = settings.describe() + QStringLiteral(": ") + m_db.lastError().text();
    return false;
}

QString ServiceDatabase::newRoomKey()
{
    quint32 bits[4];
    QRandomGenerator::system()->fillRange(bits);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(bits), sizeof bits).toHex());
}

bool ServiceDatabase::isEmpty() const
{
    QSqlQuery q(m_db);
    return !exec(q, QStringLiteral("SELECT 1 FROM accounts LIMIT 1")) || !q.next();
}

bool ServiceDatabase::addEntry(const DirectoryEntry &e)
{
    return insertEntry(e, false);
}

bool ServiceDatabase::insertEntry(const DirectoryEntry &e, bool unlessTaken)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO entities(") + entryColumns +
              QStringLiteral(") VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)") +
              (unlessTaken ? QStringLiteral(" ON CONFLICT DO NOTHING") : QString()));
    for (const QVariant &v : std::initializer_list<QVariant>{
             QVariant(e.entityID), text(e.kind), text(e.displayName), text(e.emailAddress),
             text(e.extension), text(e.tenant), text(e.presence), QVariant(e.ownerID),
             text(e.roomKey.isEmpty() ? newRoomKey() : e.roomKey), text(e.pin),
             QVariant(e.capacity), QVariant(e.occupants), QVariant(e.locked ? 1 : 0)})
        q.addBindValue(v);
    return execLogged(q) && q.numRowsAffected() == 1;
}

bool ServiceDatabase::addAccount(const Account &a, const QString &password)
{
    const QByteArray salt = PasswordHash::newSalt();
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO accounts(userName, entityID, salt, hash, coId, userRole,"
                             " play, version, period) VALUES(?,?,?,?,?,?,?,?,?)"));
    for (const QVariant &v : std::initializer_list<QVariant>{
             text(a.userName), QVariant(a.entityID), QVariant(salt),
             QVariant(PasswordHash::hash(password, salt)), text(a.coId), QVariant(a.userRole),
             QVariant(a.play), QVariant(a.version), QVariant(a.period)})
        q.addBindValue(v);
    return execLogged(q);
}

bool ServiceDatabase::addContact(qint64 owner, qint64 entityID)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO contacts(ownerID, entityID) VALUES(?, ?)"
                             " ON CONFLICT DO NOTHING"));
    q.addBindValue(owner);
    q.addBindValue(entityID);
    return execLogged(q);
}

bool ServiceDatabase::removeContact(qint64 owner, qint64 entityID)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM contacts WHERE ownerID = ? AND entityID = ?"));
    q.addBindValue(owner);
    q.addBindValue(entityID);
    return exec(q) && q.numRowsAffected() > 0;
}

bool ServiceDatabase::isContact(qint64 owner, qint64 entityID) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT 1 FROM contacts WHERE ownerID = ? AND entityID = ?"));
    q.addBindValue(owner);
    q.addBindValue(entityID);
    return exec(q) && q.next();
}

bool ServiceDatabase::addBroadcast(const Broadcast &b)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO broadcasts(") + broadcastColumns +
              QStringLiteral(") VALUES(?,?,?,?,?,?,?,?)"));
    for (const QVariant &v : std::initializer_list<QVariant>{
             text(b.liveId), text(b.coId), text(b.channelId), text(b.liveName), text(b.liveRemark),
             QVariant(b.startsAt), QVariant(b.endsAt), QVariant(b.onlineMax)})
        q.addBindValue(v);
    return execLogged(q);
}

void ServiceDatabase::shiftBroadcasts(qint64 deltaMs)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE broadcasts SET startsAt = startsAt + ?, endsAt = endsAt + ?"));
    q.addBindValue(deltaMs);
    q.addBindValue(deltaMs);
    exec(q);
}

std::optional<Account> ServiceDatabase::authenticate(const QString &userName,
                                                     const QString &password) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT salt, hash, disabled FROM accounts WHERE userName = ?"));
    q.addBindValue(userName);
    if (!exec(q) || !q.next()) {
        PasswordHash::verifyNothing(password);
        return std::nullopt;
    }
    if (!PasswordHash::verify(password, q.value(0).toByteArray(), q.value(1).toByteArray()) ||
        q.value(2).toBool())
        return std::nullopt;
    return account(userName);
}

std::optional<Account> ServiceDatabase::account(const QString &userName) const
{
    QSqlQuery fresh(m_db);
    QSqlQuery &q = prepared(fresh, QStringLiteral("SELECT ") + accountColumns +
                                       QStringLiteral(" FROM accounts WHERE userName = ?"));
    q.addBindValue(userName);
    if (!exec(q) || !q.next())
        return std::nullopt;
    return accountFrom(q);
}

QByteArray ServiceDatabase::passwordHash(const QString &userName) const
{
    // None for a disabled account: what was verified for it before no longer counts.
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT hash FROM accounts WHERE userName = ? AND disabled = 0"));
    q.addBindValue(userName);
    return exec(q) && q.next() ? q.value(0).toByteArray() : QByteArray();
}

bool ServiceDatabase::setPassword(const QString &userName, const QString &password)
{
    const QByteArray salt = PasswordHash::newSalt();
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE accounts SET salt = ?, hash = ? WHERE userName = ?"));
    q.addBindValue(salt);
    q.addBindValue(PasswordHash::hash(password, salt));
    q.addBindValue(userName);
    return exec(q) && q.numRowsAffected() == 1;
}

bool ServiceDatabase::isDirectoryAccount(const QString &userName) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT 1 FROM directoryAccounts WHERE userName = ?"));
    q.addBindValue(userName);
    return exec(q) && q.next();
}

bool ServiceDatabase::storeDirectoryPerson(const DirectoryPerson &p)
{
    const std::optional<Account> existing = account(p.userName);
    if (existing && !isDirectoryAccount(p.userName))
        return false;
    if (!existing)
        return addDirectoryPerson(p) != 0;
    // Every sign-in brings the person's fields: most of the time they are as stored.
    const std::optional<DirectoryEntry> e = entry(existing->entityID);
    if (e && e->displayName == p.displayName && e->emailAddress == p.emailAddress &&
        e->extension == p.phone)
        return true;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE entities SET displayName = ?, emailAddress = ?, extension = ?"
                             " WHERE entityID = ?"));
    for (const QVariant &v :
         {text(p.displayName), text(p.emailAddress), text(p.phone), QVariant(existing->entityID)})
        q.addBindValue(v);
    return execLogged(q);
}

qint64 ServiceDatabase::addDirectoryPerson(const DirectoryPerson &p)
{
    DirectoryEntry e;
    e.kind = QStringLiteral("Member");
    e.displayName = p.displayName;
    e.emailAddress = p.emailAddress;
    e.extension = p.phone;
    e.tenant = QStringLiteral("Default");
    e.presence = QStringLiteral("Offline");
    e.roomKey = newRoomKey();
    e.capacity = 50;
    // Another instance may take the same next id between reading it and adding the entry: the
    // id is read again then.
    bool added = false;
    for (int attempt = 0; attempt < 8 && !added; ++attempt) {
        e.entityID = e.ownerID = nextEntityID();
        added = insertEntry(e, true);
    }
    if (!added)
        return 0;
    // No local password: an empty hash matches none. Empty, not null: the columns take no
    // null, and a blob literal is SQLite's own.
    const QByteArray empty("");
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO accounts(userName, entityID, salt, hash, play)"
                             " VALUES(?, ?, ?, ?, 1) ON CONFLICT(userName) DO NOTHING"));
    for (const QVariant &v :
         {QVariant(p.userName), QVariant(e.entityID), QVariant(empty), QVariant(empty)})
        q.addBindValue(v);
    if (!execLogged(q))
        return 0;
    if (q.numRowsAffected() != 1) {
        // Another instance added the same person meanwhile: its entry is the person's.
        removeEntry(e.entityID);
        const std::optional<Account> other = account(p.userName);
        return other ? other->entityID : 0;
    }
    q.prepare(QStringLiteral("INSERT INTO directoryAccounts(userName) VALUES(?)"
                             " ON CONFLICT DO NOTHING"));
    q.addBindValue(p.userName);
    return execLogged(q) ? e.entityID : 0;
}

int ServiceDatabase::syncDirectory(const QList<DirectoryPerson> &people)
{
    if (!transaction())
        return -1;
    QSet<QString> present;
    int stored = 0;
    for (const DirectoryPerson &p : people) {
        present.insert(p.userName);
        stored += storeDirectoryPerson(p) ? 1 : 0;
    }
    QStringList gone;
    QSqlQuery q(m_db);
    if (exec(q, QStringLiteral("SELECT userName FROM directoryAccounts"))) {
        while (q.next())
            if (!present.contains(q.value(0).toString()))
                gone.append(q.value(0).toString());
    }
    for (const QString &userName : std::as_const(gone))
        removeDirectoryAccount(userName);
    // On PostgreSQL one failed statement fails the whole transaction.
    return commit() ? stored : -1;
}

void ServiceDatabase::removeDirectoryAccount(const QString &userName)
{
    QSqlQuery q(m_db);
    if (const std::optional<Account> a = account(userName)) {
        q.prepare(QStringLiteral("DELETE FROM contacts WHERE ownerID = ? OR entityID = ?"));
        q.addBindValue(a->entityID);
        q.addBindValue(a->entityID);
        execLogged(q);
        q.prepare(QStringLiteral("DELETE FROM entities WHERE entityID = ? AND kind = 'Member'"));
        q.addBindValue(a->entityID);
        execLogged(q);
    }
    for (const char *table : {"accounts", "directoryAccounts"}) {
        q.prepare(QStringLiteral("DELETE FROM %1 WHERE userName = ?").arg(QLatin1String(table)));
        q.addBindValue(userName);
        execLogged(q);
    }
}

std::optional<DirectoryEntry> ServiceDatabase::entry(qint64 entityID) const
{
    QSqlQuery fresh(m_db);
    QSqlQuery &q = prepared(fresh, QStringLiteral("SELECT ") + entryColumns +
                                       QStringLiteral(" FROM entities WHERE entityID = ?"));
    q.addBindValue(entityID);
    if (!exec(q) || !q.next())
        return std::nullopt;
    return entryFrom(q);
}

std::optional<DirectoryEntry> ServiceDatabase::entryByKey(const QString &roomKey) const
{
    QSqlQuery fresh(m_db);
    QSqlQuery &q = prepared(fresh, QStringLiteral("SELECT ") + entryColumns +
                                       QStringLiteral(" FROM entities WHERE roomKey = ?"));
    q.addBindValue(roomKey);
    if (!exec(q) || !q.next())
        return std::nullopt;
    return entryFrom(q);
}

std::optional<DirectoryEntry> ServiceDatabase::entryByExtensionOrName(const QString &name) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT ") + entryColumns +
              QStringLiteral(" FROM entities WHERE extension = ? OR entityID IN"
                             " (SELECT entityID FROM accounts WHERE userName = ?) LIMIT 1"));
    q.addBindValue(name);
    q.addBindValue(name);
    if (!exec(q) || !q.next())
        return std::nullopt;
    return entryFrom(q);
}

QList<DirectoryEntry> ServiceDatabase::contacts(qint64 owner) const
{
    QList<DirectoryEntry> list;
    QSqlQuery q(m_db);
    q.prepare(
        QStringLiteral("SELECT ") + entryColumns +
        QStringLiteral(" FROM entities WHERE entityID IN"
                       " (SELECT entityID FROM contacts WHERE ownerID = ?) ORDER BY entityID"));
    q.addBindValue(owner);
    if (exec(q)) {
        while (q.next())
            list.append(entryFrom(q));
    }
    return list;
}

QList<DirectoryEntry> ServiceDatabase::searchMembers(const QString &query, int limit) const
{
    QList<DirectoryEntry> list;
    // SQLite's LIKE folds ASCII case only; compare in Qt so that every script folds.
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT ") + entryColumns +
              QStringLiteral(", (SELECT userName FROM accounts a WHERE a.entityID = e.entityID)"
                             " FROM entities e WHERE kind = 'Member' ORDER BY entityID"));
    if (!exec(q))
        return list;
    while (q.next() && list.size() < limit) {
        const DirectoryEntry e = entryFrom(q);
        if (e.displayName.contains(query, Qt::CaseInsensitive) ||
            q.value(13).toString().contains(query, Qt::CaseInsensitive))
            list.append(e);
    }
    return list;
}

bool ServiceDatabase::setPresence(qint64 entityID, const QString &presence)
{
    QSqlQuery fresh(m_db);
    QSqlQuery &q =
        prepared(fresh, QStringLiteral("UPDATE entities SET presence = ? WHERE entityID = ?"));
    q.addBindValue(presence);
    q.addBindValue(entityID);
    return execLogged(q);
}

bool ServiceDatabase::resetPresence(QString *error)
{
    QSqlQuery q(m_db);
    if (exec(q, QStringLiteral("UPDATE entities SET presence = 'Offline' WHERE kind = 'Member'"
                               // Other instances' engines stay as they are.
                               " AND entityID NOT IN (SELECT entityID FROM sessions)")))
        return true;
    *error = q.lastError().text();
    return false;
}

QList<Broadcast> ServiceDatabase::broadcasts(const QString &coId) const
{
    QList<Broadcast> list;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT ") + broadcastColumns +
              QStringLiteral(" FROM broadcasts WHERE coId = ? ORDER BY startsAt"));
    q.addBindValue(coId);
    if (exec(q)) {
        while (q.next())
            list.append(broadcastFrom(q));
    }
    return list;
}

std::optional<Broadcast> ServiceDatabase::broadcast(const QString &coId,
                                                    const QString &liveId) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT ") + broadcastColumns +
              QStringLiteral(" FROM broadcasts WHERE coId = ? AND liveId = ?"));
    q.addBindValue(coId);
    q.addBindValue(liveId);
    if (!exec(q) || !q.next())
        return std::nullopt;
    return broadcastFrom(q);
}

QString ServiceDatabase::placeConference(qint64 conference, const QString &relay)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO relayPlacements(conference, relay) VALUES(?, ?)"
                             " ON CONFLICT(conference) DO NOTHING"));
    q.addBindValue(conference);
    q.addBindValue(relay);
    execLogged(q);
    return placement(conference);
}

QString ServiceDatabase::movePlacement(qint64 conference, const QString &from, const QString &to)
{
    QSqlQuery q(m_db);
    q.prepare(
        QStringLiteral("UPDATE relayPlacements SET relay = ? WHERE conference = ? AND relay = ?"));
    q.addBindValue(to);
    q.addBindValue(conference);
    q.addBindValue(from);
    execLogged(q);
    const QString now = placement(conference);
    return now.isEmpty() ? placeConference(conference, to) : now;
}

QString ServiceDatabase::placement(qint64 conference) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT relay FROM relayPlacements WHERE conference = ?"));
    q.addBindValue(conference);
    return exec(q) && q.next() ? q.value(0).toString() : QString();
}

QHash<QString, int> ServiceDatabase::relayLoads() const
{
    QHash<QString, int> loads;
    QSqlQuery q(m_db);
    if (!exec(q, QStringLiteral("SELECT relay, SUM(participants) FROM relayPlacements"
                                " GROUP BY relay")))
        return loads;
    while (q.next())
        loads.insert(q.value(0).toString(), q.value(1).toInt());
    return loads;
}

void ServiceDatabase::countParticipants(qint64 conference, int delta)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE relayPlacements SET participants = participants + ?"
                             " WHERE conference = ?"));
    q.addBindValue(delta);
    q.addBindValue(conference);
    execLogged(q);
    QSqlQuery gone(m_db);
    gone.prepare(
        QStringLiteral("DELETE FROM relayPlacements WHERE conference = ? AND participants <= 0"));
    gone.addBindValue(conference);
    execLogged(gone);
}

void ServiceDatabase::forgetPlacements()
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM relayPlacements"));
    execLogged(q);
}

QString ServiceDatabase::meta(const QString &key) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT value FROM meta WHERE key = ?"));
    q.addBindValue(key);
    return exec(q) && q.next() ? q.value(0).toString() : QString();
}

void ServiceDatabase::setMeta(const QString &key, const QString &value)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO meta(key, value) VALUES(?, ?)"
                             " ON CONFLICT(key) DO UPDATE SET value = excluded.value"));
    q.addBindValue(key);
    q.addBindValue(value);
    execLogged(q);
}

bool ServiceDatabase::transaction()
{
    QSqlQuery q(m_db);
    if (!m_postgres) {
        // Takes the write lock at once: a deferred one could not wait for a writer met later.
        q.prepare(QStringLiteral("BEGIN IMMEDIATE"));
        return execLogged(q);
    }
    // The same one writer at a time, among every instance and command using the database:
    // the entity ids they hand out are read from the table they add to.
    if (!m_db.transaction() && !(reconnect() && m_db.transaction())) {
        qWarning("database: %s", qPrintable(m_db.lastError().text()));
        return false;
    }
    m_writing = true;
    q.prepare(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(writeLock));
    if (execLogged(q))
        return true;
    rollback();
    return false;
}

bool ServiceDatabase::commit()
{
    if (m_postgres) {
        // The driver tells a transaction that failed (and so was rolled back) from a commit.
        m_writing = false;
        if (m_db.commit())
            return true;
        qWarning("database: %s", qPrintable(m_db.lastError().text()));
        return false;
    }
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("COMMIT"));
    return execLogged(q);
}

void ServiceDatabase::rollback()
{
    if (m_postgres) {
        // The server warns of a rollback after the transaction ended (in a failed commit).
        if (m_writing)
            m_db.rollback();
        m_writing = false;
        return;
    }
    QSqlQuery q(m_db);
    q.exec(QStringLiteral("ROLLBACK"));
}

std::optional<Account> ServiceDatabase::activeAccount(const QString &userName) const
{
    auto found = account(userName);
    return found && !found->disabled ? found : std::nullopt;
}

QList<Account> ServiceDatabase::accounts() const
{
    QList<Account> list;
    QSqlQuery q(m_db);
    if (exec(q, QStringLiteral("SELECT ") + accountColumns +
                    QStringLiteral(" FROM accounts ORDER BY userName"))) {
        while (q.next())
            list.append(accountFrom(q));
    }
    return list;
}

bool ServiceDatabase::setDisabled(const QString &userName, bool disabled)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("UPDATE accounts SET disabled = ? WHERE userName = ?"));
    q.addBindValue(disabled ? 1 : 0);
    q.addBindValue(userName);
    return execLogged(q) && q.numRowsAffected() == 1;
}

bool ServiceDatabase::removeAccount(const Account &account)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM accounts WHERE userName = ?"));
    q.addBindValue(account.userName);
    if (!execLogged(q) || q.numRowsAffected() != 1)
        return false;
    q.prepare(QStringLiteral("DELETE FROM contacts WHERE ownerID = ?"));
    q.addBindValue(account.entityID);
    return execLogged(q) && removeEntry(account.entityID);
}

bool ServiceDatabase::removeEntry(qint64 entityID)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM contacts WHERE entityID = ?"));
    q.addBindValue(entityID);
    if (!execLogged(q))
        return false;
    q.prepare(QStringLiteral("DELETE FROM entities WHERE entityID = ?"));
    q.addBindValue(entityID);
    return execLogged(q);
}

QList<DirectoryEntry> ServiceDatabase::rooms() const
{
    QList<DirectoryEntry> list;
    QSqlQuery q(m_db);
    if (exec(q, QStringLiteral("SELECT ") + entryColumns +
                    QStringLiteral(" FROM entities WHERE kind = 'Room' ORDER BY entityID"))) {
        while (q.next())
            list.append(entryFrom(q));
    }
    return list;
}

qint64 ServiceDatabase::nextEntityID() const
{
    QSqlQuery q(m_db);
    const qint64 highest = exec(q, QStringLiteral("SELECT MAX(entityID) FROM entities")) && q.next()
                               ? q.value(0).toLongLong()
                               : 0;
    return std::max<qint64>(highest, 1000) + 1;
}
