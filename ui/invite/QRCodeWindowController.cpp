#include "ui/invite/QRCodeWindowController.h"

#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/invite/QRImageView.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/AppShell.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/ToastView.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_QRCodeWindowController.h"

#include <QCloseEvent>
#include <QDir>
#include <QMainWindow>
#include <QMessageBox>
#include <QRandomGenerator>

namespace {

const QColor messageBlue = QColor::fromRgbF(0, 0.5215686274509804f, 0.996078431372549f);

void setTextColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QString accountName()
{
    const QString name = qEnvironmentVariable("USER");
    return name.isEmpty() ? QDir::home().dirName() : name;
}

} // namespace

QRCodeWindowController::QRCodeWindowController(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::QRCodeWindowController>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ViewHelper::setUpWindow(this);
    windowDidLoad();
    setFixedSize(sizeHint());
}

QRCodeWindowController::~QRCodeWindowController() = default;

QRImageView *QRCodeWindowController::qrImage() const
{
    return ui->qrImage;
}
QLabel *QRCodeWindowController::infoLabel() const
{
    return ui->infoLabel;
}
QWidget *QRCodeWindowController::nameView() const
{
    return ui->nameView;
}
QLineEdit *QRCodeWindowController::userName() const
{
    return ui->userName;
}
QPushButton *QRCodeWindowController::joinButton() const
{
    return ui->joinButton;
}
Spinner *QRCodeWindowController::indicator() const
{
    return ui->indicator;
}

QString QRCodeWindowController::proposedName(const QString &accountName, int random)
{
    return QStringLiteral("%1 %2").arg(accountName).arg(random % 90 + 10, 2);
}

void QRCodeWindowController::windowDidLoad()
{
    ViewHelper::setTitleColor(ui->joinButton, Qt::white);
    QSizePolicy keepRoom = ui->nameView->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    ui->nameView->setSizePolicy(keepRoom);
    ui->nameView->hide();
    ui->joinButton->setEnabled(false);
    ui->qrImage->setImageResult([this](const QString &message) { showMessage(message); });
    ui->qrImage->setSuccess([this](const QVariantMap &invitation) { showInvitation(invitation); });
    connect(ui->userName, &QLineEdit::textChanged, this, [this] { controlTextDidChange(); });
    connect(ui->userName, &QLineEdit::returnPressed, this, [this] {
        if (ui->joinButton->isEnabled())
            enterRoom();
    });
    connect(ui->joinButton, &QPushButton::clicked, this, [this] { enterRoom(); });
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutSeconds * 1000);
    connect(&m_timeout, &QTimer::timeout, this,
            [this] { showAlertWithMessage(tr("请求超时,检查网络再试")); });
    auto *center = NotificationCenter::defaultCenter();
    m_successObserver =
        center->addObserver(NotificationCenter::joinConferenceSuccess, this,
                            [this](const Notification &) { joinConferenceSucess(); });
    m_errorObserver =
        center->addObserver(NotificationCenter::roomLinkError, this, [this](const Notification &n) {
            joinError(n.object.toMap().value(QStringLiteral("reason")).toString());
        });
}

void QRCodeWindowController::showMessage(const QString &message)
{
    setTextColor(ui->infoLabel, messageBlue);
    ui->infoLabel->setText(message);
    m_roomDic.clear();
    ui->nameView->hide();
    ui->joinButton->setEnabled(false);
}

void QRCodeWindowController::showInvitation(const QVariantMap &invitation)
{
    setTextColor(ui->infoLabel, Qt::black);
    m_roomDic = invitation;
    ui->nameView->show();
    ui->userName->setText(
        proposedName(accountName(), int(QRandomGenerator::global()->bounded(90))));
    ui->userName->setFocus();
    ui->joinButton->setEnabled(true);
}

void QRCodeWindowController::controlTextDidChange()
{
    ui->joinButton->setEnabled(!m_joining && !m_roomDic.isEmpty() &&
                               !ui->userName->text().isEmpty());
}

void QRCodeWindowController::setLocked(bool locked)
{
    m_joining = locked;
    ui->qrImage->setEditable(!locked);
    ui->userName->setEnabled(!locked);
    controlTextDidChange();
    if (locked)
        ui->indicator->startAnimation();
    else
        ui->indicator->stopAnimation();
}

void QRCodeWindowController::setClosable(bool closable)
{
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowCloseButtonHint, closable);
    if (visible)
        show(); // changing the flags hides a window
}

void QRCodeWindowController::enterRoom()
{
    if (AppStatus::shareStatus()->networkStatus() == 0) {
        ToastView::showToastInWindow(this, tr("好像无法连接到网络了"), QStringLiteral("warning"),
                                     ToastView::defaultSeconds);
        return;
    }
    if (ui->userName->text().isEmpty() || m_roomDic.isEmpty() || m_joining)
        return;
    setLocked(true);
    setClosable(false);
    qCInfo(lcOrvale) << m_roomDic;
    AppUser::defaultUser()->displayName = ui->userName->text();
    TRQClientInEvent::ClientAsyncRequestGuestLoginWithPortal(
        m_roomDic.value(QStringLiteral("portal")).toString(),
        m_roomDic.value(QStringLiteral("roomKey")).toString(), ui->userName->text(),
        m_roomDic.value(QStringLiteral("pin")).toString());
    m_timeout.start();
}

void QRCodeWindowController::joinConferenceSucess()
{
    // Conferences this window did not ask for are not its business.
    if (!m_joining)
        return;
    m_timeout.stop();
    m_joined = true;
    if (AppShell *shell = AppShell::shared(); shell && shell->window())
        shell->window()->close();
    close();
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    conference->showCentred();
    conference->raise();
    conference->activateWindow();
}

void QRCodeWindowController::joinError(const QString &reason)
{
    if (m_joining)
        showAlertWithMessage(reason);
}

void QRCodeWindowController::showAlertWithMessage(const QString &message)
{
    if (AppStatus::shareStatus()->isInConference())
        return;
    m_timeout.stop();
    TRQClientInEvent::ClientSyncRequestCancelEnterConference();
    setClosable(true);
    ui->indicator->stopAnimation();
    m_alert = AlertHelper::showAlertWithMessage(
        message, [this](int) { setLocked(false); }, this);
}

void QRCodeWindowController::closeEvent(QCloseEvent *event)
{
    if (m_joining && !m_joined) {
        event->ignore(); // the join runs; it ends in the conference or an alert
        return;
    }
    windowWillClose();
    QWidget::closeEvent(event);
}

void QRCodeWindowController::windowWillClose()
{
    m_timeout.stop();
    NotificationCenter::defaultCenter()->removeObserver(m_successObserver);
    NotificationCenter::defaultCenter()->removeObserver(m_errorObserver);
    if (m_joined || AppStatus::shareStatus()->isInConference())
        return;
    if (AppShell *shell = AppShell::shared(); shell && shell->window()) {
        shell->window()->show();
        shell->window()->raise();
        shell->window()->activateWindow();
    }
}
