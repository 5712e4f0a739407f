#include "services/DemoData.h"
#include "services/PasswordHash.h"
#include "services/SchemaMigrations.h"
#include "services/ServiceDatabase.h"
#include "tests/support/Needs.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TestHost.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

/// The tables as the deployment made them before its schema had versions.
const char *const unversionedSchema[] = {
    "CREATE TABLE entities("
    " entityID INTEGER PRIMARY KEY, kind TEXT NOT NULL, displayName TEXT NOT NULL,"
    " emailAddress TEXT NOT NULL DEFAULT '', extension TEXT NOT NULL DEFAULT '',"
    " tenant TEXT NOT NULL DEFAULT 'Default', presence TEXT NOT NULL DEFAULT 'Offline',"
    " ownerID INTEGER NOT NULL DEFAULT 0, roomKey TEXT NOT NULL UNIQUE,"
    " pin TEXT NOT NULL DEFAULT '', capacity INTEGER NOT NULL DEFAULT 50,"
    " occupants INTEGER NOT NULL DEFAULT 0, locked INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE accounts("
    " userName TEXT PRIMARY KEY, entityID INTEGER NOT NULL UNIQUE, salt BLOB NOT NULL,"
    " hash BLOB NOT NULL, coId TEXT NOT NULL DEFAULT '', userRole INTEGER NOT NULL DEFAULT 0,"
    " play INTEGER NOT NULL DEFAULT 0, version INTEGER NOT NULL DEFAULT 3,"
    " period INTEGER NOT NULL DEFAULT 48)",
    "CREATE TABLE contacts("
    " ownerID INTEGER NOT NULL, entityID INTEGER NOT NULL, PRIMARY KEY(ownerID, entityID))",
    "CREATE TABLE broadcasts("
    " liveId TEXT PRIMARY KEY, coId TEXT NOT NULL, channelId TEXT NOT NULL DEFAULT '',"
    " liveName TEXT NOT NULL, liveRemark TEXT NOT NULL DEFAULT '', startsAt INTEGER NOT NULL,"
    " endsAt INTEGER NOT NULL, onlineMax INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE directoryAccounts(userName TEXT PRIMARY KEY)",
};

} // namespace

/// The deployment's store as the account commands and the demo data use it, on SQLite and on
/// PostgreSQL alike.
class TestServiceDatabase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void failedDemoLoadLeavesNothing_data() { addDriverRows(); }
    void failedDemoLoadLeavesNothing();
    void disabledAccountIsRefused_data();
    void disabledAccountIsRefused();
    void olderDatabaseKeepsItsRows_data();
    void olderDatabaseKeepsItsRows();
    void newerDatabaseIsRefused_data() { addDriverRows(); }
    void newerDatabaseIsRefused();
    void concurrentStartsMigrateOnce_data();
    void concurrentStartsMigrateOnce();
    void lostConnectionIsMadeAgain_data();
    void lostConnectionIsMadeAgain();
    void instancesAgreeOnRelayPlacements_data() { addDriverRows(); }
    void instancesAgreeOnRelayPlacements();

private:
    /// A row per database; the PostgreSQL rows' tags start with "postgresql", which init()
    /// reads, as it runs before each row.
    static void addDriverRows();
    static bool onPostgres();
    DatabaseSettings settings(const QString &name = QStringLiteral("orvale")) const;
    QString path() const { return m_dir.filePath(QStringLiteral("orvale.sqlite")); }

    QTemporaryDir m_dir;
    std::unique_ptr<PostgresServer> m_postgres;
};

void TestServiceDatabase::addDriverRows()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

bool TestServiceDatabase::onPostgres()
{
    return QByteArray(QTest::currentDataTag()).startsWith("postgresql");
}

void TestServiceDatabase::init()
{
    if (!onPostgres() || m_postgres)
        return;
    ORVALE_NEEDS(PostgresServer::unavailable());
    m_postgres = std::make_unique<PostgresServer>();
    QString error;
    QVERIFY2(m_postgres->start(&error, testHost()), qPrintable(error));
    QVERIFY2(m_postgres->createDatabase(QStringLiteral("orvale"), &error), qPrintable(error));
}

DatabaseSettings TestServiceDatabase::settings(const QString &name) const
{
    DatabaseSettings settings = DatabaseSettings::sqlite(path());
    QString why;
    if (onPostgres())
        DatabaseSettings::parse(m_postgres->socketUrl(name), {}, &settings, &why);
    return settings;
}

void TestServiceDatabase::failedDemoLoadLeavesNothing()
{
    ServiceDatabase db;
    QString error;
    QVERIFY2(db.open(settings(), true, &error), qPrintable(error));
    // The demo hall's id taken: the load fails after the demo's members went in.
    DirectoryEntry taken;
    taken.entityID = 2002;
    taken.kind = QStringLiteral("Room");
    taken.displayName = QStringLiteral("Taken");
    taken.roomKey = QStringLiteral("TakenKey");
    QVERIFY(db.addEntry(taken));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^database: ")));
    QVERIFY(!DemoData::load(db));
    QVERIFY(db.isEmpty());
    QVERIFY(!db.entry(1001));
    QVERIFY(db.meta(QStringLiteral("demoEpoch")).isEmpty());
    QCOMPARE(db.entry(2002)->displayName, QStringLiteral("Taken"));
}

void TestServiceDatabase::disabledAccountIsRefused_data()
{
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<bool>("accepted");
    for (const char *driver : {"sqlite", "postgresql"}) {
        QTest::addRow("%s enabled", driver) << false << true;
        QTest::addRow("%s disabled", driver) << true << false;
    }
}

void TestServiceDatabase::disabledAccountIsRefused()
{
    QFETCH(bool, disabled);
    QFETCH(bool, accepted);
    ServiceDatabase db;
    QString error;
    QVERIFY2(db.open(settings(), true, &error), qPrintable(error));
    Account account;
    account.userName = QStringLiteral("kate");
    account.entityID = db.nextEntityID();
    QVERIFY(db.addAccount(account, QStringLiteral("kate-secret")));
    QVERIFY(db.setDisabled(QStringLiteral("kate"), disabled));
    QCOMPARE(db.authenticate(QStringLiteral("kate"), QStringLiteral("kate-secret")).has_value(),
             accepted);
    QCOMPARE(db.activeAccount(QStringLiteral("kate")).has_value(), accepted);
    QCOMPARE(db.account(QStringLiteral("kate"))->disabled, disabled);
}

void TestServiceDatabase::olderDatabaseKeepsItsRows_data()
{
    // Databases older than versions are SQLite files.
    QTest::addColumn<bool>("disabledColumn");
    QTest::newRow("sqlite before accounts could be disabled") << false;
    QTest::newRow("sqlite before versions were kept") << true;
}

void TestServiceDatabase::olderDatabaseKeepsItsRows()
{
    QFETCH(bool, disabledColumn);
    QFile::remove(path());
    {
        auto old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        old.setDatabaseName(path());
        QVERIFY(old.open());
        QSqlQuery q(old);
        for (const char *statement : unversionedSchema)
            QVERIFY(q.exec(QLatin1String(statement)));
        if (disabledColumn)
            QVERIFY(q.exec(QStringLiteral(
                "ALTER TABLE accounts ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0")));
        const QByteArray salt = PasswordHash::newSalt();
        q.prepare(QStringLiteral("INSERT INTO accounts(userName, entityID, salt, hash, play)"
                                 " VALUES('liam', 1001, ?, ?, 1)"));
        q.addBindValue(salt);
        q.addBindValue(PasswordHash::hash(QStringLiteral("liam-secret"), salt));
        QVERIFY(q.exec());
        QVERIFY(q.exec(QStringLiteral(
            "INSERT INTO entities(entityID, kind, displayName, roomKey)"
            " VALUES(1001, 'Member', 'Liam', 'k1001'), (2001, 'Room', 'Hall', 'k2001')")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO contacts VALUES(1001, 2001)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO broadcasts(liveId, coId, liveName, startsAt,"
                                      " endsAt) VALUES('L1', 'C001', 'Launch', 1, 2)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO meta VALUES('releaseStamp', '20261201')")));
        old.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    ServiceDatabase db;
    QString error;
    QVERIFY2(db.open(path(), false, &error), qPrintable(error));
    QCOMPARE(SchemaMigrations(db).version(), SchemaMigrations::latest());
    const auto liam = db.authenticate(QStringLiteral("liam"), QStringLiteral("liam-secret"));
    QVERIFY(liam);
    QCOMPARE(liam->entityID, 1001);
    QCOMPARE(db.entry(1001)->displayName, QStringLiteral("Liam"));
    QVERIFY(db.isContact(1001, 2001));
    QCOMPARE(db.broadcast(QStringLiteral("C001"), QStringLiteral("L1"))->liveName,
             QStringLiteral("Launch"));
    QCOMPARE(db.meta(QStringLiteral("releaseStamp")), QStringLiteral("20261201"));
    QVERIFY(db.setDisabled(QStringLiteral("liam"), true));
}

void TestServiceDatabase::newerDatabaseIsRefused()
{
    {
        ServiceDatabase db;
        QString error;
        QVERIFY2(db.open(settings(), true, &error), qPrintable(error));
        db.setMeta(QStringLiteral("schemaVersion"),
                   QString::number(SchemaMigrations::latest() + 1));
    }
    ServiceDatabase db;
    QString error;
    QVERIFY(!db.open(settings(), false, &error));
    QVERIFY2(error.contains(QStringLiteral("newer than this program")), qPrintable(error));
}

void TestServiceDatabase::concurrentStartsMigrateOnce_data()
{
    // SQLite's write lock, taken by each migration, keeps processes apart by itself.
    QTest::addColumn<bool>("postgres");
    QTest::newRow("postgresql") << true;
}

void TestServiceDatabase::concurrentStartsMigrateOnce()
{
    QString error;
    QVERIFY2(m_postgres->createDatabase(QStringLiteral("racing"), &error), qPrintable(error));
    const DatabaseSettings racing = settings(QStringLiteral("racing"));
    QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("h"));
    holder.setHostName(racing.hostName);
    holder.setPort(racing.port);
    holder.setUserName(racing.userName);
    holder.setDatabaseName(racing.databaseName);
    QVERIFY(holder.open());
    QSqlQuery q(holder);
    const QString lock = QString::number(SchemaMigrations::lockKey());
    QVERIFY(q.exec(QStringLiteral("SELECT pg_advisory_lock(%1)").arg(lock)));
    // Two instances start on an empty database while another one migrates it: both wait.
    std::atomic<int> opened = 0;
    auto start = [&opened, racing] {
        ServiceDatabase db;
        QString why;
        if (db.open(racing, false, &why))
            ++opened;
        else
            qWarning("%s", qPrintable(why));
    };
    std::thread first(start);
    std::thread second(start);
    const bool bothWaited = QTest::qWaitFor(
        [&q] {
            return q.exec(QStringLiteral("SELECT count(*) FROM pg_locks"
                                         " WHERE locktype = 'advisory' AND NOT granted")) &&
                   q.next() && q.value(0).toInt() == 2;
        },
        10000);
    const bool unlocked = q.exec(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(lock));
    first.join();
    second.join();
    QVERIFY(bothWaited && unlocked);
    QCOMPARE(opened.load(), 2);
}

void TestServiceDatabase::lostConnectionIsMadeAgain_data()
{
    // A restarted server, or one that ended the connection: SQLite has none to lose.
    QTest::addColumn<bool>("postgres");
    QTest::newRow("postgresql") << true;
}

void TestServiceDatabase::lostConnectionIsMadeAgain()
{
    ServiceDatabase db;
    QString error;
    QVERIFY2(db.open(settings(), true, &error), qPrintable(error));
    QVERIFY(DemoData::load(db));
    // A statement run often stays prepared on the connection (no PREPARE and DEALLOCATE round
    // trips around each run), and is prepared again on the connection made after a loss.
    QVERIFY(db.activeAccount(QStringLiteral("demo")));
    QSqlQuery q(db.connection());
    QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM pg_prepared_statements WHERE statement"
                                  " LIKE '%FROM accounts WHERE userName%'")) &&
            q.next());
    QCOMPARE(q.value(0).toInt(), 1);
    QVERIFY(q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next());
    const qint64 backend = q.value(0).toLongLong();
    {
        ServiceDatabase other;
        QVERIFY2(other.open(settings(), false, &error), qPrintable(error));
        QSqlQuery end(other.connection());
        QVERIFY(end.exec(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(backend)));
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("connected again")));
    QVERIFY(db.authenticate(QStringLiteral("demo"), QStringLiteral("demo1234")));
    QVERIFY(db.setDisabled(QStringLiteral("demo"), true));
    QVERIFY(!db.activeAccount(QStringLiteral("demo")));
}

/// Two instances on one database place a conference on the relay the first one chose, move it
/// once when its relay stops, and count its participants together.
void TestServiceDatabase::instancesAgreeOnRelayPlacements()
{
    ServiceDatabase first;
    ServiceDatabase second;
    QString error;
    QVERIFY2(first.open(settings(), true, &error), qPrintable(error));
    QVERIFY2(second.open(settings(), false, &error), qPrintable(error));
    const QString a = QStringLiteral("http://a/janus");
    const QString b = QStringLiteral("http://b/janus");
    QCOMPARE(first.placeConference(2001, a), a);
    QCOMPARE(second.placeConference(2001, b), a);
    first.countParticipants(2001, 1);
    second.countParticipants(2001, 2);
    QCOMPARE(second.relayLoads(), (QHash<QString, int>{{a, 3}}));
    // Both saw relay a stop; the second, later, finds the conference moved already.
    QCOMPARE(first.movePlacement(2001, a, b), b);
    QCOMPARE(second.movePlacement(2001, a, QStringLiteral("http://c/janus")), b);
    QCOMPARE(first.relayLoads(), (QHash<QString, int>{{b, 3}}));
    // The last participant gone, the conference is placed anew next time.
    second.countParticipants(2001, -3);
    QCOMPARE(first.placement(2001), QString());
    QCOMPARE(second.placeConference(2001, a), a);
}

QTEST_GUILESS_MAIN(TestServiceDatabase)
#include "tst_servicedatabase.moc"
