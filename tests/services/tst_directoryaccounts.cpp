#include "services/CredentialCache.h"
#include "services/DemoData.h"
#include "services/ServiceDatabase.h"
#include "tests/support/Needs.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TestHost.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

DirectoryPerson person(const QString &userName, const QString &displayName)
{
    return {userName, displayName, userName + QStringLiteral("@company.test"),
            QStringLiteral("7100")};
}

} // namespace

/// The company directory's people in the deployment's database: members without a local
/// password, kept in step with the directory, never taking a local account's name; on SQLite
/// and on PostgreSQL alike.
class TestDirectoryAccounts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data();
    void init();
    void cleanup();
    void peopleBecomeMembers();
    void localNamesStayLocal();
    void peopleWhoLeftAreRemoved();
    void rememberedSignInsFollowTheAccount_data();
    void rememberedSignInsFollowTheAccount();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServiceDatabase> m_db;
    std::unique_ptr<PostgresServer> m_postgres;
};

void TestDirectoryAccounts::initTestCase_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

void TestDirectoryAccounts::init()
{
    QFETCH_GLOBAL(bool, postgres);
    m_dir = std::make_unique<QTemporaryDir>();
    QString error;
    DatabaseSettings settings =
        DatabaseSettings::sqlite(m_dir->filePath(QStringLiteral("db.sqlite")));
    if (postgres) {
        ORVALE_NEEDS(PostgresServer::unavailable());
        if (!m_postgres) {
            m_postgres = std::make_unique<PostgresServer>();
            QVERIFY2(m_postgres->start(&error, testHost()), qPrintable(error));
            QVERIFY2(m_postgres->createDatabase(QStringLiteral("orvale"), &error),
                     qPrintable(error));
        }
        QVERIFY(DatabaseSettings::parse(m_postgres->socketUrl(QStringLiteral("orvale")), {},
                                        &settings, &error));
    }
    m_db = std::make_unique<ServiceDatabase>();
    QVERIFY2(m_db->open(settings, true, &error), qPrintable(error));
    QVERIFY(DemoData::load(*m_db));
}

void TestDirectoryAccounts::cleanup()
{
    m_db.reset();
    m_dir.reset();
}

void TestDirectoryAccounts::peopleBecomeMembers()
{
    QCOMPARE(m_db->syncDirectory({person(QStringLiteral("yan"), QStringLiteral("严 Yan"))}), 1);
    QVERIFY(m_db->isDirectoryAccount(QStringLiteral("yan")));
    const auto found = m_db->searchMembers(QStringLiteral("严"), 10);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().emailAddress, QStringLiteral("yan@company.test"));
    QCOMPARE(found.first().extension, QStringLiteral("7100"));
    // Its room key is not to be guessed, and no password opens it locally.
    QCOMPARE(found.first().roomKey.size(), 32);
    QVERIFY(!m_db->authenticate(QStringLiteral("yan"), QString()));
    // A new display name in the directory is the member's at the next reading.
    QCOMPARE(m_db->syncDirectory({person(QStringLiteral("yan"), QStringLiteral("Yan Li"))}), 1);
    QCOMPARE(m_db->searchMembers(QStringLiteral("Yan Li"), 10).size(), 1);
    // Disabled here, the person stays disabled through the directory's readings.
    QVERIFY(m_db->setDisabled(QStringLiteral("yan"), true));
    QCOMPARE(m_db->syncDirectory({person(QStringLiteral("yan"), QStringLiteral("Yan"))}), 1);
    QVERIFY(!m_db->activeAccount(QStringLiteral("yan")));
}

void TestDirectoryAccounts::localNamesStayLocal()
{
    QVERIFY(!m_db->storeDirectoryPerson(person(QStringLiteral("alice"), QStringLiteral("Eve"))));
    QVERIFY(!m_db->isDirectoryAccount(QStringLiteral("alice")));
    QVERIFY(m_db->authenticate(QStringLiteral("alice"), QStringLiteral("alice1234")));
    QVERIFY(m_db->searchMembers(QStringLiteral("Eve"), 10).isEmpty());
}

void TestDirectoryAccounts::peopleWhoLeftAreRemoved()
{
    QCOMPARE(m_db->syncDirectory({person(QStringLiteral("yan"), QStringLiteral("Yan")),
                                  person(QStringLiteral("zoe"), QStringLiteral("Zoe"))}),
             2);
    const qint64 zoe = m_db->account(QStringLiteral("zoe"))->entityID;
    QVERIFY(m_db->addContact(1001, zoe));
    QCOMPARE(m_db->syncDirectory({person(QStringLiteral("yan"), QStringLiteral("Yan"))}), 1);
    QVERIFY(!m_db->account(QStringLiteral("zoe")));
    QVERIFY(!m_db->entry(zoe));
    QVERIFY(!m_db->isContact(1001, zoe));
    QVERIFY(m_db->account(QStringLiteral("yan")));
    QVERIFY(m_db->account(QStringLiteral("alice"))); // local accounts are not the directory's
}

void TestDirectoryAccounts::rememberedSignInsFollowTheAccount_data()
{
    // What happens to a directory person whose sign-in the directory has just accepted.
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<bool>("gone"); ///< from the directory's next reading
    QTest::addColumn<bool>("counts");
    QTest::newRow("nothing") << false << false << true;
    QTest::newRow("disabled here") << true << false << false;
    QTest::newRow("gone from the directory") << false << true << false;
}

void TestDirectoryAccounts::rememberedSignInsFollowTheAccount()
{
    QFETCH(bool, disabled);
    QFETCH(bool, gone);
    QFETCH(bool, counts);
    const QString yan = QStringLiteral("yan");
    QCOMPARE(m_db->syncDirectory({person(yan, QStringLiteral("Yan"))}), 1);
    CredentialCache cache;
    const QByteArray key = cache.keyOf(yan, QStringLiteral("Yan-pass-1"));
    cache.remember(key, CredentialCache::stampOf(*m_db, yan));
    QVERIFY(cache.find(*m_db, key, yan));
    QVERIFY(!cache.find(*m_db, cache.keyOf(yan, QStringLiteral("Yan-pass-2")), yan));
    if (disabled)
        QVERIFY(m_db->setDisabled(yan, true));
    if (gone)
        QCOMPARE(m_db->syncDirectory({}), 0);
    QCOMPARE(bool(cache.find(*m_db, key, yan)), counts);
}

QTEST_MAIN(TestDirectoryAccounts)
#include "tst_directoryaccounts.moc"
