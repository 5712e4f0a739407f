#include "ui/conference/JoinConferenceViewController.h"

#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/conference/VideoView.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/AppShell.h"
#include "ui/widgets/Images.h"
#include "ui_JoinConferenceViewController.h"

#include <QListWidget>
#include <QShowEvent>

JoinConferenceViewController::JoinConferenceViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::JoinConferenceViewController>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    m_retry.setSingleShot(true);
    m_retry.setInterval(retrySeconds * 1000);
    connect(&m_retry, &QTimer::timeout, this, [this] { getContactsInConference(); });
}

JoinConferenceViewController::~JoinConferenceViewController() = default;

VideoView *JoinConferenceViewController::videoView() const
{
    return ui->videoView;
}
QListWidget *JoinConferenceViewController::tableView() const
{
    return ui->tableView;
}
QLabel *JoinConferenceViewController::titleLabel() const
{
    return ui->titleLabel;
}

QString JoinConferenceViewController::titleFor(const QString &displayName, qsizetype count)
{
    if (displayName.isEmpty())
        return tr("房间里(%1人)").arg(count);
    return tr("在%1的房间里(%2人)").arg(displayName).arg(count);
}

void JoinConferenceViewController::setDisplayName(const QString &name)
{
    m_displayName = name;
    // The portal's answer may come after the engine reported the call: keep the title right.
    if (!m_contactsArray.isEmpty())
        ui->titleLabel->setText(titleFor(m_displayName, m_contactsArray.size()));
}

void JoinConferenceViewController::setRoomOwnerEntity(const std::shared_ptr<Entity> &entity)
{
    m_roomOwnerEntity = entity;
    Q_EMIT roomOwnerEntityChanged();
}

void JoinConferenceViewController::getContactsInConference()
{
    m_contactsArray.clear();
    const auto participants = TRQClientInEvent::ClientSyncRequestGetCurrentContacts();
    if (participants.isEmpty()) {
        if (!m_retry.isActive())
            m_retry.start();
        return;
    }
    m_retry.stop();
    m_contactsArray = participants;
    ui->titleLabel->setText(titleFor(m_displayName, m_contactsArray.size()));
    ui->tableView->clear();
    const QIcon icon = Images::icon(QStringLiteral("online_list"));
    for (const auto &participant : std::as_const(m_contactsArray))
        new QListWidgetItem(icon, participant->userName, ui->tableView);
}

void JoinConferenceViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    getContactsInConference();
    if (!m_networkObserver)
        m_networkObserver = connect(AppStatus::shareStatus(), &AppStatus::networkStatusChanged,
                                    this, [this](qint64 status) { networkChange(status); });
}

void JoinConferenceViewController::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    disconnect(m_networkObserver);
    m_networkObserver = {};
    m_roomOwnerEntity = nullptr;
    m_retry.stop();
}

void JoinConferenceViewController::networkChange(qint64 status)
{
    if (status != 0 || m_networkAlert)
        return;
    JoinConferenceWindowController *joinWindow = JoinConferenceWindowController::sharedJoinWindow();
    joinWindow->show();
    joinWindow->raise();
    joinWindow->activateWindow();
    m_networkAlert = AlertHelper::showAlertWithTitle(
        tr("注意"), tr("网络连接好像断开了"), {tr("确定")},
        [](int) {
            JoinConferenceWindowController::sharedJoinWindow()->close();
            AppStatus::shareStatus()->setIsInConference(false);
            if (AppShell *shell = AppShell::shared())
                shell->endConference();
        },
        joinWindow);
}
