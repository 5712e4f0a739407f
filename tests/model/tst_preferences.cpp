#include "Preferences.h"
#include "TestHome.h"

#include <QTest>

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void storedValues();
    void liveVolume_data();
    void liveVolume();
    void deploymentFollowsServerAddress();
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

void TestPreferences::deploymentFollowsServerAddress()
{
    TestHome home;
    Preferences prefs;
    prefs.setUserIp(QStringLiteral("127.0.0.5"));
    QCOMPARE(prefs.liveServiceUrl(), QStringLiteral("http://127.0.0.5:8080"));
    QCOMPARE(prefs.updateHost(), QStringLiteral("127.0.0.5"));
    prefs.setLiveServiceUrl(QStringLiteral("https://live.example"));
    QCOMPARE(prefs.liveServiceUrl(), QStringLiteral("https://live.example"));
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
