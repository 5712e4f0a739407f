#pragma once

#include "app/AppDelegate.h"
#include "tests/support/TestDeployment.h"
#include "tests/support/TestHome.h"
#include "tests/ui/FakeKeychain.h"

#include <QPointer>
#include <QSet>
#include <QStringList>

#include <memory>

class QWebSocket;
class ToastView;

/// The client as a test drives it: the reference deployment on the standard login ports of a
/// loopback address of the test's own, the fake engine behind the bridge, and the application
/// delegate launched. Each launch starts from nothing: an empty home (settings and files), an
/// empty keychain, no windows, a reset engine. A test program keeps one harness (one
/// deployment) and launches and quits the application around each test function.
class UiHarness final : public QObject
{
    Q_OBJECT

public:
    /// `host` like testHost(); empty starts no deployment. `launched` launches at once.
    explicit UiHarness(const QString &host, bool launched = false);
    ~UiHarness() override;

    /// A fresh application: what a previous launch left is gone first.
    void launch();
    /// The application ends and starts again on the same home and keychain, as after the
    /// user quit it: for what it reads at start-up.
    void restart();
    /// Closes every window and forgets the application and its keychain. False when a window
    /// is still on screen afterwards (a window nobody owns).
    bool quit();

    AppDelegate *delegate() const { return m_delegate.get(); }
    ServiceHost *services() const { return m_deployment ? m_deployment->host() : nullptr; }
    QString host() const { return m_host; }
    /// Stands in for the desktop's keychain (a new one each launch).
    FakeKeychain *keychain() const { return m_keychain.get(); }

    /// Every toast text shown since the last call, oldest first.
    QStringList takeToasts();
    /// The same without forgetting them, for QTRY_ macros that evaluate twice.
    QStringList toasts() const { return m_toasts; }
    /// The text of the toast shown now in `window`, or a null text.
    static QString toastIn(QWidget *window);
    /// Waits until the main thread has handled every out-event fired so far.
    static bool settle();
    /// Fires an out-event with a 32-bit value at offset 0 of a record of `size` bytes.
    static void fire(uint32_t event, int32_t value = 0, int size = 4);
    /// The texts at the offsets of the last in-event `id` sent to the fake engine.
    static QString sentText(uint32_t id, int offset, int width);

    /// Types into the login view and presses the login button.
    void typeLogin(const QString &address, const QString &user, const QString &password);
    /// Signs in as demo with the deployment and the fake engine reporting success. The
    /// conference service gets the session the real engine would sign in (the portal admits
    /// only members whose engine is there) from a WebSocket of the harness's own.
    bool signInAsDemo();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void closeApplication();
    void startApplication();
    bool signInEngineSession(const QString &user, const QString &password);

    std::unique_ptr<TestDeployment> m_deployment;
    std::unique_ptr<FakeKeychain> m_keychain;
    std::unique_ptr<QWebSocket> m_engineSession;
    std::unique_ptr<AppDelegate> m_delegate;
    QString m_host;
    QStringList m_toasts;
    QSet<const QObject *> m_seen; ///< toasts are shown again with their window
};
