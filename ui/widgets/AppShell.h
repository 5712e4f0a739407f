#pragma once

class ContactWindowController;
class JoinConferenceWindowController;
class LoginViewController;
class QMainWindow;
class QWidget;

/// What the windows need of the application delegate: the windows they reach each other
/// through, the application menu and quitting. The delegate registers itself at launch.
class AppShell
{
public:
    virtual ~AppShell() = default;

    static AppShell *shared();
    static void setShared(AppShell *shell);

    /// The main window, which shows the login view.
    virtual QMainWindow *window() const = 0;
    virtual LoginViewController *loginVc() const = 0;
    /// The one conference window, made on first use and owned by the shell.
    virtual JoinConferenceWindowController *joinWindow() const = 0;
    /// Gives a window the application menu (settings, about, close window, quit).
    virtual void installApplicationMenu(QMainWindow *window) = 0;
    /// Gives a window without a menu bar the menu's keyboard shortcuts.
    virtual void installApplicationShortcuts(QWidget *window) = 0;
    /// Opens the settings (menu, tray, the conference window's shortcut and control bar).
    virtual void showSettings() = 0;
    /// The user asked to quit (menu, tray).
    virtual void requestQuit() = 0;
    /// The user closed a main window; without a tray icon to come back through, that quits.
    virtual void windowClosedByUser() = 0;
    /// The conference is over: the signed-in view comes back and the tray's menu follows.
    virtual void endConference() = 0;
    /// Signed-in state or conference changed: the tray's menu follows.
    virtual void updateDockMenu() = 0;
    /// Whether a tray icon is shown to come back through once every window is closed.
    virtual bool hasTrayIcon() const = 0;
};
