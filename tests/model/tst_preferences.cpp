#include "model/Preferences.h"
#include "tests/support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

constexpr auto groupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                              QFileDevice::WriteOther | QFileDevice::ExeOther;

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void storedValues();
    void liveVolume_data();
    void liveVolume();
    void deploymentFollowsServerAddress_data();
    void deploymentFollowsServerAddress();
    void serversReachedSecurely_data();
    void serversReachedSecurely();
    void storeIsPrivate_data();
    void storeIsPrivate();
};

void TestPreferences::defaults()
{
    TestHome home;
    const Preferences prefs;
    QVERIFY(prefs.userIp().isEmpty());
    QVERIFY(prefs.passWord().isEmpty());
    QCOMPARE(prefs.remberPassword(), 0);
    QCOMPARE(prefs.autoLogin(), 0);
    QCOMPARE(prefs.enableEchoCancellation(), 1);
    QCOMPARE(prefs.enableAudioAGC(), 1);
    QCOMPARE(prefs.searchOutsideRoom(), 0);
    QCOMPARE(prefs.autoAnswer(), 0);
    QCOMPARE(prefs.alwaysUseProxy(), 0);
    QCOMPARE(prefs.videoPreferences(), 0);
    QCOMPARE(prefs.selectedCameraDeviceNumber(), 0u);
    QCOMPARE(prefs.directLiveVolume(), 0.618);
    QCOMPARE(prefs.systemTime(), qint64(0));
    QVERIFY(prefs.liveServiceUrl().isEmpty());
}

void TestPreferences::storedValues()
{
    TestHome home;
    {
        Preferences prefs;
        prefs.setUserIp(QStringLiteral("10.1.2.3"));
        prefs.setEnableAudioAGC(0);
        prefs.setSelectedMicDeviceNumber(3);
        prefs.setSystemTime(1700000000);
        prefs.sync();
    }
    const Preferences again;
    QCOMPARE(again.userIp(), QStringLiteral("10.1.2.3"));
    QCOMPARE(again.enableAudioAGC(), 0);
    QCOMPARE(again.selectedMicDeviceNumber(), 3u);
    QCOMPARE(again.systemTime(), qint64(1700000000));
}

void TestPreferences::liveVolume_data()
{
    QTest::addColumn<double>("stored");
    QTest::addColumn<double>("volume");
    QTest::addColumn<double>("startVolume");
    QTest::newRow("zero opens at the default") << 0.0 << 0.0 << 0.618;
    QTest::newRow("half") << 0.5 << 0.5 << 0.5;
    QTest::newRow("above one is cut") << 3.0 << 1.0 << 1.0;
}

void TestPreferences::liveVolume()
{
    TestHome home;
    Preferences prefs;
    QFETCH(double, stored);
    prefs.setDirectLiveVolume(stored);
    QTEST(prefs.directLiveVolume(), "volume");
    QTEST(prefs.directLiveStartVolume(), "startVolume");
}

void TestPreferences::deploymentFollowsServerAddress_data()
{
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("updateHost");
    QTest::addColumn<QString>("live");
    QTest::addColumn<QString>("version");
    QTest::newRow("plain sign-in") << false << ""
                                   << "http://127.0.0.5:8080"
                                   << "http://127.0.0.5:8080";
    QTest::newRow("secure sign-in") << true << ""
                                    << "https://127.0.0.5:9090"
                                    << "https://127.0.0.5:9090";
    QTest::newRow("secure sign-in, another update host") << true << "updates.example"
                                                         << "https://127.0.0.5:9090"
                                                         << "http://updates.example:8080";
}

void TestPreferences::deploymentFollowsServerAddress()
{
    QFETCH(bool, secure);
    QFETCH(QString, updateHost);
    TestHome home;
    Preferences prefs;
    prefs.setUserIp(QStringLiteral("127.0.0.5"));
    prefs.setSignedInSecurely(secure);
    if (!updateHost.isEmpty())
        prefs.setUpdateHost(updateHost);
    QTEST(prefs.liveServiceUrl(), "live");
    QTEST(prefs.webServiceBase(prefs.updateHost()), "version");
    prefs.setLiveServiceUrl(QStringLiteral("http://live.example"));
    QCOMPARE(prefs.liveServiceUrl(), QStringLiteral("http://live.example"));
}

void TestPreferences::serversReachedSecurely_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("lastSignInSecure"); // the last sign-in, to 10.0.0.2, went over HTTPS
    QTest::addColumn<bool>("reached");
    QTest::newRow("the server that answered over HTTPS") << "login.example" << false << true;
    QTest::newRow("the same, typed with capitals and blanks") << " LOGIN.Example " << false << true;
    QTest::newRow("the server signed in to over plain HTTP") << "10.0.0.2" << false << false;
    QTest::newRow("the same, its last sign-in over HTTPS") << "10.0.0.2" << true << true;
    QTest::newRow("a server never contacted") << "10.0.0.3" << true << false;
    QTest::newRow("no address") << "" << true << false;
}

void TestPreferences::serversReachedSecurely()
{
    QFETCH(QString, address);
    QFETCH(bool, lastSignInSecure);
    QFETCH(bool, reached);
    TestHome home;
    {
        Preferences prefs;
        prefs.rememberReachedSecurely(QStringLiteral("login.example"));
        prefs.setUserIp(QStringLiteral("10.0.0.2"));
        prefs.setSignedInSecurely(lastSignInSecure);
        prefs.sync();
    }
    const Preferences again; // as at the next start
    QCOMPARE(again.reachedSecurely(address), reached);
    // The web services of a server reached securely are reached over HTTPS too.
    QCOMPARE(again.webServiceBase(address.trimmed()).startsWith(QLatin1String("https://")),
             reached);
}

void TestPreferences::storeIsPrivate_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("first start") << false;
    QTest::newRow("readable file of an earlier version") << true;
}

void TestPreferences::storeIsPrivate()
{
    QFETCH(bool, existing);
    TestHome home;
    // QSettings settles on its folder at its first use in the process.
    const QString path = QSettings(QStringLiteral("Orvale"), QStringLiteral("orvale")).fileName();
    QFile::remove(path);
    if (existing) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nUser_Ip=10.0.0.1\n");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    for (const QString &address : {QStringLiteral("10.1.2.3"), QStringLiteral("10.4.5.6")}) {
        Preferences prefs;
        prefs.setUserIp(address);
        prefs.sync();
        QVERIFY(QFileInfo(path).isFile());
        QCOMPARE(QFile::permissions(path) & groupOrOther, QFileDevice::Permissions());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(address.toLatin1())); // written to that very file
    }
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
