#include "services/SchemaMigrations.h"

#include "services/ServiceDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <vector>

namespace {

const QString versionKey = QStringLiteral("schemaVersion");

/// Migration n is the statements at n - 1. Only ever append: a database records how far it got.
const std::vector<std::vector<const char *>> migrations = {
    {
        // The tables as they were before versions were kept, each only if missing: a database
        // of that time is taken as it is.
        "CREATE TABLE IF NOT EXISTS entities("
        " entityID {int64} PRIMARY KEY, kind TEXT NOT NULL, displayName TEXT NOT NULL,"
        " emailAddress TEXT NOT NULL DEFAULT '', extension TEXT NOT NULL DEFAULT '',"
        " tenant TEXT NOT NULL DEFAULT 'Default', presence TEXT NOT NULL DEFAULT 'Offline',"
        " ownerID {int64} NOT NULL DEFAULT 0, roomKey TEXT NOT NULL UNIQUE,"
        " pin TEXT NOT NULL DEFAULT '', capacity INTEGER NOT NULL DEFAULT 50,"
        " occupants INTEGER NOT NULL DEFAULT 0, locked INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE IF NOT EXISTS accounts("
        " userName TEXT PRIMARY KEY, entityID {int64} NOT NULL UNIQUE, salt {blob} NOT NULL,"
        " hash {blob} NOT NULL, coId TEXT NOT NULL DEFAULT '', userRole INTEGER NOT NULL DEFAULT 0,"
        " play INTEGER NOT NULL DEFAULT 0, version INTEGER NOT NULL DEFAULT 3,"
        " period INTEGER NOT NULL DEFAULT 48, disabled INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE IF NOT EXISTS contacts("
        " ownerID {int64} NOT NULL, entityID {int64} NOT NULL, PRIMARY KEY(ownerID, entityID))",
        "CREATE TABLE IF NOT EXISTS broadcasts("
        " liveId TEXT PRIMARY KEY, coId TEXT NOT NULL, channelId TEXT NOT NULL DEFAULT '',"
        " liveName TEXT NOT NULL, liveRemark TEXT NOT NULL DEFAULT '', startsAt {int64} NOT NULL,"
        " endsAt {int64} NOT NULL, onlineMax INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS directoryAccounts(userName TEXT PRIMARY KEY)",
    },
    {
        // Which relay carries each conference, and how many participants it has there.
        "CREATE TABLE relayPlacements(conference {int64} PRIMARY KEY, relay TEXT NOT NULL,"
        " participants INTEGER NOT NULL DEFAULT 0)",
    },
    {
        // Several instances on one database: each one's heartbeat, the engines signed in to
        // each (with the room each is in), and the numbers they hand out together.
        "CREATE TABLE instances(id TEXT PRIMARY KEY, beat {int64} NOT NULL)",
        "CREATE TABLE sessions("
        " instance TEXT NOT NULL, tag TEXT NOT NULL, entityID {int64} NOT NULL DEFAULT 0,"
        " displayName TEXT NOT NULL DEFAULT '', roomID {int64} NOT NULL DEFAULT 0,"
        " joinOrder {int64} NOT NULL DEFAULT 0, micMuted INTEGER NOT NULL DEFAULT 0,"
        " shareName TEXT NOT NULL DEFAULT '', PRIMARY KEY(instance, tag))",
        "CREATE INDEX sessionsByRoom ON sessions(roomID)",
        "CREATE INDEX sessionsByEntity ON sessions(entityID)",
        "CREATE TABLE counters(name TEXT PRIMARY KEY, value {int64} NOT NULL)",
    },
    {
        // The publisher ids each engine was given at its room's relay, for its camera and its
        // share: the feeds every instance names to its engines.
        "ALTER TABLE sessions ADD COLUMN publisherID {int64} NOT NULL DEFAULT 0",
        "ALTER TABLE sessions ADD COLUMN sharePublisherID {int64} NOT NULL DEFAULT 0",
    },
    {
        // Failed sign-ins and room PINs counted by every instance together.
        "CREATE TABLE throttles(key TEXT PRIMARY KEY, failures INTEGER NOT NULL,"
        " lastFailure {int64} NOT NULL, lockedUntil {int64} NOT NULL DEFAULT 0)",
    },
};

} // namespace

SchemaMigrations::SchemaMigrations(ServiceDatabase &db)
    : m_db(db)
{}

int SchemaMigrations::latest()
{
    return int(migrations.size());
}

qint64 SchemaMigrations::lockKey()
{
    return 7307351064213400001; // any number, the same in every instance
}

QStringList SchemaMigrations::tables()
{
    return {QStringLiteral("entities"),
            QStringLiteral("accounts"),
            QStringLiteral("contacts"),
            QStringLiteral("broadcasts"),
            QStringLiteral("meta"),
            QStringLiteral("directoryAccounts"),
            QStringLiteral("relayPlacements"),
            QStringLiteral("instances"),
            QStringLiteral("sessions"),
            QStringLiteral("counters"),
            QStringLiteral("throttles")};
}

bool SchemaMigrations::apply(bool reset, QString *error)
{
    if (!lockOut(error))
        return false;
    bool done = !reset || drop(error);
    // Each migration reads the version again under its write lock: another process may have
    // run it meanwhile.
    for (int to = version() + 1; done && to <= latest(); ++to)
        done = migrate(to, error);
    const int reached = version();
    if (done && reached > latest()) {
        *error = QStringLiteral("the database is of version %1, newer than this program's %2")
                     .arg(reached)
                     .arg(latest());
        done = false;
    }
    unlock();
    return done;
}

int SchemaMigrations::version() const
{
    if (!m_db.connection().tables().contains(QStringLiteral("meta")))
        return 0;
    // None recorded: made before versions were kept, which migration 1 takes as it is.
    return m_db.meta(versionKey).toInt();
}

bool SchemaMigrations::migrate(int to, QString *error)
{
    if (!m_db.transaction()) {
        *error = QStringLiteral("the database is busy");
        return false;
    }
    if (version() >= to) {
        m_db.rollback();
        return true;
    }
    bool done = true;
    for (const char *statement : migrations.at(to - 1))
        done = done && run(dialect(statement), error);
    if (done && to == 1)
        done = completeBaseline(error);
    if (done) {
        m_db.setMeta(versionKey, QString::number(to));
        done = m_db.commit();
    }
    if (!done) {
        if (error->isEmpty())
            *error = QStringLiteral("migration %1 could not be committed").arg(to);
        m_db.rollback();
    }
    return done;
}

bool SchemaMigrations::run(const QString &statement, QString *error)
{
    QSqlQuery q(m_db.connection());
    if (q.exec(statement))
        return true;
    *error = q.lastError().text();
    return false;
}

bool SchemaMigrations::completeBaseline(QString *error)
{
    if (m_db.connection().record(QStringLiteral("accounts")).contains(QStringLiteral("disabled")))
        return true;
    return run(
        QStringLiteral("ALTER TABLE accounts ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0"),
        error);
}

bool SchemaMigrations::drop(QString *error)
{
    for (const QString &table : tables()) {
        if (!run(QStringLiteral("DROP TABLE IF EXISTS ") + table, error))
            return false;
    }
    return true;
}

QString SchemaMigrations::dialect(const char *statement) const
{
    const bool postgres = m_db.isPostgres();
    return QString::fromLatin1(statement)
        .replace(QStringLiteral("{int64}"),
                 postgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER"))
        .replace(QStringLiteral("{blob}"),
                 postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB"));
}

bool SchemaMigrations::lockOut(QString *error)
{
    // SQLite's write lock, taken by each migration's transaction, keeps others out already.
    if (!m_db.isPostgres())
        return true;
    m_locked = run(QStringLiteral("SELECT pg_advisory_lock(%1)").arg(lockKey()), error);
    return m_locked;
}

void SchemaMigrations::unlock()
{
    QString ignored;
    if (m_locked)
        run(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(lockKey()), &ignored);
    m_locked = false;
}
