#include "services/DemoData.h"
#include "services/ServiceDatabase.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

/// The deployment's store as the account commands and the demo data use it.
class TestServiceDatabase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failedDemoLoadLeavesNothing();
    void disabledAccountIsRefused_data();
    void disabledAccountIsRefused();
    void olderDatabaseGainsDisabledColumn();

private:
    QString path() const { return m_dir.filePath(QStringLiteral("orvale.sqlite")); }
    QTemporaryDir m_dir;
};

void TestServiceDatabase::failedDemoLoadLeavesNothing()
{
    ServiceDatabase db;
    QString error;
    QVERIFY2(db.open(path(), true, &error), qPrintable(error));
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
    QTest::newRow("enabled") << false << true;
    QTest::newRow("disabled") << true << false;
}

void TestServiceDatabase::disabledAccountIsRefused()
{
    QFETCH(bool, disabled);
    QFETCH(bool, accepted);
    ServiceDatabase db;
    QString error;
    QVERIFY2(db.open(path(), true, &error), qPrintable(error));
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

void TestServiceDatabase::olderDatabaseGainsDisabledColumn()
{
    {
        auto old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        old.setDatabaseName(path());
        QVERIFY(old.open());
        QSqlQuery q(old);
        QVERIFY(q.exec(QStringLiteral("DROP TABLE IF EXISTS accounts")));
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TABLE accounts(userName TEXT PRIMARY KEY, entityID INTEGER NOT NULL UNIQUE,"
            " salt BLOB NOT NULL, hash BLOB NOT NULL, coId TEXT NOT NULL DEFAULT '',"
            " userRole INTEGER NOT NULL DEFAULT 0, play INTEGER NOT NULL DEFAULT 0,"
            " version INTEGER NOT NULL DEFAULT 3, period INTEGER NOT NULL DEFAULT 48)")));
        old.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    ServiceDatabase db;
    QString error;
    QVERIFY2(db.open(path(), false, &error), qPrintable(error));
    Account account;
    account.userName = QStringLiteral("liam");
    account.entityID = 1001;
    QVERIFY(db.addAccount(account, QStringLiteral("liam-secret")));
    QVERIFY(db.authenticate(QStringLiteral("liam"), QStringLiteral("liam-secret")));
}

QTEST_GUILESS_MAIN(TestServiceDatabase)
#include "tst_servicedatabase.moc"
