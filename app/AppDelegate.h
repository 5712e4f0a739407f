#pragma once

#include "ui/widgets/AppShell.h"

#include <QKeySequence>
#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <memory>

class AboutUsWidowController;
class AllSetsWindowController;
class EngineDelegate;
class EnterByURLWindowController;
class JoinConferenceWindowController;
class LoginViewController;
class MainWindow;
class PlatformServices;
class QMenu;

class QSystemTrayIcon;

/// Owns the life of the process: launch order, links handed over from outside, the tray icon
/// (the dock of other desktops) and its menu, the application menu and quitting. The windows
/// it owns are what the engine's delegate routes the engine's out-events to.
class AppDelegate final : public QObject, public AppShell
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)

public:
    enum class TerminateReply { Now, Cancel, Later };

    /// `startEngine` false leaves the conferencing library alone (tests drive it themselves).
    explicit AppDelegate(bool startEngine = true, QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void handleURLEvent(const QString &link);
    TerminateReply applicationShouldTerminate();
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    QMenu *applicationDockMenu() const;
    void resignDockAction();
    void closeKeyWindow();
    /// A termination signal or the end of the desktop session: quit as the menu's quit does
    /// outside a call, without asking.
    void quitFromOutside();
    /// A new settings window each time, replacing the previous one.
    void showConfigPanel();
    void showSettings() override { showConfigPanel(); }
    /// The settings' key: the platform's, else Ctrl+, as on GNOME.
    static QKeySequence settingsShortcut();
    /// A new About window each time, centred on its screen.
    void showAboutPanel();

    // Accessors
    QMainWindow *window() const override;
    QMenu *dynamicMenue() const { return m_dynamicMenue.get(); }
    LoginViewController *loginVc() const override { return m_loginVc; }
    JoinConferenceWindowController *joinWindow() const override;
    /// The conference window if something has made it already.
    JoinConferenceWindowController *joinWindowIfMade() const { return m_joinWindow.get(); }
    EnterByURLWindowController *enter() const { return m_enter.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QMessageBox *quitAlert() const { return m_quitAlert; }
    AllSetsWindowController *allSets() const { return m_allSets.get(); }
    AboutUsWidowController *aboutUs() const { return m_aboutUs.get(); }
    /// The engine starts, and the tray icon shows, once the login window has painted (or after
    /// a short while anyway).
    bool engineStarted() const { return m_engineStarted; }
    void startEngine();
    /// What the engine hands its out-events to.
    EngineDelegate *engineDelegate() const { return m_engine.get(); }
    /// A new sign-in: quitting signs out of it.
    void signedIn() { m_signOutSent = false; }
    /// Raises the window and the tool windows floating over it.
    void bringToFront(QWidget *window);

    // AppShell
    void installApplicationMenu(QMainWindow *window) override;
    void installApplicationShortcuts(QWidget *window) override;
    void requestQuit() override;
    void windowClosedByUser() override;
    void endConference() override;
    void updateDockMenu() override;
    bool hasTrayIcon() const override;

Q_SIGNALS:
    /// The platform is told to go on terminating (true) or not (false).
    void replyToApplicationShouldTerminate(bool terminate);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static constexpr int engineStartFallbackMs = 500;

    /// The QR-code, share and invitation buttons show once their windows exist.
    static void installInvitationWindows();
    void createTray();
    void signOutForQuit();
    QWidget *mainWindowControllerWindow() const;

    bool m_startEngine;
    std::unique_ptr<EngineDelegate> m_engine;
    std::unique_ptr<EnterByURLWindowController> m_enter;
    std::unique_ptr<AllSetsWindowController> m_allSets;
    std::unique_ptr<AboutUsWidowController> m_aboutUs;
    std::unique_ptr<PlatformServices> m_platform; // before any window: they may use it
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QMenu> m_dynamicMenue;
    LoginViewController *m_loginVc = nullptr;
    // Made on first use by whatever window needs it; the engine draws into its video view.
    mutable std::unique_ptr<JoinConferenceWindowController> m_joinWindow;
    QSystemTrayIcon *m_tray = nullptr;
    std::unique_ptr<QMenu> m_trayMenu;
    QPointer<QMessageBox> m_quitAlert;
    bool m_quitting = false;
    bool m_signOutSent = false;
    bool m_engineStarted = false;
};
