#include "bridge/TRQClientInEvent.h"
#include "tests/support/RecordingDelegate.h"
#include "tests/support/TestHome.h"

#include <QTest>
#include <QWidget>

/// Under a real X server, the application's top-level windows are offered for sharing.
class TestShareWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowsAreShareSources();
};

void TestShareWindows::windowsAreShareSources()
{
    if (QGuiApplication::platformName() != u"xcb") {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL("no X11 display although the test runs under xvfb-run");
        QSKIP("needs an X11 display (the test runs under xvfb-run)");
    }
    TestHome home;
    RecordingDelegate delegate;
    QWidget window;
    window.setWindowTitle(QStringLiteral("共享这个窗口"));
    window.setGeometry(40, 50, 300, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TRQClientInEvent::ClientSyncRequestInit(&delegate, nullptr, QRect());
    // The window was made under this program's name; under another name the program takes
    // it for a window of another application.
    const QString ownName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("another-program"));

    std::shared_ptr<ScreenSourseModel> found;
    QTRY_VERIFY([&] {
        for (const auto &source : TRQClientInEvent::ClientSyncRequestGetShareList())
            if (source->appWindowName == u"共享这个窗口")
                found = source;
        return found != nullptr;
    }());
    QCOMPARE(found->appWindowId, qint64(window.winId()));
    QCOMPARE(found->confRect.width, 300u);
    QVERIFY(!found->appName.isEmpty());
    const auto sources = TRQClientInEvent::ClientSyncRequestGetShareList();
    QCOMPARE(sources.first()->appName, QStringLiteral("共享屏幕"));
    QCOMPARE(sources.last()->appName, QStringLiteral("取消"));
    const auto listed = [] {
        for (const auto &source : TRQClientInEvent::ClientSyncRequestGetShareList())
            if (source->appWindowName == u"共享这个窗口")
                return true;
        return false;
    };
    // The program's own windows are never offered.
    QCoreApplication::setApplicationName(ownName);
    QVERIFY(!listed());
    QCoreApplication::setApplicationName(QStringLiteral("another-program"));
    QVERIFY(listed());

    window.hide(); // an unmapped window is no share source
    QTRY_VERIFY([&] {
        for (const auto &source : TRQClientInEvent::ClientSyncRequestGetShareList())
            if (source->appWindowName == u"共享这个窗口")
                return false;
        return true;
    }());
}

QTEST_MAIN(TestShareWindows)
#include "tst_sharewindows.moc"
