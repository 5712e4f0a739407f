#include "ui/main/LoginViewController.h"

#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "model/PasswordStore.h"
#include "model/Preferences.h"
#include "model/ValueConversion.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "net/StringHelper.h"
#include "ui/main/ContactWindowController.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/AppShell.h"
#include "ui/widgets/ColorHelper.h"
#include "ui/widgets/FilledButton.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/Timing.h"
#include "ui/widgets/ToastView.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_LoginViewController.h"

#include <QApplication>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QMainWindow>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>

#include <utility>

namespace {

LoginViewController::WindowFactory qrFactory;

const QString warning = QStringLiteral("warning");

void setOpacity(QWidget *widget, qreal opacity)
{
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
    effect->setEnabled(opacity < 1.0);
}

QString modelName()
{
    QFile file(QStringLiteral("/sys/devices/virtual/dmi/id/product_name"));
    if (file.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromUtf8(file.readAll()).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return QSysInfo::currentCpuArchitecture();
}

} // namespace

void LoginViewController::setQrWindowFactory(WindowFactory factory)
{
    qrFactory = std::move(factory);
}

LoginViewController::LoginViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::LoginViewController>())
{
    ui->setupUi(this);
    connect(ui->loginButton, &QPushButton::clicked, this, [this] { loginClick(); });
    for (QLineEdit *field : {ui->ipField, ui->nameField, ui->passField})
        connect(field, &QLineEdit::returnPressed, this, [this] { loginClick(); });
    connect(ui->qrButton, &QPushButton::clicked, this, [this] { scanQrcode(); });
    connect(ui->remberPass, &QCheckBox::clicked, this, [this] { remberPassword(); });
    connect(ui->autoLogin, &QCheckBox::clicked, this, [this] { autoLogin(); });
    viewDidLoad();
}

LoginViewController::~LoginViewController() = default;

ContactWindowController *LoginViewController::contactWindowController() const
{
    return m_contactWindowController.get();
}

QLineEdit *LoginViewController::ipField() const
{
    return ui->ipField;
}
QLineEdit *LoginViewController::nameField() const
{
    return ui->nameField;
}
QLineEdit *LoginViewController::passField() const
{
    return ui->passField;
}
QPushButton *LoginViewController::loginButton() const
{
    return ui->loginButton;
}
QPushButton *LoginViewController::qrButton() const
{
    return ui->qrButton;
}
QCheckBox *LoginViewController::remberPass() const
{
    return ui->remberPass;
}
QCheckBox *LoginViewController::autoLoginBox() const
{
    return ui->autoLogin;
}
Spinner *LoginViewController::activity() const
{
    return ui->activity;
}

void LoginViewController::applyLook()
{
    // Fonts and palettes rather than a style sheet: the login window is the first thing shown,
    // and style sheets cost their engine's start-up before it can paint.
    ViewHelper::setBackgroundColor(this, Qt::white);
    const auto fontOf = [](QWidget *widget, qreal points, bool bold) {
        QFont font = widget->font();
        font.setPointSizeF(points);
        font.setBold(bold);
        widget->setFont(font);
    };
    const auto colourOf = [](QWidget *widget, const QColor &color) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, color);
        palette.setColor(QPalette::ButtonText, color);
        widget->setPalette(palette);
    };
    fontOf(ui->titleLabel, 16, false); // a bold face would be one more font file to load
    colourOf(ui->titleLabel, QColor(0x1f, 0x26, 0x33));
    // Beside the title, one size for everything: each further size is one more set of font
    // engines (Latin and CJK) to load before the window can paint.
    fontOf(ui->subtitleLabel, 9, false);
    colourOf(ui->subtitleLabel, QColor(0x8a, 0x93, 0xa3));
    for (QLineEdit *field : {ui->ipField, ui->nameField, ui->passField}) {
        fontOf(field, 9, false);
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, Qt::white);
        field->setPalette(palette);
    }
    fontOf(ui->loginButton, 9, false);
    colourOf(ui->qrButton, ColorHelper::mainColor());
    colourOf(ui->remberPass, QColor(0x4a, 0x52, 0x63));
    colourOf(ui->autoLogin, QColor(0x4a, 0x52, 0x63));
}

void LoginViewController::viewDidLoad()
{
    applyLook();
    for (QWidget *line : {static_cast<QWidget *>(ui->ipLine), static_cast<QWidget *>(ui->nameLine),
                          static_cast<QWidget *>(ui->passLine)})
        ViewHelper::setBackgroundColor(line, ColorHelper::lineColor());
    for (QLineEdit *field : {ui->ipField, ui->nameField, ui->passField})
        field->installEventFilter(this);
    ui->logoView->setPixmap(Images::drawnPixmap(QStringLiteral("logo"), 64, devicePixelRatioF()));
    ui->qrButton->setVisible(bool(qrFactory));
    if (qrFactory)
        ui->qrButton->setIcon(
            Images::drawnPixmap(QStringLiteral("qrcode"), 18, devicePixelRatioF()));

    AppStatus *status = AppStatus::shareStatus();
    ui->remberPass->setChecked(status->isRemberPassword());
    ui->autoLogin->setChecked(status->isAutoLogin());
    const Preferences preferences;
    ui->ipField->setText(preferences.userIp());
    ui->nameField->setText(preferences.userName());
    // Auto-login waits for the remembered password: a slow or locked keyring must not make
    // it sign in with an empty field. The keychain is asked once the view has painted: its
    // start (its module, the desktop's secret service over D-Bus) would delay the first paint.
    if (status->isRemberPassword()) {
        m_passwordPending = true;
        QTimer::singleShot(passwordFallbackMs, this, [this] { readRememberedPassword(); });
    } else {
        scheduleAutoLogin();
    }
    m_signInTimer = new QTimer(this);
    m_signInTimer->setSingleShot(true);
    connect(m_signInTimer, &QTimer::timeout, this, [this] { signInTimedOut(); });
    ui->ipField->setFocus();
}

bool LoginViewController::eventFilter(QObject *watched, QEvent *event)
{
    const bool in = event->type() == QEvent::FocusIn;
    if (in || event->type() == QEvent::FocusOut) {
        for (QLineEdit *field : {ui->ipField, ui->nameField, ui->passField})
            if (watched == field)
                showFieldFocus(field, in);
    }
    return QWidget::eventFilter(watched, event);
}

void LoginViewController::showFieldFocus(QLineEdit *field, bool focused)
{
    // The fields have no frame: the focused one is tinted and its line takes the main colour,
    // so that a keyboard user sees where typing goes.
    QWidget *line = field == ui->ipField     ? static_cast<QWidget *>(ui->ipLine)
                    : field == ui->nameField ? static_cast<QWidget *>(ui->nameLine)
                                             : static_cast<QWidget *>(ui->passLine);
    ViewHelper::setBackgroundColor(line,
                                   focused ? ColorHelper::mainColor() : ColorHelper::lineColor());
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, focused ? QColor(0xf2, 0xf5, 0xfb) : QColor(Qt::white));
    field->setPalette(palette);
}

void LoginViewController::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (m_passwordPending) // on the next turn of the loop, once the window is on screen
        QTimer::singleShot(0, this, [this] { readRememberedPassword(); });
}

void LoginViewController::readRememberedPassword()
{
    if (!std::exchange(m_passwordPending, false))
        return;
    PasswordStore::readPassword(this, [this](const QString &password) {
        if (ui->passField->text().isEmpty())
            ui->passField->setText(password);
        scheduleAutoLogin();
    });
}

void LoginViewController::scheduleAutoLogin()
{
    Timing::performBlockAfterDelay(autoLoginDelay, this, [this] {
        const AppStatus *s = AppStatus::shareStatus();
        if (s->isAutoLogin() && !s->isStartByWeb() && !m_qrWindow && !isBusy())
            loginClick();
    });
}

void LoginViewController::remberPassword()
{
    const bool on = ui->remberPass->isChecked();
    if (!on && ui->autoLogin->isChecked()) {
        ui->autoLogin->setChecked(false);
        autoLogin();
    }
    Preferences().setRemberPassword(on ? 1 : 0);
    if (!on && AppStatus::shareStatus()->isRemberPassword())
        PasswordStore::writePassword(QString()); // forgotten when the user says so
    AppStatus::shareStatus()->setIsRemberPassword(on);
}

void LoginViewController::autoLogin()
{
    const bool on = ui->autoLogin->isChecked();
    if (on && !ui->remberPass->isChecked()) {
        ui->remberPass->setChecked(true);
        remberPassword();
    }
    Preferences().setAutoLogin(on ? 1 : 0);
    AppStatus::shareStatus()->setIsAutoLogin(on);
}

void LoginViewController::loginClick()
{
    const struct
    {
        QLineEdit *field;
        const char *message;
    } checks[] = {{ui->ipField, QT_TR_NOOP("请输入登录地址")},
                  {ui->nameField, QT_TR_NOOP("请输入用户名")},
                  {ui->passField, QT_TR_NOOP("请输入登录密码")}};
    for (const auto &check : checks) {
        if (check.field->text().isEmpty()) {
            ToastView::showToastInWindow(window(), tr(check.message), warning,
                                         ToastView::defaultSeconds);
            check.field->setFocus();
            return;
        }
    }
    shouldStartLoginWithUIChange(true);
    // The plain attempt comes first only at a server never reached over HTTPS: at one that was,
    // whoever answers the plain port now is not that server and would get the password.
    if (Preferences().reachedSecurely(ui->ipField->text()))
        loginHttpsStart();
    else
        loginHttpStart();
}

bool LoginViewController::isBusy() const
{
    return !ui->loginButton->isEnabled();
}

void LoginViewController::shouldStartLoginWithUIChange(bool busy)
{
    if (busy)
        m_signInGivenUp = false;
    else if (m_signInTimer)
        m_signInTimer->stop();
    if (!busy && m_netWork) {
        NetWork *running = m_netWork;
        m_netWork = nullptr;
        running->cancelNetworkOperations();
    }
    for (QWidget *control :
         {static_cast<QWidget *>(ui->loginButton), static_cast<QWidget *>(ui->qrButton),
          static_cast<QWidget *>(ui->ipField), static_cast<QWidget *>(ui->nameField),
          static_cast<QWidget *>(ui->passField), static_cast<QWidget *>(ui->remberPass),
          static_cast<QWidget *>(ui->autoLogin)})
        control->setEnabled(!busy);
    setOpacity(ui->remberPass, busy ? 0.6 : 1.0);
    setOpacity(ui->autoLogin, busy ? 0.6 : 1.0);
    ui->loginButton->setText(busy ? tr("正在登录…") : tr("登录"));
    if (busy)
        ui->activity->startAnimation();
    else
        ui->activity->stopAnimation();
}

void LoginViewController::loginHttpStart()
{
    m_httpUserPortal = LoginRequest::baseAddress(LoginRequest::Attempt::Plain, ui->ipField->text());
    loginWithUrl(false);
}

void LoginViewController::loginHttpsStart()
{
    m_httpUserPortal =
        LoginRequest::baseAddress(LoginRequest::Attempt::Secure, ui->ipField->text());
    loginWithUrl(true);
}

void LoginViewController::loginWithUrl(bool secure)
{
    NetWork *request = LoginRequest::create(
        secure ? LoginRequest::Attempt::Secure : LoginRequest::Attempt::Plain, ui->ipField->text(),
        upDeviceInfomation(), ui->nameField->text(), ui->passField->text());
    request->setSuccessBlock(this, [this, request](const QVariant &response) {
        if (m_netWork == request)
            handleReply(response);
    });
    const QString address = request->urlString();
    request->setFailBlock(this, [this, request, address](const NetworkError &error) {
        if (m_netWork == request && !error.isCancelled())
            handleFailure(address);
    });
    m_netWork = request;
    request->startRequest();
}

QString LoginViewController::upDeviceInfomation()
{
    QSize pixels;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        pixels = screen->size() * screen->devicePixelRatio();
    const AppStatus *status = AppStatus::shareStatus();
    return QStringLiteral("Mac_%1_%2_%3_%4*%5_%6__%7")
        .arg(QApplication::applicationVersion(), QSysInfo::productVersion(), modelName())
        .arg(double(pixels.width()), 0, 'f', 1)
        .arg(double(pixels.height()), 0, 'f', 1)
        .arg(status->networkStatusString(),
             status->isChinese() ? QStringLiteral("zn") : QStringLiteral("en"));
}

void LoginViewController::handleReply(const QVariant &response)
{
    m_netWork = nullptr;
    const LoginReply reply = LoginRequest::decodeReply(response);
    // A login answer over HTTPS, accepted or refused, shows the server has it: HTTPS only there
    // from now on.
    if (reply.outcome != LoginReply::Outcome::NoResult &&
        m_httpUserPortal.startsWith(QLatin1String("https:")))
        Preferences().rememberReachedSecurely(ui->ipField->text());
    switch (reply.outcome) {
    case LoginReply::Outcome::NoResult:
        // Nothing to sign in with: never stay busy on a reply without a user record.
        shouldStartLoginWithUIChange(false);
        ToastView::showToastInWindow(window(), tr("无法连接服务器,请检查输入!"), warning,
                                     ToastView::defaultSeconds);
        return;
    case LoginReply::Outcome::Refused:
        m_userInfo = reply.record;
        errorWithText(reply.message);
        return;
    case LoginReply::Outcome::Accepted:
        m_userInfo = reply.record;
        m_signInTimer->start(signInTimeoutMs);
        TRQClientInEvent::ClientAsyncRequestLoginWithUserName(
            ui->nameField->text(), ui->passField->text(), reply.portalAddress);
        return;
    }
}

void LoginViewController::handleFailure(const QString &address)
{
    m_netWork = nullptr;
    if (!address.contains(QLatin1String("https"))) {
        loginHttpsStart();
        return;
    }
    if (window()->isActiveWindow())
        ToastView::showToastInWindow(window(), tr("无法连接服务器,请检查输入!"), warning,
                                     ToastView::defaultSeconds);
    shouldStartLoginWithUIChange(false);
}

void LoginViewController::signInTimedOut()
{
    if (!isBusy())
        return;
    qCInfo(lcOrvale, "no sign-in outcome from the engine: given up");
    TRQClientInEvent::ClientAsyncRequestLogOut();
    shouldStartLoginWithUIChange(false);
    m_signInGivenUp = true;
    ToastView::showToastInWindow(window(), tr("连接不到服务器"), warning,
                                 ToastView::defaultSeconds);
}

bool LoginViewController::loginSuccess()
{
    if (m_signInGivenUp) {
        // The engine answered after the user was told it would not: take the sign-in back.
        TRQClientInEvent::ClientAsyncRequestLogOut();
        return false;
    }
    shouldStartLoginWithUIChange(false);
    Preferences preferences;
    preferences.setUserIp(ui->ipField->text());
    preferences.setUserName(ui->nameField->text());
    preferences.setSignedInSecurely(m_httpUserPortal.startsWith(QLatin1String("https:")));
    // Only a password the user asked to remember goes to the keychain, which may ask the user
    // to create or unlock a keyring.
    if (ui->remberPass->isChecked())
        PasswordStore::writePassword(ui->passField->text());
    setUser(m_userInfo);
    changeKeyWindow();
    if (!ui->remberPass->isChecked())
        ui->passField->clear();
    return true;
}

void LoginViewController::setUser(const QVariantMap &record)
{
    const auto user = AppUser::defaultUser();
    user->user_portal = m_httpUserPortal;
    user->userName = ui->nameField->text();
    user->userPassWord = ui->passField->text();
    for (auto it = record.begin(); it != record.end(); ++it)
        user->setValue(it.key(), it.value());
    if (user->upgradeContent.isEmpty())
        user->upgradeContent = tr("&发现新版本,是否升级\\n");
    const bool secure = ValueConversion::integerValue(record.value(QStringLiteral("agrees"))) == 1;
    user->httpPortal = (secure ? QStringLiteral("https://%1") : QStringLiteral("http://%1"))
                           .arg(record.value(QStringLiteral("portal")).toString());
    user->auth = LoginRequest::authorization(ui->nameField->text(), ui->passField->text());
    AppUser::updateUser();
}

void LoginViewController::changeKeyWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->isWindow())
            widget->close();
    }
    m_contactWindowController.reset(new ContactWindowController);
    m_contactWindowController->showList();
    m_contactWindowController->show();
    m_contactWindowController->raise();
    m_contactWindowController->activateWindow();
    if (AppShell *shell = AppShell::shared())
        shell->updateDockMenu();
}

void LoginViewController::errorWithText(const QString &text)
{
    shouldStartLoginWithUIChange(false);
    ToastView::showToastInWindow(window(), text, warning, ToastView::defaultSeconds);
    if (text == StringHelper::localString(
                    QString::fromUtf8(QT_TRANSLATE_NOOP("Orvale", "用户名密码错误")))) {
        ui->passField->clear();
        ui->passField->setFocus();
    }
}

void LoginViewController::endConference()
{
    QWidget *target = AppStatus::shareStatus()->isSignIn() && m_contactWindowController
                          ? static_cast<QWidget *>(m_contactWindowController.get())
                          : window();
    ViewHelper::bringToFront(target);
}

void LoginViewController::showAlertWithMessage(const QString &message)
{
    AlertHelper::showAlertWithMessage(message, {}, window());
}

void LoginViewController::scanQrcode()
{
    if (!qrFactory)
        return;
    window()->close();
    m_qrWindow = qrFactory();
    if (m_qrWindow)
        m_qrWindow->show();
}
