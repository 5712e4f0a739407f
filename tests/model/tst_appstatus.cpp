#include "model/AppStatus.h"
#include "model/ReachabilityService.h"
#include "platform/KeepAwake.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

/// Stands in for the desktop's screen-saver service on the test's session bus. Other test
/// processes share the bus and may call it too: only this process's calls count.
class FakeScreenSaver : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    QSet<uint> active;
    QString lastReason;

public Q_SLOTS:
    uint Inhibit(const QString &, const QString &reason)
    {
        if (!fromThisProcess())
            return 0;
        lastReason = reason;
        active.insert(++m_next);
        return m_next;
    }
    void UnInhibit(uint cookie)
    {
        if (fromThisProcess())
            active.remove(cookie);
    }
    /// Answered after every call this process sent before it: the bus keeps one sender's order.
    void Ping()
    {
        if (fromThisProcess())
            ++pings;
    }

public:
    int pings = 0;

private:
    bool fromThisProcess() const
    {
        return calledFromDBus() && message().service() == connection().baseService();
    }

private:
    uint m_next = 0;
};

/// Returns once every call this process has sent so far has reached `saver`.
static bool callsArrived(FakeScreenSaver &saver)
{
    const int before = saver.pings;
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"),
        QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Ping")));
    return QTest::qWaitFor([&] { return saver.pings > before; }, 10000);
}

class TestAppStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reachability_data();
    void reachability();
    void observersSeeStoredStatus();
    void reachabilityFromTheService();
    void keepAwake();
    void currentRometeUriFromAnotherThread();
    void chineseLanguage_data();
    void chineseLanguage();
    void conferenceSerial();
};

void TestAppStatus::reachability_data()
{
    QTest::addColumn<qint64>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown") << qint64(-1) << "未知";
    QTest::newRow("none") << qint64(0) << "没有网络";
    QTest::newRow("mobile") << qint64(1) << "3G|4G";
    QTest::newRow("wifi") << qint64(2) << "WiFi";
    QTest::newRow("out of range keeps the text") << qint64(7) << "WiFi";
}

void TestAppStatus::reachability()
{
    QFETCH(qint64, status);
    AppStatus *app = AppStatus::shareStatus();
    if (status == 7)
        app->reachabilityChanged(2);
    app->reachabilityChanged(status);
    QCOMPARE(app->networkStatus(), status);
    QTEST(app->networkStatusString(), "text");
}

void TestAppStatus::observersSeeStoredStatus()
{
    AppStatus *app = AppStatus::shareStatus();
    app->reachabilityChanged(2);
    qint64 seen = -2;
    QString seenText;
    QObject context;
    connect(app, &AppStatus::networkStatusChanged, &context, [&](qint64) {
        seen = app->networkStatus();
        seenText = app->networkStatusString();
    });
    app->reachabilityChanged(0);
    QCOMPARE(seen, qint64(0));
    QCOMPARE(seenText, QStringLiteral("没有网络"));
}

/// Stands in for the system's reachability watcher.
class FakeReachability final : public ReachabilityService
{
public:
    int watches = 0;
    Changed changed;

    bool watch(Changed callback) override
    {
        ++watches;
        changed = std::move(callback);
        changed(1);
        return true;
    }
};

void TestAppStatus::reachabilityFromTheService()
{
    AppStatus *app = AppStatus::shareStatus();
    app->reachabilityChanged(-1);
    FakeReachability service;
    app->setReachabilityService(&service);
    auto unplug = qScopeGuard([app] { app->setReachabilityService(nullptr); });
    app->networkChange();
    QCOMPARE(app->networkStatus(), qint64(1)); // the state at the start
    service.changed(0);
    QCOMPARE(app->networkStatus(), qint64(0));
    QCOMPARE(app->networkStatusString(), QStringLiteral("没有网络"));
    app->networkChange(); // watched once
    QCOMPARE(service.watches, 1);
}

void TestAppStatus::keepAwake()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL("no session bus although scripts/test started one");
        QSKIP("no session bus: run the tests through scripts/test");
    }
    FakeScreenSaver saver;
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                               QDBusConnection::ExportAllSlots));

    AppStatus *app = AppStatus::shareStatus();
    KeepAwake keepAwake;
    app->setKeepAwakeService(&keepAwake);
    auto unplug = qScopeGuard([app] { app->setKeepAwakeService(nullptr); });
    app->setIsInConference(true);
    QVERIFY(app->isInConference());
    QTRY_VERIFY(app->hasActivity());
    QCOMPARE(saver.active.size(), 1);
    QCOMPARE(saver.lastReason, QStringLiteral("play video"));

    // The live player closing as the conference starts keeps the display awake.
    // The activity is renewed (it never comes back once ended).
    app->setIsDirectLive(true);
    app->setIsDirectLive(false);
    QTRY_VERIFY(app->hasActivity());
    QTRY_COMPARE(saver.active.size(), 1);
    QVERIFY(app->isInConference());
    // Both flags false end it.
    app->setIsInConference(false);
    QTRY_VERIFY(saver.active.isEmpty());
    QVERIFY(!app->hasActivity());

    // A renewed activity replaces the earlier one instead of piling up.
    app->setIsDirectLive(true);
    app->setIsInConference(true);
    QTRY_VERIFY(app->hasActivity());
    QVERIFY(callsArrived(saver)); // the release of the one replaced has been sent by now
    QCOMPARE(saver.active.size(), 1);

    // Ending before the desktop has answered still releases what it then grants.
    app->setIsDirectLive(false);
    app->setIsInConference(true);
    app->setIsInConference(false);
    QVERIFY(callsArrived(saver)); // every inhibit has been granted: each answer releases it
    QTRY_VERIFY(saver.active.isEmpty());
    QVERIFY(!app->hasActivity());

    bus.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
    bus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
}

void TestAppStatus::currentRometeUriFromAnotherThread()
{
    AppStatus *app = AppStatus::shareStatus();
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            app->setCurrentRometeUri(QStringLiteral("uri-%1").arg(i));
        done = true;
    });
    while (!done)
        QVERIFY(app->currentRometeUri().isEmpty() || app->currentRometeUri().startsWith(u"uri-"));
    writer.join();
    QCOMPARE(app->currentRometeUri(), QStringLiteral("uri-1999"));
}

void TestAppStatus::chineseLanguage_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<bool>("chinese");
    QTest::newRow("zh") << "zh" << true;
    QTest::newRow("zh-CN, listed before zh-Hans-CN") << "zh-CN" << true;
    QTest::newRow("zh-TW") << "zh-TW" << true;
    QTest::newRow("zh-Hans-CN") << "zh-Hans-CN" << true;
    QTest::newRow("zh-Hant-HK") << "zh-Hant-HK" << true;
    QTest::newRow("zh_CN, POSIX spelling") << "zh_CN" << true;
    QTest::newRow("en-US") << "en-US" << false;
    QTest::newRow("ja-JP") << "ja-JP" << false;
    QTest::newRow("zu (Zulu) starts like zh") << "zu-ZA" << false;
    QTest::newRow("C") << "C" << false;
    QTest::newRow("empty") << "" << false;
}

void TestAppStatus::chineseLanguage()
{
    QFETCH(QString, tag);
    QTEST(AppStatus::isChineseLanguage(tag), "chinese");
}

void TestAppStatus::conferenceSerial()
{
    AppStatus *status = AppStatus::shareStatus();
    status->setIsInConference(false);
    const quint64 before = status->conferenceSerial();
    status->setIsInConference(true);
    QCOMPARE(status->conferenceSerial(), before + 1);
    status->setIsInConference(true); // still the same conference
    QCOMPARE(status->conferenceSerial(), before + 1);
    status->setIsInConference(false);
    QCOMPARE(status->conferenceSerial(), before + 1);
    status->setIsInConference(true);
    QCOMPARE(status->conferenceSerial(), before + 2);
    status->setIsInConference(false);
}

QTEST_GUILESS_MAIN(TestAppStatus)
#include "tst_appstatus.moc"
