#include "ui/main/EnterByURLWindowController.h"

#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "model/AppUser.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/ToastView.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_EnterByURLWindowController.h"

#include <QRandomGenerator>
#include <QSysInfo>

EnterByURLWindowController::EnterByURLWindowController(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::EnterByURLWindowController>())
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("EnterByURLWindowController"));
    ViewHelper::setUpWindow(this);
    setFixedSize(size());
    windowDidLoad();
}

EnterByURLWindowController::~EnterByURLWindowController() = default;

QLineEdit *EnterByURLWindowController::nameTextFiled() const
{
    return ui->nameTextFiled;
}
QPushButton *EnterByURLWindowController::joinBtn() const
{
    return ui->joinBtn;
}
Spinner *EnterByURLWindowController::indicator() const
{
    return ui->indicator;
}

QString EnterByURLWindowController::proposedName(const QString &hostName, int random)
{
    const QString host = hostName.size() >= 6 ? hostName.left(5) : hostName;
    return QStringLiteral("%1 %2").arg(host).arg(random % 90 + 10, 2);
}

void EnterByURLWindowController::windowDidLoad()
{
    ui->nameTextFiled->setText(
        proposedName(QSysInfo::machineHostName(), int(QRandomGenerator::global()->bounded(90))));
    connect(ui->nameTextFiled, &QLineEdit::textChanged, this,
            [this](const QString &text) { ui->joinBtn->setEnabled(!text.isEmpty()); });
    connect(ui->joinBtn, &QPushButton::clicked, this, [this] { joinByUrl(); });
    connect(ui->nameTextFiled, &QLineEdit::returnPressed, this, [this] {
        if (ui->joinBtn->isEnabled())
            joinByUrl();
    });
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutSeconds * 1000);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        joinError(tr("请求超时,检查网络再试"));
        m_awaiting = true; // a success arriving late still shows the conference
    });
    auto *center = NotificationCenter::defaultCenter();
    center->addObserver(NotificationCenter::joinConferenceSuccess, this,
                        [this](const Notification &) { joinConferenceSucess(); });
    center->addObserver(NotificationCenter::roomLinkError, this, [this](const Notification &n) {
        joinError(n.object.toMap().value(QStringLiteral("reason")).toString());
    });
}

void EnterByURLWindowController::setJoining(bool joining)
{
    m_joining = joining;
    ui->nameTextFiled->setEnabled(!joining);
    ui->joinBtn->setEnabled(!joining && !ui->nameTextFiled->text().isEmpty());
    if (joining)
        ui->indicator->startAnimation();
    else
        ui->indicator->stopAnimation();
}

void EnterByURLWindowController::joinByUrl()
{
    setJoining(true);
    m_awaiting = true;
    m_timeout.start();
    TRQClientInEvent::ClientAsyncRequestGuestLoginWithPortal(m_confPortal, m_roomKey,
                                                             ui->nameTextFiled->text(), m_pinNum);
}

void EnterByURLWindowController::joinConferenceSucess()
{
    // Conferences this dialog did not start (a directory join of a signed-in user) are not its.
    if (!m_awaiting)
        return;
    m_awaiting = false;
    setJoining(false);
    m_timeout.stop();
    AppUser::defaultUser()->displayName = ui->nameTextFiled->text();
    JoinConferenceWindowController *joinWindow = JoinConferenceWindowController::sharedJoinWindow();
    joinWindow->contentViewController()->setDisplayName(QStringLiteral(""));
    joinWindow->showCentred();
}

void EnterByURLWindowController::joinError(const QString &reason)
{
    if (!m_joining)
        return; // a failure of a join this dialog did not start
    m_awaiting = false;
    m_timeout.stop();
    setJoining(false);
    ToastView::showToastInWindow(this, reason, QStringLiteral("warning"),
                                 ToastView::defaultSeconds);
}
