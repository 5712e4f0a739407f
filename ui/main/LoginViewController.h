#pragma once

#include <QPointer>
#include <QScopedPointer>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class LoginViewController;
}
class ContactWindowController;
class NetWork;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTimer;
class Spinner;

/// The login view: server address, user name and password, checked by the company's login
/// service and then signed in to the portal through the conferencing engine.
class LoginViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoginViewController)

public:
    /// Makes the QR-code window; the QR entry is offered only when one is set.
    using WindowFactory = std::function<QWidget *()>;
    static void setQrWindowFactory(WindowFactory factory);

    /// Seconds from the remembered password being read to the automatic sign-in.
    static inline double autoLoginDelay = 1.5;
    /// Milliseconds to wait for the engine's sign-in once the login service accepted.
    static inline int signInTimeoutMs = 30000;

    explicit LoginViewController(QWidget *parent = nullptr);
    ~LoginViewController() override;

    // Actions
    void loginClick();
    void scanQrcode();
    void remberPassword();
    void autoLogin();

    /// Busy (true) or idle (false); idle cancels the request in flight.
    void shouldStartLoginWithUIChange(bool busy);
    void loginHttpStart();
    void loginHttpsStart();
    void loginWithUrl(bool secure);
    /// "Mac_<version>_<os>_<model>_<w>*<h>_<network>__<language>"
    static QString upDeviceInfomation();

    // Called by the dispatcher and the join views
    /// False when the sign-in had been given up: it is taken back.
    bool loginSuccess();
    void errorWithText(const QString &text);
    void endConference();
    void showAlertWithMessage(const QString &message);
    ContactWindowController *contactWindowController() const;

    void setUser(const QVariantMap &record);
    void changeKeyWindow();

    QString http_userPortal() const { return m_httpUserPortal; }
    QWidget *qrWindow() const { return m_qrWindow; }
    bool isBusy() const;

    // Outlets
    QLineEdit *ipField() const;
    QLineEdit *nameField() const;
    QLineEdit *passField() const;
    QPushButton *loginButton() const;
    QPushButton *qrButton() const;
    QCheckBox *remberPass() const;
    QCheckBox *autoLoginBox() const;
    Spinner *activity() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    /// Read from the keychain at the latest this long after the view is made, painted or not.
    static constexpr int passwordFallbackMs = 500;

    void applyLook();
    void showFieldFocus(QLineEdit *field, bool focused);
    void viewDidLoad();
    void handleReply(const QVariant &response);
    void handleFailure(const QString &address);
    void readRememberedPassword();
    void scheduleAutoLogin();
    void signInTimedOut();

    std::unique_ptr<Ui::LoginViewController> ui;
    QString m_httpUserPortal;
    QPointer<NetWork> m_netWork;
    QVariantMap m_userInfo;
    QPointer<QWidget> m_qrWindow;
    // Replaced at each sign-in, maybe from within one of its own handlers: deleted later.
    QScopedPointer<ContactWindowController, QScopedPointerDeleteLater> m_contactWindowController;
    QTimer *m_signInTimer = nullptr;
    bool m_signInGivenUp = false;
    bool m_passwordPending = false;
};
