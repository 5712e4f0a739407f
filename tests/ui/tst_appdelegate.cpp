#include "app/UnixSignalWatcher.h"
#include "bridge/Helper.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/LiveModel.h"
#include "model/Preferences.h"
#include "net/StringHelper.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHost.h"
#include "tests/ui/UiHarness.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/live/PlayDirectLive.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/EnterByURLWindowController.h"
#include "ui/main/JoinProgressWindow.h"
#include "ui/main/LoginViewController.h"
#include "ui/settings/AllSetsWindowController.h"
#include "ui/widgets/AlertHelper.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMediaPlayer>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include <csignal>

namespace CR = ConfRecords;

/// The application delegate: links, calls, window routing, the tray and quitting.
class TestAppDelegate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void linksWhileSignedOut_data();
    void linksWhileSignedOut();
    void reopenWhileSignedOut_data();
    void reopenWhileSignedOut();
    void signIn();
    void linksWhileSignedIn_data();
    void linksWhileSignedIn();
    void incomingCall_data();
    void incomingCall();
    void conferenceRouting();
    void quitting();
    void networkLostInConference();
    void menuWithoutTray();
    void signOutFromTray();
    void signedInElsewhere();
    void terminationSignal();

private:
    AppDelegate *app() const { return m_app->delegate(); }
    ContactWindowController *mainWindow() const
    {
        return app()->loginVc()->contactWindowController();
    }
    static QString link(const QString &key, const QString &portal, const QString &pin,
                        int hours = 48)
    {
        const QDateTime expiry = QDateTime::currentDateTimeUtc();
        return QStringLiteral("orvale://join?key=%1&portal=%2&pin=%3&period=%4")
            .arg(StringHelper::base64(key), StringHelper::base64(portal), StringHelper::base64(pin),
                 Helper::getPeriodTime(expiry, hours));
    }
    /// The sheet shown now on `window`, if any.
    static QMessageBox *sheetOn(QWidget *window)
    {
        const auto boxes = window->findChildren<QMessageBox *>();
        for (QMessageBox *box : boxes)
            if (box->isVisible())
                return box;
        return nullptr;
    }
    static void press(QMessageBox *box, const QString &text)
    {
        for (QAbstractButton *button : box->buttons())
            if (button->text() == text)
                button->click();
    }
    QString portal() const
    {
        return QStringLiteral("http://%1:%2")
            .arg(testHost())
            .arg(m_app->services()->config().portalPort);
    }

    std::unique_ptr<UiHarness> m_app;
};

void TestAppDelegate::initTestCase()
{
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
}

void TestAppDelegate::init()
{
    m_app->launch();
    static const QByteArrayList signedOut{"linksWhileSignedOut", "reopenWhileSignedOut", "signIn"};
    if (signedOut.contains(QTest::currentTestFunction()))
        QVERIFY(!app()->applicationDockMenu()); // signed out: no dock menu
    else
        QVERIFY(m_app->signInAsDemo());
}

void TestAppDelegate::cleanup()
{
    QVERIFY(m_app->quit());
}

void TestAppDelegate::linksWhileSignedOut_data()
{
    QTest::addColumn<QString>("earlier"); // handled and its window hidden first
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("opens");
    QTest::newRow("a valid link") << "" << link("HallRoom2002", "http://p:1", "") << true;
    QTest::newRow("the same window again") << link("HallRoom2002", "http://p:1", "")
                                           << link("ReviewRoom2001", "http://p:2", "1234") << true;
    QTest::newRow("expired") << "" << link("HallRoom2002", "http://p:1", "", 0) << false;
    QTest::newRow("not ours") << ""
                              << "orvale://join?key=a&portal=b&s=1" << false;
    QTest::newRow("hostile") << ""
                             << "orvale://join?key=%%%&portal=<script>&pin=\n&period=@@@@" << false;
}

void TestAppDelegate::linksWhileSignedOut()
{
    QFETCH(QString, earlier);
    QFETCH(QString, link);
    QFETCH(bool, opens);
    if (!earlier.isEmpty()) {
        app()->handleURLEvent(earlier);
        QVERIFY(app()->enter());
        app()->enter()->hide();
        AppStatus::shareStatus()->setIsStartByWeb(false);
    }
    EnterByURLWindowController *before = app()->enter();
    app()->handleURLEvent(link);
    EnterByURLWindowController *enter = app()->enter();
    QCOMPARE(enter && enter->isVisible(), opens);
    QCOMPARE(AppStatus::shareStatus()->isStartByWeb(), opens);
    if (!opens)
        return;
    if (before)
        QCOMPARE(enter, before); // reused
    const QVariantMap parts = Helper::analyzingURLStr(link);
    QCOMPARE(enter->roomKey(), parts.value("key").toString());
    QCOMPARE(enter->confPortal(), parts.value("portal").toString());
    QCOMPARE(enter->pinNum(), parts.value("pin").toString());
    QVERIFY(app()->loginVc()->loginButton()->isEnabled()); // the login view is idle
}

void TestAppDelegate::reopenWhileSignedOut_data()
{
    QTest::addColumn<bool>("visibleWindows"); // what the desktop says of the application
    QTest::addColumn<bool>("shown");
    QTest::newRow("all windows hidden") << false << true;   // the login window comes back
    QTest::newRow("with visible windows") << true << false; // nothing happens
}

void TestAppDelegate::reopenWhileSignedOut()
{
    QFETCH(bool, visibleWindows);
    QFETCH(bool, shown);
    app()->window()->hide();
    QVERIFY(app()->applicationShouldHandleReopen(visibleWindows));
    QCOMPARE(app()->window()->isVisible(), shown);
}

void TestAppDelegate::signIn()
{
    // The login window gets its icon once it is on screen.
    QTRY_VERIFY(app()->window()->testAttribute(Qt::WA_SetWindowIcon));
    QVERIFY(m_app->signInAsDemo());
    QCOMPARE(app()->applicationDockMenu(), app()->dynamicMenue());
    QCOMPARE(app()->dynamicMenue()->actions().first()->text(), QStringLiteral("注销"));
    // The tray's own menu carries the dock menu's item.
    bool offered = false;
    for (QAction *action : app()->trayIcon()->contextMenu()->actions())
        offered = offered || action->text() == u"注销";
    QVERIFY(offered);
    QTRY_VERIFY(!AppUser::defaultUser()->displayName.isEmpty());
}

void TestAppDelegate::linksWhileSignedIn_data()
{
    QTest::addColumn<bool>("samePortal");
    QTest::newRow("the signed-in portal") << true;
    QTest::newRow("another portal") << false;
}

void TestAppDelegate::linksWhileSignedIn()
{
    QFETCH(bool, samePortal);
    FakeEngine::instance().reset();
    const QString linkPortal =
        samePortal ? AppUser::defaultUser()->httpPortal : QStringLiteral("http://elsewhere:1");
    app()->handleURLEvent(link(QStringLiteral("HallRoom2002"), linkPortal, QStringLiteral("9")));
    QVERIFY(!app()->enter() || !app()->enter()->isVisible());
    if (samePortal) {
        // Joined at once as a guest under the user's own name.
        QCOMPARE(FakeEngine::instance().calls(CR::EventGuestJoin).size(), 1);
        QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::Portal, CR::TextWidth),
                 linkPortal);
        QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::RoomKey,
                                     CR::GuestJoin::RoomKeyWidth),
                 QStringLiteral("HallRoom2002"));
        QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::DisplayName,
                                     CR::GuestJoin::DisplayNameWidth),
                 AppUser::defaultUser()->displayName);
        QCOMPARE(
            UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::Pin, CR::GuestJoin::PinWidth),
            QStringLiteral("9"));
        QVERIFY(mainWindow()->contactList()->joinConferenceProgressWindow()->isVisible());
        mainWindow()->contactList()->hideJoinConferenceProgressWindow();
        return;
    }
    QVERIFY(FakeEngine::instance().calls(CR::EventGuestJoin).isEmpty());
    QMessageBox *sheet = sheetOn(mainWindow());
    QVERIFY(sheet);
    QCOMPARE(sheet->informativeText(), QStringLiteral("登录地址不同,请注销后入会"));
    // A second link while the sheet is up does not stack another one.
    app()->handleURLEvent(link(QStringLiteral("HallRoom2002"), linkPortal, QString()));
    int sheets = 0;
    for (QMessageBox *box : mainWindow()->findChildren<QMessageBox *>())
        sheets += box->isVisible() ? 1 : 0;
    QCOMPARE(sheets, 1);
    press(sheet, QStringLiteral("确定"));
}

void TestAppDelegate::incomingCall_data()
{
    QTest::addColumn<QString>("answer"); // accept, decline, withdraw, auto
    // First, while no ring tone was ever played.
    QTest::newRow("answered automatically") << "auto";
    QTest::newRow("accepted") << "accept";
    QTest::newRow("declined") << "decline";
    QTest::newRow("withdrawn") << "withdraw";
}

void TestAppDelegate::incomingCall()
{
    QFETCH(QString, answer);
    FakeEngine::instance().reset();
    Preferences().setAutoAnswer(answer == u"auto" ? 1 : 0);
    ContactWindowController *main = mainWindow();
    QByteArray record = CR::zeroed(CR::Out::CallerNameWidth);
    CR::writeText(record, 0, CR::Out::CallerNameWidth, QStringLiteral("Alice 王丽"));
    FakeEngine::instance().fire(CR::OutIncomingCall, record);
    // The engine is told at once that the call rings.
    QCOMPARE(FakeEngine::instance().calls(CR::EventRinging).size(), 1);
    QCOMPARE(FakeEngine::instance().calls(CR::EventRinging).first().bytes, QByteArray(1, '\0'));
    QTRY_COMPARE(main->incomeCallName(), QStringLiteral("Alice 王丽"));
    JoinProgressWindow *progress = main->contactList()->joinConferenceProgressWindow();
    if (answer == u"auto") {
        QTRY_COMPARE(FakeEngine::instance().calls(CR::EventAcceptCall).size(), 1);
        QVERIFY(!main->alert());
        QVERIFY(!main->player()); // no ringing
        QVERIFY(progress->isVisible());
        progress->hideAndStop();
        return;
    }
    QTRY_VERIFY(main->alert());
    QMessageBox *prompt = main->alert();
    QCOMPARE(prompt->text(), QStringLiteral("Alice 王丽"));
    QCOMPARE(prompt->informativeText(), QStringLiteral("邀请你参加视频会议,是否入会?"));
    QCOMPARE(prompt->buttons().size(), 2);
    QVERIFY(main->player());
    QCOMPARE(main->player()->source(), QUrl(QStringLiteral("qrc:/sounds/alert.mp3")));
    if (answer == u"accept") {
        press(prompt, QStringLiteral("接受"));
        QCOMPARE(FakeEngine::instance().calls(CR::EventAcceptCall).size(), 1);
        QVERIFY(FakeEngine::instance().calls(CR::EventDeclineCall).isEmpty());
        QTRY_VERIFY(progress->isVisible()); // a tenth of a second later
        progress->hideAndStop();
    } else if (answer == u"decline") {
        press(prompt, QStringLiteral("取消"));
        QCOMPARE(FakeEngine::instance().calls(CR::EventDeclineCall).size(), 1);
        QVERIFY(FakeEngine::instance().calls(CR::EventAcceptCall).isEmpty());
    } else {
        FakeEngine::instance().fire(CR::OutIncomingCallTimeout);
        QTRY_COMPARE(FakeEngine::instance().calls(CR::EventDeclineCall).size(),
                     1); // the prompt ends declining
        QTRY_VERIFY(!main->alert());
        QMessageBox *missed = sheetOn(main);
        QVERIFY(missed);
        QCOMPARE(missed->text(), QStringLiteral("错过邀请"));
        QCOMPARE(missed->informativeText(), QStringLiteral("错过了来自Alice 王丽的会议邀请"));
        QCOMPARE(missed->buttons().size(), 1);
        press(missed, QStringLiteral("确定"));
    }
    QVERIFY(main->player()->playbackState() != QMediaPlayer::PlayingState);
}

void TestAppDelegate::conferenceRouting()
{
    // The live player is closed rather than hidden.
    PlayDirectLive player(std::make_shared<LiveModel>());
    player.show();
    QWidget other;
    other.show();
    ContactWindowController *main = mainWindow();
    QVERIFY(main->isVisible());
    FakeEngine::instance().reset();
    FakeEngine::instance().fire(CR::OutConferenceActive);
    JoinConferenceWindowController *conference = app()->joinWindow();
    QTRY_VERIFY(AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(conference->isVisible()); // brought back by the contact list
    QVERIFY(conference->controlWindowVc());
    QVERIFY(conference->controlWindowVc()->isVisible());
    QVERIFY(!main->isVisible());
    QVERIFY(!other.isVisible());
    QVERIFY(!player.isVisible());
    QVERIFY(!app()->applicationDockMenu()); // none during a conference
    // The engine learnt its name and the preview mode.
    QCOMPARE(UiHarness::sentText(CR::RequestSelfName, 4, 33), QStringLiteral("我"));
    QCOMPARE(FakeEngine::instance().calls(CR::EventPreviewMode).size(), 1);

    // A link during the call is refused with one alert on the conference window.
    QApplication::setActiveWindow(conference);
    const QString during =
        link(QStringLiteral("HallRoom2002"), AppUser::defaultUser()->httpPortal, QString());
    app()->handleURLEvent(during);
    QMessageBox *refusal = sheetOn(conference);
    QVERIFY(refusal);
    QCOMPARE(refusal->informativeText(), QStringLiteral("你正在会议中,请先退出会议!"));
    QApplication::setActiveWindow(refusal);
    app()->handleURLEvent(during); // the key window is a sheet: ignored
    int sheets = 0;
    for (QMessageBox *box : conference->findChildren<QMessageBox *>())
        sheets += box->isVisible() ? 1 : 0;
    QCOMPARE(sheets, 1);
    QVERIFY(FakeEngine::instance().calls(CR::EventGuestJoin).isEmpty());
    press(refusal, QStringLiteral("确定"));

    FakeEngine::instance().fire(CR::OutConferenceEnded);
    QTRY_VERIFY(!conference->isVisible());
    QVERIFY(!AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(main->isVisible()); // back to the main window
    QVERIFY(!conference->controlWindowVc());
    QCOMPARE(app()->applicationDockMenu(), app()->dynamicMenue());
}

void TestAppDelegate::quitting()
{
    FakeEngine::instance().reset();
    QCOMPARE(app()->applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);

    FakeEngine::instance().reset();
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_VERIFY(app()->joinWindow()->isVisible());
    QSignalSpy replies(app(), &AppDelegate::replyToApplicationShouldTerminate);
    QCOMPARE(app()->applicationShouldTerminate(), AppDelegate::TerminateReply::Later);
    QVERIFY(!app()->quitAlert()); // asked only after 0.4 seconds
    QTRY_VERIFY(app()->quitAlert());
    QCOMPARE(app()->quitAlert()->informativeText(), QStringLiteral("确定退出吗?"));
    press(app()->quitAlert(), QStringLiteral("取消"));
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.first().first().toBool(), false);
    QVERIFY(FakeEngine::instance().calls(CR::EventSignOut).isEmpty());
    QVERIFY(app()->joinWindow()->isVisible()); // the conference goes on

    // The menu's shortcuts work in the conference window, which has no menu bar: the settings
    // (the main window is hidden in a call) and quitting.
    QTRY_VERIFY(!app()->quitAlert()); // the answered one is gone
    QAction *quit = nullptr, *settings = nullptr;
    for (QAction *action : app()->joinWindow()->actions()) {
        if (action->text() == u"退出 Orvale") // the platform may know no quit key
            quit = action;
        if (action->shortcut() == QKeySequence(QStringLiteral("Ctrl+,")))
            settings = action;
    }
    QVERIFY(quit && settings);
    settings->trigger();
    const auto shownSettings = []() -> QWidget * {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<AllSetsWindowController *>(w) && w->isVisible())
                return w;
        return nullptr;
    };
    QTRY_VERIFY(shownSettings());
    shownSettings()->close();
    quit->trigger();
    QTRY_VERIFY(app()->quitAlert() && app()->quitAlert()->isVisible());
    QCOMPARE(app()->quitAlert()->informativeText(), QStringLiteral("确定退出吗?"));
    press(app()->quitAlert(), QStringLiteral("取消"));
    QCOMPARE(replies.size(), 2);
    QVERIFY(app()->joinWindow()->isVisible());

    QCOMPARE(app()->applicationShouldTerminate(), AppDelegate::TerminateReply::Later);
    QTRY_VERIFY(app()->quitAlert() && app()->quitAlert()->isVisible());
    press(app()->quitAlert(), QStringLiteral("确定"));
    QCOMPARE(replies.size(), 3);
    QCOMPARE(replies.last().first().toBool(), true);
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);
}

void TestAppDelegate::networkLostInConference()
{
    FakeEngine::instance().fire(CR::OutConferenceActive);
    JoinConferenceWindowController *conference = app()->joinWindow();
    QTRY_VERIFY(conference->isVisible());
    AppStatus::shareStatus()->reachabilityChanged(0);
    QMessageBox *alert = conference->contentViewController()->networkAlert();
    QVERIFY(alert);
    QCOMPARE(alert->informativeText(), QStringLiteral("网络连接好像断开了"));
    QVERIFY(mainWindow()->findChildren<QMessageBox *>().isEmpty() ||
            !sheetOn(mainWindow())); // the main window keeps quiet during a call
    FakeEngine::instance().reset();
    press(alert, QStringLiteral("确定"));
    QTRY_VERIFY(!conference->isVisible());
    QVERIFY(!AppStatus::shareStatus()->isInConference());
    QCOMPARE(FakeEngine::instance().calls(CR::EventLeave).size(), 1); // left the conference
    QTRY_VERIFY(mainWindow()->isVisible());
    AppStatus::shareStatus()->reachabilityChanged(2);
    // The tray's menu, opened now, offers the sign-out again.
    QMenu *tray = app()->trayIcon()->contextMenu();
    Q_EMIT tray->aboutToShow();
    bool offered = false;
    for (QAction *action : tray->actions())
        offered = offered || action->text() == u"注销";
    QVERIFY(offered);
}

void TestAppDelegate::menuWithoutTray()
{
    // The offscreen platform has no system tray, as stock GNOME has none.
    QVERIFY(!app()->hasTrayIcon());
    FakeEngine::instance().reset();
    ContactWindowController *main = mainWindow();
    QVERIFY(main->isVisible());
    QMenu *menu = main->menuBar()->actions().first()->menu();
    QVERIFY(menu);
    Q_EMIT menu->aboutToShow();
    QAction *signOut = nullptr;
    for (QAction *action : menu->actions())
        if (action->text() == u"注销")
            signOut = action;
    QVERIFY(signOut);
    QVERIFY(signOut->isVisible());
    // Closing the window from its title bar keeps the program, in the task bar.
    QVERIFY(!main->closeFromTitleBar());
    QVERIFY(main->isVisible());
    QVERIFY(main->isMinimized());
    QVERIFY(FakeEngine::instance().calls(CR::EventSignOut).isEmpty()); // no quitting either
    main->showNormal();
    signOut->trigger();
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);
    // During a call there is nothing to sign out from.
    AppStatus::shareStatus()->setIsInConference(true);
    Q_EMIT menu->aboutToShow();
    QVERIFY(!signOut->isVisible());
    AppStatus::shareStatus()->setIsInConference(false);
}

void TestAppDelegate::signOutFromTray()
{
    // A sign-out of cause 1 changes nothing.
    QByteArray cause1 = CR::zeroed(CR::Out::SignOutSize);
    cause1[CR::Out::SignOutCause] = 1;
    FakeEngine::instance().fire(CR::OutSignedOut, cause1);
    QVERIFY(UiHarness::settle());
    QVERIFY(AppStatus::shareStatus()->isSignIn());
    QVERIFY(mainWindow()->isVisible());
    FakeEngine::instance().reset();
    app()->resignDockAction();
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);
    UiHarness::fire(CR::OutSignedOut, 0, 12);
    QTRY_VERIFY(!AppStatus::shareStatus()->isSignIn());
    QVERIFY(!mainWindow()->isVisible());
    QVERIFY(app()->window()->isVisible());
    QVERIFY(!QFile::exists(AppUser::stroePath()));
    QTRY_VERIFY(!app()->applicationDockMenu());
}

void TestAppDelegate::signedInElsewhere()
{
    QByteArray record = CR::zeroed(12);
    CR::writeI32(record, 0, 2);
    FakeEngine::instance().fire(CR::OutSignedOut, record);
    QTRY_VERIFY(!AppStatus::shareStatus()->isSignIn());
    QTRY_VERIFY(sheetOn(app()->window()));
    QCOMPARE(sheetOn(app()->window())->informativeText(), QStringLiteral("账号在别处登陆"));
    QVERIFY(!mainWindow()->isVisible());
}

void TestAppDelegate::terminationSignal()
{
    QVERIFY(AppStatus::shareStatus()->isSignIn());
    FakeEngine::instance().reset();
    UnixSignalWatcher watcher({SIGTERM});
    connect(&watcher, &UnixSignalWatcher::signalReceived, app(),
            [this] { app()->quitFromOutside(); });
    QSignalSpy received(&watcher, &UnixSignalWatcher::signalReceived);
    ::raise(SIGTERM);
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.first().first().toInt(), SIGTERM);
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1); // signed out first
    ::raise(SIGTERM);                                                   // once is enough
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);
}

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
