#include "app/AppDelegate.h"

#include "app/EngineDelegate.h"
#include "bridge/Helper.h"
#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "platform/PlatformServices.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/conference/VideoView.h"
#include "ui/invite/QRCodeWindowController.h"
#include "ui/invite/ShareQRCodeWindowController.h"
#include "ui/live/DirectLiveList.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/EnterByURLWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/main/MainWindow.h"
#include "ui/settings/AboutUsWidowController.h"
#include "ui/settings/AllSetsWindowController.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/AppStyle.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/Timing.h"
#include "ui/widgets/ViewHelper.h"

#include <QAction>
#include <QApplication>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

AppDelegate::AppDelegate(bool startEngine, QObject *parent)
    : QObject(parent)
    , m_startEngine(startEngine)
    , m_engine(std::make_unique<EngineDelegate>(*this))
    , m_platform(std::make_unique<PlatformServices>())
{
    AppShell::setShared(this);
}

AppDelegate::~AppDelegate()
{
    m_engine.reset(); // first: nothing the engine queued reaches the windows going below

    if (AppShell::shared() == this)
        AppShell::setShared(nullptr);
    // The windows and menus go before the shell they call back into.
    m_joinWindow.reset();
    m_window.reset();
    m_trayMenu.reset();
    m_dynamicMenue.reset();
}

JoinConferenceWindowController *AppDelegate::joinWindow() const
{
    if (!m_joinWindow)
        m_joinWindow = std::make_unique<JoinConferenceWindowController>();
    return m_joinWindow.get();
}

QMainWindow *AppDelegate::window() const
{
    return m_window.get();
}

void AppDelegate::applicationDidFinishLaunching()
{
    installInvitationWindows();
    // Links reach handleURLEvent() from main(), which owns the hand-over socket.
    AppStatus *status = AppStatus::shareStatus();
    const QStringList languages = QLocale::system().uiLanguages();
    status->setIsChinese(!languages.isEmpty() && AppStatus::isChineseLanguage(languages.first()));
    status->setIsSignIn(false);
    status->setIsInConference(false);
    status->setIsDirectLive(false);
    status->setIsStartByWeb(false);
    const Preferences preferences;
    status->setIsRemberPassword(preferences.remberPassword() != 0);
    status->setIsAutoLogin(preferences.autoLogin() != 0);

    ContactListViewController::setLiveListFactory([] { return new DirectLiveList; });
    AppStyle::install();
    m_window = std::make_unique<MainWindow>();
    connect(m_window.get(), &MainWindow::closedByUser, this, [this] { windowClosedByUser(); });
    installApplicationMenu(m_window.get());
    m_loginVc = new LoginViewController;
    m_window->setCentralWidget(m_loginVc);
    m_window->setFixedSize(400, 560);
    bringToFront(m_window.get());

    // The window's icon, the tray icon (a D-Bus round trip on most desktops), reachability,
    // the conference window and the engine come right after the login window is on screen, so
    // that the user sees it as early as possible.
    m_window->installEventFilter(this);
    QTimer::singleShot(engineStartFallbackMs, this, [this] { startEngine(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { signOutForQuit(); });
#ifndef QT_NO_SESSIONMANAGER
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { signOutForQuit(); });
#endif
}

void AppDelegate::installInvitationWindows()
{
    LoginViewController::setQrWindowFactory([] { return new QRCodeWindowController; });
    ContactDetailViewController::setShareWindowFactory(
        [] { return new ShareQRCodeWindowController; });
    ControlWindowController::setShareQRCodeWindowFactory(
        [] { return new ShareQRCodeWindowController; });
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get() && event->type() == QEvent::Paint) {
        m_window->removeEventFilter(this);
        qCInfo(lcOrvale, "login window on screen");
        QTimer::singleShot(0, this, [this] { startEngine(); });
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::startEngine()
{
    if (m_engineStarted)
        return;
    m_engineStarted = true;
    // On X11 the window's icon is its SVG drawn at four sizes, the largest 128 pixels: it comes
    // with the tray icon rather than before the login window's first paint.
    m_window->setWindowIcon(Images::icon(QStringLiteral("logo")));
    createTray();
    AppStatus::shareStatus()->networkChange();
    JoinConferenceWindowController *conference = joinWindow();
    if (!m_startEngine)
        return;
    VideoView *view = conference->contentViewController()->videoView();
    TRQClientInEvent::ClientSyncRequestInit(m_engine.get(), view,
                                            QRect(QPoint(0, 0), view->size()));
}

void AppDelegate::createTray()
{
    m_dynamicMenue = std::make_unique<QMenu>();
    m_dynamicMenue->addAction(tr("注销"), this, [this] { resignDockAction(); });
    m_trayMenu = std::make_unique<QMenu>();
    // Built from the state of the moment it opens: a conference may have ended unnoticed.
    connect(m_trayMenu.get(), &QMenu::aboutToShow, this, [this] { updateDockMenu(); });
    m_tray = new QSystemTrayIcon(Images::icon(QStringLiteral("logo")), this);
    m_tray->setToolTip(QStringLiteral("Orvale"));
    m_tray->setContextMenu(m_trayMenu.get());
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    applicationShouldHandleReopen(false);
            });
    updateDockMenu();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_tray->show();
}

void AppDelegate::updateDockMenu()
{
    if (!m_trayMenu)
        return;
    m_trayMenu->clear();
    m_trayMenu->addAction(tr("显示窗口"), this, [this] { applicationShouldHandleReopen(false); });
    if (QMenu *dock = applicationDockMenu()) {
        m_trayMenu->addSeparator();
        m_trayMenu->addActions(dock->actions());
    }
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(tr("设置…"), this, [this] { showConfigPanel(); });
    m_trayMenu->addAction(tr("关于 Orvale"), this, [this] { showAboutPanel(); });
    m_trayMenu->addAction(tr("退出 Orvale"), this, [this] { requestQuit(); });
}

void AppDelegate::showConfigPanel()
{
    m_allSets = std::make_unique<AllSetsWindowController>();
    bringToFront(m_allSets.get());
}

void AppDelegate::showAboutPanel()
{
    m_aboutUs = std::make_unique<AboutUsWidowController>();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        m_aboutUs->move(screen->availableGeometry().center() - m_aboutUs->rect().center());
    bringToFront(m_aboutUs.get());
}

QMenu *AppDelegate::applicationDockMenu() const
{
    const AppStatus *status = AppStatus::shareStatus();
    return status->isSignIn() && !status->isInConference() ? m_dynamicMenue.get() : nullptr;
}

bool AppDelegate::hasTrayIcon() const
{
    return m_tray && m_tray->isVisible();
}

void AppDelegate::installApplicationMenu(QMainWindow *window)
{
    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("Orvale"));
    menu->addAction(tr("关于 Orvale"), this, [this] { showAboutPanel(); });
    menu->addAction(tr("设置…"), settingsShortcut(), this, [this] { showConfigPanel(); });
    menu->addSeparator();
    // Without a tray icon, signing out is the application menu's.
    QAction *signOut = menu->addAction(tr("注销"), this, [this] { resignDockAction(); });
    connect(menu, &QMenu::aboutToShow, signOut,
            [this, signOut] { signOut->setVisible(!hasTrayIcon() && applicationDockMenu()); });
    signOut->setVisible(false);
    menu->addAction(tr("关闭窗口"), QKeySequence::Close, this, [this] { closeKeyWindow(); });
    menu->addSeparator();
    menu->addAction(tr("退出 Orvale"), QKeySequence::Quit, this, [this] { requestQuit(); });
}

QKeySequence AppDelegate::settingsShortcut()
{
    // Qt knows no settings key on Linux desktops; GNOME and most programs there use Ctrl+,.
    const QKeySequence platform(QKeySequence::Preferences);
    return platform.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Comma) : platform;
}

void AppDelegate::installApplicationShortcuts(QWidget *window)
{
    auto *close = new QAction(tr("关闭窗口"), window);
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, [this] { closeKeyWindow(); });
    auto *quit = new QAction(tr("退出 Orvale"), window);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, [this] { requestQuit(); });
    // In a call the main window is hidden: devices and quality are changed from here.
    auto *settings = new QAction(tr("设置…"), window);
    settings->setShortcut(settingsShortcut());
    connect(settings, &QAction::triggered, this, [this] { showConfigPanel(); });
    window->addActions({close, quit, settings});
}

void AppDelegate::closeKeyWindow()
{
    QWidget *key = QApplication::activeWindow();
    // A tool window floating over another (the control bar) stands for that window.
    while (key && key->windowType() == Qt::Tool && key->parentWidget())
        key = key->parentWidget()->window();
    if (key)
        key->close();
}

void AppDelegate::bringToFront(QWidget *window)
{
    if (!window)
        return;
    ViewHelper::bringToFront(window);
    // Tool windows floating over it (the control bar) stay above it, window manager or not.
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() && child->windowType() == Qt::Tool && child->isVisible())
            child->raise();
    }
}

QWidget *AppDelegate::mainWindowControllerWindow() const
{
    return m_loginVc ? m_loginVc->contactWindowController() : nullptr;
}

void AppDelegate::handleURLEvent(const QString &link)
{
    qCInfo(lcOrvale).noquote() << link;
    AppStatus *status = AppStatus::shareStatus();
    if (status->isInConference()) {
        if (!AlertHelper::isSheetShown()) {
            // The refusal is a sheet of the conference window, so that window must be seen.
            bringToFront(joinWindow());
            AlertHelper::showAlertWithMessage(tr("你正在会议中,请先退出会议!"), {}, joinWindow());
        }
        return;
    }
    const QVariantMap result = Helper::analyzingURLStr(link);
    if (result.contains(QStringLiteral("error"))) {
        qCInfo(lcOrvale).noquote() << QStringLiteral("外部启动失败  %1")
                                          .arg(result.value(QStringLiteral("error")).toString());
        return;
    }
    const QString key = result.value(QStringLiteral("key")).toString();
    const QString portal = result.value(QStringLiteral("portal")).toString();
    const QString pin = result.value(QStringLiteral("pin")).toString();
    if (status->isSignIn()) {
        const auto user = AppUser::defaultUser();
        if (portal == user->httpPortal) {
            TRQClientInEvent::ClientAsyncRequestGuestLoginWithPortal(portal, key, user->displayName,
                                                                     pin);
            if (ContactWindowController *main = m_loginVc->contactWindowController())
                if (ContactListViewController *list = main->contactList())
                    list->showJoinConferenceProgressWindow();
        } else if (!AlertHelper::isSheetShown()) {
            QWidget *main = mainWindowControllerWindow();
            bringToFront(main);
            AlertHelper::showAlertWithMessage(tr("登录地址不同,请注销后入会"), {}, main);
        }
        return;
    }
    status->setIsStartByWeb(true);
    m_loginVc->shouldStartLoginWithUIChange(false);
    if (!m_enter)
        m_enter = std::make_unique<EnterByURLWindowController>();
    m_enter->setRoomKey(key);
    m_enter->setConfPortal(portal);
    m_enter->setPinNum(pin);
    bringToFront(m_enter.get());
}

void AppDelegate::quitFromOutside()
{
    qCInfo(lcOrvale, "quitting on request from outside");
    m_quitting = true;
    signOutForQuit();
    QCoreApplication::quit();
}

void AppDelegate::signOutForQuit()
{
    if (m_signOutSent || !AppStatus::shareStatus()->isSignIn())
        return;
    m_signOutSent = true;
    TRQClientInEvent::ClientAsyncRequestLogOut();
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    const AppStatus *status = AppStatus::shareStatus();
    if (!status->isDirectLive() && !status->isInConference()) {
        m_signOutSent = true;
        TRQClientInEvent::ClientAsyncRequestLogOut();
        return TerminateReply::Now;
    }
    // The question belongs to the window brought forward, whichever window had the keyboard.
    QPointer<QWidget> owner = status->isInConference()
                                  ? static_cast<QWidget *>(joinWindow())
                                  : static_cast<QWidget *>(mainWindowControllerWindow());
    bringToFront(owner);
    Timing::performBlockAfterDelay(0.4, this, [this, owner] {
        m_quitAlert = AlertHelper::showAlertWithTitle(
            tr("注意"), tr("确定退出吗?"), {tr("确定"), tr("取消")},
            [this](int response) {
                const bool terminate = response == AlertHelper::firstButtonResponse;
                if (terminate) {
                    m_signOutSent = true;
                    TRQClientInEvent::ClientAsyncRequestLogOut();
                }
                Q_EMIT replyToApplicationShouldTerminate(terminate);
            },
            owner);
    });
    return TerminateReply::Later;
}

void AppDelegate::requestQuit()
{
    if (m_quitting)
        return;
    switch (applicationShouldTerminate()) {
    case TerminateReply::Now:
        m_quitting = true;
        QCoreApplication::quit();
        break;
    case TerminateReply::Later: {
        m_quitting = true;
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(this, &AppDelegate::replyToApplicationShouldTerminate, this,
                              [this, connection](bool terminate) {
                                  disconnect(*connection);
                                  m_quitting = false;
                                  if (terminate)
                                      QCoreApplication::quit();
                              });
        break;
    }
    case TerminateReply::Cancel:
        break;
    }
}

void AppDelegate::windowClosedByUser()
{
    // With a tray icon the user comes back through it; without one, nothing would be left.
    if (!m_tray || !m_tray->isVisible())
        requestQuit();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (hasVisibleWindows)
        return true;
    QWidget *target = AppStatus::shareStatus()->isSignIn() && mainWindowControllerWindow()
                          ? mainWindowControllerWindow()
                          : m_window.get();
    if (AppStatus::shareStatus()->isInConference())
        target = joinWindow();
    bringToFront(target);
    return true;
}

void AppDelegate::resignDockAction()
{
    if (!AppStatus::shareStatus()->isDirectLive()) {
        TRQClientInEvent::ClientAsyncRequestLogOut();
        return;
    }
    AlertHelper::showAlertWithTitle(
        tr("注意"), tr("确定注销吗?"), {tr("确定"), tr("取消")},
        [](int response) {
            if (response == AlertHelper::firstButtonResponse)
                TRQClientInEvent::ClientAsyncRequestLogOut();
        },
        m_window.get());
}

void AppDelegate::endConference()
{
    if (ContactWindowController *main = m_loginVc->contactWindowController())
        if (ContactListViewController *list = main->contactList())
            list->hideJoinConferenceProgressWindow();
    m_loginVc->endConference();
    updateDockMenu();
}
