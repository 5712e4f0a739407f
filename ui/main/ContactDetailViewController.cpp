#include "ui/main/ContactDetailViewController.h"

#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "net/ContactListNetworking.h"
#include "net/NetWork.h"
#include "net/SoapFault.h"
#include "net/StringHelper.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewControllerDelegate.h"
#include "ui/main/PinWindow.h"
#include "ui/widgets/ColorHelper.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/ToastView.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_ContactDetailViewController.h"

#include <QApplication>
#include <QLineEdit>

namespace {

ContactDetailViewController::WindowFactory shareFactory;

void toast(const QString &text)
{
    ToastView::showToastWithString(text, QStringLiteral("warning"));
}

QString joined(const char *label, const QString &value)
{
    return StringHelper::localString(QString::fromUtf8(label)) + value;
}

} // namespace

void ContactDetailViewController::setShareWindowFactory(WindowFactory factory)
{
    shareFactory = std::move(factory);
}

ContactDetailViewController::ContactDetailViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ContactDetailViewController>())
    , m_urlStr(ContactListNetworking::listAddress())
    , m_passWindow(new PinWindow(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    ViewHelper::setBackgroundColor(ui->lineView, ColorHelper::lineColor());
    connect(ui->joinConferenceButton, &QPushButton::clicked, this,
            [this] { joinMyConferenceRoom(); });
    connect(ui->deleteContactButton, &QPushButton::clicked, this, [this] { deleteContact(); });
    connect(m_passWindow, &PinWindow::confirmed, this,
            [this] { joinConferenceRoomWithPassword(); });
    connect(m_passWindow, &PinWindow::cancelled, this, [this] { canclePassWindow(); });
}

ContactDetailViewController::~ContactDetailViewController() = default;

QLabel *ContactDetailViewController::nameLabel() const
{
    return ui->nameLabel;
}
QLabel *ContactDetailViewController::extentionLabel() const
{
    return ui->extentionLabel;
}
QLabel *ContactDetailViewController::tenantLabel() const
{
    return ui->tenantLabel;
}
QLabel *ContactDetailViewController::ownerLabel() const
{
    return ui->ownerLabel;
}
QLabel *ContactDetailViewController::statusLabel() const
{
    return ui->statusLabel;
}
QLabel *ContactDetailViewController::iconView() const
{
    return ui->iconView;
}
QPushButton *ContactDetailViewController::deleteContactButton() const
{
    return ui->deleteContactButton;
}
QPushButton *ContactDetailViewController::joinConferenceButton() const
{
    return ui->joinConferenceButton;
}
QLineEdit *ContactDetailViewController::roomPassField() const
{
    return m_passWindow->roomPassField();
}

void ContactDetailViewController::setContact(const std::shared_ptr<Entity> &contact)
{
    m_contact = contact;
    ui->nameLabel->setText(contact->displayName);
    ui->extentionLabel->setText(joined(QT_TRANSLATE_NOOP("Orvale", "分机号"), contact->extension));
    ui->tenantLabel->setText(joined(QT_TRANSLATE_NOOP("Orvale", "租客"), contact->tenant));
    ui->ownerLabel->setText(joined(QT_TRANSLATE_NOOP("Orvale", "邮箱"), contact->emailAddress));
    const char *status = contact->MemberStatus == u"Online" ? QT_TRANSLATE_NOOP("Orvale", "在线")
                         : contact->MemberStatus == u"Offline"
                             ? QT_TRANSLATE_NOOP("Orvale", "离线")
                             : QT_TRANSLATE_NOOP("Orvale", "忙碌");
    ui->statusLabel->setText(joined(QT_TRANSLATE_NOOP("Orvale", "状态"),
                                    StringHelper::localString(QString::fromUtf8(status))));
    if (m_contactType == 1)
        m_iconName = QStringLiteral("room_detail");
    else if (contact->MemberStatus == u"Online")
        m_iconName = QStringLiteral("online_detail");
    else if (contact->MemberStatus == u"Offline")
        m_iconName = QStringLiteral("offline_detail");
    else
        m_iconName = QStringLiteral("busy_detail");
    ui->iconView->setPixmap(Images::pixmap(m_iconName, QSize(64, 64), devicePixelRatioF()));

    QPushButton *action = ui->deleteContactButton;
    if (contact->isInMyContacts == u"true" && contact->entityIsSearched == 0) {
        action->setIcon(Images::icon(QStringLiteral("delete")));
        ViewHelper::setTag(action, deleteTag);
        action->setToolTip(tr("删除好友"));
        action->setVisible(true);
    } else if (contact->entityIsSearched == 0) {
        action->setIcon(Images::icon(QStringLiteral("share")));
        ViewHelper::setTag(action, shareTag);
        action->setToolTip(tr("分享二维码"));
        action->setVisible(bool(shareFactory));
    } else {
        action->setVisible(false);
    }
    action->setAccessibleName(action->toolTip()); // an icon only: its tooltip says what it does
}

void ContactDetailViewController::deleteContact()
{
    if (ViewHelper::tag(ui->deleteContactButton) == deleteTag)
        removeContact();
    else
        openShareWindow();
}

void ContactDetailViewController::removeContact()
{
    const QString entityId = m_contact->entityID;
    NetWork *request =
        NetWork::initWithUrlString(m_urlStr, ContactListNetworking::removeContactBody(entityId),
                                   QStringLiteral("RemoveFromMyContactsRequest"));
    request->setSuccessBlock(this, [this, entityId](const QVariant &) {
        if (m_delegate)
            m_delegate->deleteContactWithEntityId(entityId);
    });
    request->setFailBlock(this, [this](const NetworkError &error) {
        qCInfo(lcOrvale).noquote() << QStringLiteral("error %1").arg(error.message);
        toast(tr("删除好友失败"));
    });
    request->startRequest();
}

void ContactDetailViewController::openShareWindow()
{
    if (m_qrWindow) {
        m_qrWindow->show();
        m_qrWindow->raise();
        m_qrWindow->activateWindow();
        return;
    }
    if (!shareFactory)
        return;
    m_qrWindow = shareFactory();
    if (m_qrWindow)
        m_qrWindow->show();
}

void ContactDetailViewController::joinMyConferenceRoom()
{
    if (m_delegate)
        m_delegate->disMissMySelf();
    if (AppStatus::shareStatus()->networkStatus() == 0) {
        toast(tr("网络异常"));
        return;
    }
    const bool pinNeeded = m_contact->roomMode && m_contact->roomMode->hasPIN == u"true";
    if (pinNeeded && m_contact->EntityType == u"Member") {
        m_passWindow->bringToFront(this);
        if (m_delegate)
            m_delegate->disMissMySelf();
        return;
    }
    NetWork *request = NetWork::initWithUrlString(
        m_urlStr, ContactListNetworking::joinConferenceBody(m_contact->entityID),
        QStringLiteral("JoinConferenceRequest"));
    const auto entry = m_contact;
    // The join window is the application's: it learns the room even when this pop-over is gone.
    request->setSuccessBlock(qApp, [entry](const QVariant &response) {
        qCInfo(lcOrvale).noquote() << response.toMap();
        JoinConferenceViewController *content =
            JoinConferenceWindowController::sharedJoinWindow()->contentViewController();
        content->setRoomOwnerEntity(entry);
        content->setDisplayName(entry->displayName);
    });
    request->setFailBlock(this, [this](const NetworkError &error) { joinFailed(error); });
    request->startRequest();
    if (m_delegate)
        m_delegate->showJoinConferenceProgressWindow();
}

void ContactDetailViewController::joinFailed(const NetworkError &error)
{
    // The progress window goes first, so that the message shows in the window the user sees.
    if (m_delegate)
        m_delegate->hideJoinConferenceProgressWindow();
    switch (ContactListNetworking::joinFault(SoapFault::reasonText(error))) {
    case ContactListNetworking::JoinFault::Capacity:
        toast(tr("所有的并发已经用完,请稍后再试"));
        break;
    case ContactListNetworking::JoinFault::WrongPin:
        m_passWindow->bringToFront(this);
        break;
    case ContactListNetworking::JoinFault::Unavailable:
        TRQClientInEvent::ClientAsyncRequestLoginWithUserName({}, {}, {});
        toast(tr("不能加入会议,请稍后再试"));
        break;
    case ContactListNetworking::JoinFault::Other:
        toast(tr("入会失败"));
        break;
    }
}

void ContactDetailViewController::joinConferenceRoomWithPassword()
{
    NetWork *request = NetWork::initWithUrlString(
        m_urlStr,
        ContactListNetworking::joinConferenceBody(m_contact->entityID, roomPassField()->text()),
        QStringLiteral("JoinConferenceRequest"));
    QPointer<ContactDetailViewController> self(this);
    const auto entry = m_contact;
    const quint64 serial = AppStatus::shareStatus()->conferenceSerial();
    request->setSuccessBlock(qApp, [self, entry, serial](const QVariant &) {
        if (self) {
            self->roomPassField()->clear();
            self->m_passWindow->hide();
            // Nothing to wait for once the conference has begun (and maybe ended) meanwhile.
            const bool overtaken = AppStatus::shareStatus()->conferenceSerial() != serial;
            if (self->m_delegate && !overtaken)
                self->m_delegate->showJoinConferenceProgressWindow();
        }
        JoinConferenceViewController *content =
            JoinConferenceWindowController::sharedJoinWindow()->contentViewController();
        content->setDisplayName(entry->displayName);
        content->setRoomOwnerEntity(entry);
    });
    request->setFailBlock(this, [this](const NetworkError &) {
        if (m_delegate)
            m_delegate->hideJoinConferenceProgressWindow();
        ToastView::showToastInWindow(m_passWindow, tr("密码错误，请重新输入"),
                                     QStringLiteral("warning"), ToastView::defaultSeconds);
    });
    request->startRequest();
}

void ContactDetailViewController::canclePassWindow()
{
    roomPassField()->clear();
    m_passWindow->hide();
}
