#include "model/PasswordStore.h"
#include "model/Preferences.h"
#include "platform/KeychainBackend.h"
#include "tests/support/TestHome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>

/// The remembered password in the keychain, and the move of one an earlier version left in the
/// settings file.
class TestPasswordStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();
    void movesThePasswordOutOfTheSettings();
    void nothingAfterTheContextIsGone();

private:
    QString read()
    {
        QString result;
        bool done = false;
        QObject context;
        PasswordStore::readPassword(&context, [&](const QString &password) {
            result = password;
            done = true;
        });
        (void)QTest::qWaitFor([&] { return done; }, 10000);
        return result;
    }
    bool write(const QString &password)
    {
        bool ok = false, done = false;
        PasswordStore::writePassword(password, [&](bool kept) {
            ok = kept;
            done = true;
        });
        (void)QTest::qWaitFor([&] { return done; }, 10000);
        return ok;
    }

    KeychainBackend m_keychain;
};

void TestPasswordStore::initTestCase()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    if (!bus || !bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"))) {
        // scripts/test always provides one: there, its absence is a failure, not a skip.
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL("no Secret Service although scripts/test started one");
        QSKIP("no Secret Service: run the tests through scripts/test");
    }
    PasswordStore::setDesktopBackend(&m_keychain);
}

void TestPasswordStore::init()
{
    TestHome::clear();
    QVERIFY(write(QString()));
}

void TestPasswordStore::roundTrip_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("plain") << QStringLiteral("demo1234");
    QTest::newRow("unicode and symbols") << QStringLiteral("密码 p\"w<&>d\n");
    QTest::newRow("empty forgets") << QString();
}

void TestPasswordStore::roundTrip()
{
    QFETCH(QString, password);
    QVERIFY(write(QStringLiteral("earlier")));
    QVERIFY(write(password));
    QCOMPARE(read(), password.isEmpty() ? QString() : password);
    QVERIFY(Preferences().passWord().isEmpty()); // never in the settings file
}

void TestPasswordStore::movesThePasswordOutOfTheSettings()
{
    QVERIFY(write(QString()));
    Preferences().setPassWord(QStringLiteral("from an earlier version"));
    QCOMPARE(read(), QStringLiteral("from an earlier version"));
    QTRY_VERIFY(Preferences().passWord().isEmpty());
    QCOMPARE(read(), QStringLiteral("from an earlier version")); // now from the keychain
}

void TestPasswordStore::nothingAfterTheContextIsGone()
{
    QVERIFY(write(QStringLiteral("x")));
    bool called = false;
    auto *context = new QObject;
    PasswordStore::readPassword(context, [&](const QString &) { called = true; });
    delete context;
    // The keychain runs its jobs one after the other: once a later read has its answer, the
    // first one's has come and gone.
    QCOMPARE(read(), QStringLiteral("x"));
    QVERIFY(!called);
}

QTEST_MAIN(TestPasswordStore)
#include "tst_passwordstore.moc"
