#include "app/AppDelegate.h"
#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/Preferences.h"
#include "tests/support/PortalStandIn.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "tests/support/TrayHostStandIn.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/settings/AllSetsWindowController.h"
#include "ui/widgets/Popover.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <limits>

/// The real client as a native Wayland client of a headless Weston (tests/support/weston-run),
/// with no X11 display to fall back on: signing in, the main window, the settings and a
/// conference, whose control bar is part of the conference window there.
class TestWaylandEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void session();
    void cleanupTestCase();

private:
    // The steps of one session, each starting where the one before ended.
    void signIn();
    void settings();
    void conference();
    ContactWindowController *mainWindow() const
    {
        return m_app->loginVc()->contactWindowController();
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<AppDelegate> m_app;
    /// The desktop's screen-cast portal, on a thread of its own: the engine asks it while the
    /// application's thread waits.
    PortalStandIn m_portal;
    TrayHostStandIn m_tray;
    QThread m_portalThread;
};

void TestWaylandEndToEnd::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
    m_portal.moveToThread(&m_portalThread);
    m_tray.moveToThread(&m_portalThread);
    m_portalThread.start();
    QVERIFY(m_portal.serve(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"))));
    QVERIFY(m_tray.serve(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("tray"))));
    QVERIFY(JoinConferenceWindowController::controlBarInside());
    m_home = std::make_unique<TestHome>();
    // The deployment announces a release: keep its prompt off the windows under test.
    Preferences().setSystemTime(std::numeric_limits<qint64>::max());
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
    m_app = std::make_unique<AppDelegate>();
    m_app->applicationDidFinishLaunching();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->engineStarted(), 15000); // once the login window has painted
    QVERIFY(QTest::qWaitForWindowExposed(m_app->window(), 15000));
}

void TestWaylandEndToEnd::session()
{
    using Self = TestWaylandEndToEnd;
    for (const auto step : {&Self::signIn, &Self::settings, &Self::conference}) {
        (this->*step)();
        if (QTest::currentTestFailed())
            return;
    }
}

void TestWaylandEndToEnd::cleanupTestCase()
{
    m_portalThread.quit();
    m_portalThread.wait();
}

void TestWaylandEndToEnd::signIn()
{
    LoginViewController *login = m_app->loginVc();
    QTest::keyClicks(login->ipField(), m_services->host());
    QTest::keyClicks(login->nameField(), QStringLiteral("demo"));
    QTest::keyClicks(login->passField(), QStringLiteral("demo1234"));
    QTest::mouseClick(login->loginButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && mainWindow()->isVisible(), 20000);
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow(), 15000));
    QTRY_VERIFY_WITH_TIMEOUT(!mainWindow()->contactList()->contactsArray().isEmpty(), 15000);
    // The tray icon goes through the desktop's StatusNotifier host, as on X11.
    QTRY_VERIFY(m_app->hasTrayIcon());
    QTRY_VERIFY(m_tray.registrations() > 0);
}

void TestWaylandEndToEnd::settings()
{
    m_app->showConfigPanel();
    AllSetsWindowController *settings = m_app->allSets();
    QVERIFY(settings && settings->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(settings, 15000));
    settings->close();
    QTRY_VERIFY(!settings->isVisible());
}

void TestWaylandEndToEnd::conference()
{
    ContactListViewController *list = mainWindow()->contactList();
    const int hall = list->rowOf(QStringLiteral("全员大会堂"));
    QVERIFY(hall > 0);
    QListWidget *table = list->tableView();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(hall)).center());
    QTest::mouseClick(list->contactDetailVc()->joinConferenceButton(), Qt::LeftButton);
    JoinConferenceWindowController *window = JoinConferenceWindowController::sharedJoinWindow();
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible() && window->controlWindowVc(), 20000);
    QVERIFY(QTest::qWaitForWindowExposed(window, 15000));
    QTRY_COMPARE_WITH_TIMEOUT(window->contentViewController()->titleLabel()->text(),
                              QStringLiteral("在全员大会堂的房间里(1人)"), 15000);

    // The bar is a visible child laid over the conference window, in front of the video area,
    // not a top-level window the compositor would place on its own.
    ControlWindowController *bar = window->controlWindowVc();
    QTRY_VERIFY(bar->isVisible());
    QVERIFY(!bar->isWindow());
    QCOMPARE(bar->window(), window);
    QVERIFY(!QApplication::topLevelWidgets().contains(bar));
    QVERIFY(window->rect().contains(bar->geometry()));
    QVERIFY(bar->isAncestorOf(window->childAt(bar->micButton()->geometry().center() + bar->pos())));

    // The same bar with the same behaviour: the microphone toggles.
    QCOMPARE(bar->imageOf(bar->micButton()), QStringLiteral("mic_on"));
    QTest::mouseClick(bar->micButton(), Qt::LeftButton);
    QTRY_COMPARE(bar->imageOf(bar->micButton()), QStringLiteral("mic_off"));

    // The share list opens as a pop-up of the window and offers what the desktop's portal
    // offers, a screen and a window, not the X11 list that has no display to ask here.
    QTest::mouseClick(bar->shareButton(), Qt::LeftButton);
    QTRY_VERIFY(bar->sharePopover() && bar->sharePopover()->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(bar->sharePopover(), 15000));
    QCOMPARE(TRQClientInEvent::ClientSyncRequestGetShareList().size(), 3); // and the last row
    const QString shots = qEnvironmentVariable("ORVALE_SCREENSHOT_DIR");
    if (!shots.isEmpty())
        QVERIFY(bar->sharePopover()->grab().save(
            QDir(shots).filePath(QStringLiteral("wayland-share-list.png"))));
    bar->sharePopover()->close();
    QTRY_VERIFY(!bar->sharePopover()->isVisible());

    if (!shots.isEmpty())
        QVERIFY(
            window->grab().save(QDir(shots).filePath(QStringLiteral("wayland-conference.png"))));

    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow()->isVisible(), 15000);
    QTRY_VERIFY(!AppStatus::shareStatus()->isInConference());
}

QTEST_MAIN(TestWaylandEndToEnd)
#include "tst_wayland_e2e.moc"
