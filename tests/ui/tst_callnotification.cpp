#include "bridge/Helper.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "net/StringHelper.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHost.h"
#include "tests/ui/UiHarness.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/EnterByURLWindowController.h"
#include "ui/main/IncomingCallNotification.h"
#include "ui/main/JoinProgressWindow.h"
#include "ui/main/LoginViewController.h"
#include "ui/widgets/AlertHelper.h"

#include <QAbstractButton>
#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

namespace CR = ConfRecords;

namespace {

const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

/// Stands in for the desktop's notification server on the test's session bus. It answers
/// only this process: other tests on the same bus get an error, as without a server.
class FakeNotifications : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown
    {
        quint32 id = 0;
        QString application;
        quint32 replaces = 0;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        qint32 timeout = -1;
    };

    QList<Shown> shown;
    QList<quint32> closed;
    int actionsDelivered = 0; ///< ActionInvoked signals come back from the bus to this process

    /// Listens to its own action signals, which reach the client in the same turn.
    bool listen()
    {
        return QDBusConnection::sessionBus().connect(
            QString(), notificationsPath, notificationsService, QStringLiteral("ActionInvoked"),
            this, SLOT(actionDelivered()));
    }
    /// What a click on an action button of the notification sends; true once the client has
    /// had it.
    bool invoke(quint32 id, const QString &action)
    {
        const int before = actionsDelivered;
        emitSignal(QStringLiteral("ActionInvoked"), {QVariant::fromValue(id), action});
        return QTest::qWaitFor([&] { return actionsDelivered > before; });
    }
    /// What the user's dismissing it on the desktop sends.
    void dismiss(quint32 id)
    {
        emitSignal(QStringLiteral("NotificationClosed"),
                   {QVariant::fromValue(id), QVariant::fromValue(quint32(2))});
    }

public Q_SLOTS:
    uint Notify(const QString &application, uint replaces, const QString &icon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int timeout)
    {
        if (!fromThisProcess())
            return 0;
        shown.append(
            {m_nextId, application, replaces, icon, summary, body, actions, hints, timeout});
        return m_nextId++;
    }
    void CloseNotification(uint id)
    {
        if (!fromThisProcess())
            return;
        closed.append(id);
        emitSignal(QStringLiteral("NotificationClosed"),
                   {QVariant::fromValue(id), QVariant::fromValue(quint32(3))});
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

private Q_SLOTS:
    void actionDelivered() { ++actionsDelivered; }

private:
    bool fromThisProcess()
    {
        if (calledFromDBus() && message().service() == connection().baseService())
            return true;
        sendErrorReply(QDBusError::AccessDenied, QStringLiteral("a test's own server"));
        return false;
    }
    static void emitSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(notificationsPath, notificationsService, name);
        signal.setArguments(arguments);
        QDBusConnection::sessionBus().send(signal);
    }

    quint32 m_nextId = 41;
};

/// Incoming calls on the desktop: the notification and its actions, and windows that come back
/// from the task bar whenever they are brought forward.
class TestCallNotification : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void minimisedWhileSignedOut_data();
    void minimisedWhileSignedOut();
    void notification_data();
    void notification();
    void withdrawnAtOnce();
    void withoutServer();
    void minimisedMainWindow_data();
    void minimisedMainWindow();
    void minimisedConferenceWindow();
    void cleanup();
    void cleanupTestCase();

private:
    AppDelegate *app() const { return m_app->delegate(); }
    ContactWindowController *mainWindow() const
    {
        return app()->loginVc()->contactWindowController();
    }
    static QString link(const QString &portal)
    {
        return QStringLiteral("orvale://join?key=%1&portal=%2&pin=&period=%3")
            .arg(StringHelper::base64(QStringLiteral("HallRoom2002")), StringHelper::base64(portal),
                 Helper::getPeriodTime(QDateTime::currentDateTimeUtc(), 48));
    }
    static void fireCall(const QString &caller)
    {
        QByteArray record = CR::zeroed(CR::Out::CallerNameWidth);
        CR::writeText(record, 0, CR::Out::CallerNameWidth, caller);
        FakeEngine::instance().fire(CR::OutIncomingCall, record);
    }
    static void press(QMessageBox *box, const QString &text)
    {
        for (QAbstractButton *button : box->buttons())
            if (button->text() == text)
                button->click();
    }
    static QMessageBox *sheetOn(QWidget *window)
    {
        for (QMessageBox *box : window->findChildren<QMessageBox *>())
            if (box->isVisible())
                return box;
        return nullptr;
    }
    void showFromTray() const
    {
        QMenu *menu = app()->trayIcon()->contextMenu();
        Q_EMIT menu->aboutToShow();
        for (QAction *action : menu->actions())
            if (action->text() == u"显示窗口")
                action->trigger();
    }
    bool registerServer();
    void unregisterServer();

    std::unique_ptr<UiHarness> m_app;
    FakeNotifications m_server;
};

bool TestCallNotification::registerServer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerService(notificationsService) &&
           bus.registerObject(notificationsPath, &m_server, QDBusConnection::ExportAllSlots);
}

void TestCallNotification::unregisterServer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(notificationsPath);
    bus.unregisterService(notificationsService);
}

void TestCallNotification::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected()) {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL("no session bus although scripts/test started one");
        QSKIP("no session bus: run the tests through scripts/test");
    }
    QVERIFY(m_server.listen());
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
}

void TestCallNotification::init()
{
    // A case may have taken the desktop's notification service away.
    unregisterServer();
    QVERIFY(registerServer());
    m_server.shown.clear();
    m_server.closed.clear();
    m_app->launch();
    if (QByteArray(QTest::currentTestFunction()) != "minimisedWhileSignedOut")
        QVERIFY(m_app->signInAsDemo());
}

void TestCallNotification::minimisedWhileSignedOut_data()
{
    QTest::addColumn<QString>("path"); // reopen, link
    QTest::newRow("tray or second launch: the login window") << "reopen";
    QTest::newRow("a link handed over: the join window") << "link";
}

void TestCallNotification::minimisedWhileSignedOut()
{
    QFETCH(QString, path);
    QWidget *window = app()->window();
    if (path == u"link") {
        app()->handleURLEvent(link(QStringLiteral("http://p:1")));
        window = app()->enter();
        QVERIFY(window);
    }
    window->showMinimized();
    QVERIFY(window->isMinimized());
    if (path == u"link")
        app()->handleURLEvent(link(QStringLiteral("http://p:2")));
    else
        QVERIFY(app()->applicationShouldHandleReopen(false));
    QVERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
}

void TestCallNotification::notification_data()
{
    QTest::addColumn<QString>("ending"); // how the call ends
    QTest::addColumn<bool>("accepts");
    QTest::addColumn<bool>("declines");
    QTest::addColumn<bool>("closes"); // the client withdraws the notification
    QTest::newRow("接听 on the desktop") << "accept action" << true << false << true;
    QTest::newRow("拒绝 on the desktop") << "decline action" << false << true << true;
    QTest::newRow("接受 in the window") << "accept button" << true << false << true;
    QTest::newRow("取消 in the window") << "decline button" << false << true << true;
    QTest::newRow("withdrawn by the caller") << "withdrawn" << false << true << true;
    QTest::newRow("an unknown action") << "unknown action" << false << true << true;
    // Dismissed on the desktop: the window still asks, and nothing is left to withdraw.
    QTest::newRow("dismissed on the desktop") << "dismissed" << false << true << false;
}

void TestCallNotification::notification()
{
    QFETCH(QString, ending);
    QFETCH(bool, accepts);
    QFETCH(bool, declines);
    QFETCH(bool, closes);
    ContactWindowController *main = mainWindow();
    IncomingCallNotification *notification = main->callNotification();
    m_server.shown.clear();
    m_server.closed.clear();
    FakeEngine::instance().reset();
    QSignalSpy shown(notification, &IncomingCallNotification::shown);

    fireCall(QStringLiteral("Alice 王丽"));
    QTRY_VERIFY(main->alert());
    QMessageBox *prompt = main->alert();
    QVERIFY(shown.wait());
    QCOMPARE(m_server.shown.size(), 1);
    const FakeNotifications::Shown note = m_server.shown.first();
    QCOMPARE(notification->notificationId(), std::optional<quint32>(note.id));
    QCOMPARE(note.summary, QStringLiteral("Alice 王丽"));
    QCOMPARE(note.body, QStringLiteral("邀请你参加视频会议,是否入会?"));
    const QStringList actions{IncomingCallNotification::acceptAction(), QStringLiteral("接听"),
                              IncomingCallNotification::declineAction(), QStringLiteral("拒绝")};
    QCOMPARE(note.actions, actions);
    QCOMPARE(note.hints.value(QStringLiteral("urgency")).metaType(), QMetaType::fromType<uchar>());
    QCOMPARE(note.hints.value(QStringLiteral("urgency")).toInt(), 2);
    QCOMPARE(note.hints.value(QStringLiteral("category")).toString(),
             QStringLiteral("call.incoming"));
    QCOMPARE(note.icon, QStringLiteral("orvale"));
    QCOMPARE(note.replaces, 0u);
    QCOMPARE(note.timeout, 0); // stays until the call is answered or withdrawn
    QVERIFY(m_server.closed.isEmpty());

    if (ending == u"accept action") {
        QVERIFY(m_server.invoke(note.id, IncomingCallNotification::acceptAction()));
    } else if (ending == u"decline action") {
        QVERIFY(m_server.invoke(note.id, IncomingCallNotification::declineAction()));
    } else if (ending == u"accept button") {
        press(prompt, QStringLiteral("接受"));
    } else if (ending == u"decline button") {
        press(prompt, QStringLiteral("取消"));
    } else if (ending == u"withdrawn") {
        FakeEngine::instance().fire(CR::OutIncomingCallTimeout);
    } else if (ending == u"unknown action") {
        // Neither another notification's action nor an unknown one answers the call.
        QVERIFY(m_server.invoke(note.id + 100, IncomingCallNotification::acceptAction()));
        QVERIFY(m_server.invoke(note.id, QStringLiteral("default")));
        QVERIFY(prompt->isVisible());
        QVERIFY(FakeEngine::instance().calls(CR::EventAcceptCall).isEmpty());
        press(prompt, QStringLiteral("取消"));
    } else if (ending == u"dismissed") {
        m_server.dismiss(note.id);
        QTRY_VERIFY(!notification->notificationId());
        QVERIFY(prompt->isVisible());
        press(prompt, QStringLiteral("取消"));
    }

    if (accepts)
        QTRY_COMPARE(FakeEngine::instance().calls(CR::EventAcceptCall).size(), 1);
    if (declines)
        QTRY_COMPARE(FakeEngine::instance().calls(CR::EventDeclineCall).size(), 1);
    QTRY_VERIFY(!main->alert());
    // The answer goes out once, whichever way it was given.
    QCOMPARE(FakeEngine::instance().calls(CR::EventAcceptCall).size(), accepts ? 1 : 0);
    QCOMPARE(FakeEngine::instance().calls(CR::EventDeclineCall).size(), declines ? 1 : 0);
    if (closes)
        QTRY_COMPARE(m_server.closed, QList<quint32>{note.id});
    QVERIFY(!notification->notificationId());
    // A late click on the finished notification answers nothing.
    QVERIFY(m_server.invoke(note.id, IncomingCallNotification::acceptAction()));
    QCOMPARE(FakeEngine::instance().calls(CR::EventAcceptCall).size(), accepts ? 1 : 0);
    if (!closes)
        QVERIFY(m_server.closed.isEmpty());

    if (accepts) {
        JoinProgressWindow *progress = main->contactList()->joinConferenceProgressWindow();
        QTRY_VERIFY(progress->isVisible()); // as after the alert's own button
        progress->hideAndStop();
    }
    if (ending == u"withdrawn") {
        QMessageBox *missed = sheetOn(main);
        QVERIFY(missed);
        QCOMPARE(missed->text(), QStringLiteral("错过邀请"));
        press(missed, QStringLiteral("确定"));
    }
}

void TestCallNotification::withdrawnAtOnce()
{
    ContactWindowController *main = mainWindow();
    m_server.shown.clear();
    m_server.closed.clear();
    FakeEngine::instance().reset();
    // Both reach the main thread before the desktop has answered the first request.
    fireCall(QStringLiteral("Dave"));
    FakeEngine::instance().fire(CR::OutIncomingCallTimeout);
    QTRY_COMPARE(FakeEngine::instance().calls(CR::EventDeclineCall).size(), 1);
    QTRY_COMPARE(m_server.shown.size(), 1);
    // The notification granted after the withdrawal is closed as soon as its id is known.
    QTRY_COMPARE(m_server.closed, QList<quint32>{m_server.shown.first().id});
    QVERIFY(!main->callNotification()->notificationId());
    QMessageBox *missed = sheetOn(main);
    QVERIFY(missed);
    press(missed, QStringLiteral("确定"));
}

void TestCallNotification::withoutServer()
{
    unregisterServer();
    ContactWindowController *main = mainWindow();
    FakeEngine::instance().reset();
    m_server.shown.clear();
    fireCall(QStringLiteral("Bob"));
    QTRY_VERIFY(main->alert());
    QMessageBox *prompt = main->alert();
    press(prompt, QStringLiteral("接受"));
    QCOMPARE(FakeEngine::instance().calls(CR::EventAcceptCall).size(), 1);
    JoinProgressWindow *progress = main->contactList()->joinConferenceProgressWindow();
    QTRY_VERIFY(progress->isVisible());
    progress->hideAndStop();
    QVERIFY(m_server.shown.isEmpty());
    QVERIFY(!main->callNotification()->notificationId());
}

void TestCallNotification::minimisedMainWindow_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("显示窗口 of the tray") << "tray";
    QTest::newRow("a second launch") << "reopen";
    QTest::newRow("a link of another portal") << "link";
    QTest::newRow("an incoming call") << "call";
}

void TestCallNotification::minimisedMainWindow()
{
    QFETCH(QString, path);
    ContactWindowController *main = mainWindow();
    FakeEngine::instance().reset();
    main->showMinimized();
    QVERIFY(main->isMinimized());
    if (path == u"tray")
        showFromTray();
    else if (path == u"reopen")
        QVERIFY(app()->applicationShouldHandleReopen(false));
    else if (path == u"link")
        app()->handleURLEvent(link(QStringLiteral("http://elsewhere:1")));
    else
        fireCall(QStringLiteral("Carol"));
    QTRY_VERIFY(!main->isMinimized());
    QVERIFY(main->isVisible());
    if (path == u"link") {
        QMessageBox *sheet = sheetOn(main);
        QVERIFY(sheet);
        press(sheet, QStringLiteral("确定"));
    } else if (path == u"call") {
        QVERIFY(main->alert());
        press(main->alert(), QStringLiteral("取消"));
        QCOMPARE(FakeEngine::instance().calls(CR::EventDeclineCall).size(), 1);
    }
}

void TestCallNotification::minimisedConferenceWindow()
{
    ContactWindowController *main = mainWindow();
    JoinConferenceWindowController *conference = app()->joinWindow();
    FakeEngine::instance().reset();
    main->showMinimized(); // the main window waits in the task bar through the call
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_VERIFY(AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(conference->isVisible());
    for (const QString &path : {QStringLiteral("reopen"), QStringLiteral("link")}) {
        conference->showMinimized();
        QVERIFY(conference->isMinimized());
        if (path == u"reopen") {
            QVERIFY(app()->applicationShouldHandleReopen(false));
        } else {
            // The refusal is a sheet of the conference window, which must be seen for it.
            app()->handleURLEvent(link(AppUser::defaultUser()->httpPortal));
            QMessageBox *refusal = sheetOn(conference);
            QVERIFY(refusal);
            QCOMPARE(refusal->informativeText(), QStringLiteral("你正在会议中,请先退出会议!"));
            press(refusal, QStringLiteral("确定"));
        }
        QVERIFY2(!conference->isMinimized(), qPrintable(path));
        QVERIFY(conference->isVisible());
    }
    // The call ends while its window is minimised: the main window comes back restored, and
    // so does the conference window at the next call.
    conference->showMinimized();
    FakeEngine::instance().fire(CR::OutConferenceEnded);
    QTRY_VERIFY(!AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(main->isVisible());
    QVERIFY(!main->isMinimized());
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_VERIFY(conference->isVisible());
    QVERIFY(!conference->isMinimized());
    FakeEngine::instance().fire(CR::OutConferenceEnded);
    QTRY_VERIFY(!AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(main->isVisible());
}

void TestCallNotification::cleanup()
{
    if (m_app)
        QVERIFY(m_app->quit());
}

void TestCallNotification::cleanupTestCase()
{
    m_app.reset();
    unregisterServer();
}

QTEST_MAIN(TestCallNotification)
#include "tst_callnotification.moc"
