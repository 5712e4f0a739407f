#include "ui/main/OutsideContactDetailViewController.h"

#include "model/AppStatus.h"
#include "net/ContactListNetworking.h"
#include "net/NetWork.h"
#include "net/SoapFault.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewControllerDelegate.h"
#include "ui/main/PinWindow.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/Timing.h"
#include "ui/widgets/ToastView.h"
#include "ui_OutsideContactDetailViewController.h"

#include <QCoreApplication>
#include <QLineEdit>

namespace {

void toast(const QString &text)
{
    ToastView::showToastWithString(text, QStringLiteral("warning"));
}

} // namespace

OutsideContactDetailViewController::OutsideContactDetailViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::OutsideContactDetailViewController>())
    , m_passWindow(new PinWindow(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    ui->iconView->setPixmap(Images::pixmap(QStringLiteral("online_detail"), QSize(64, 64)));
    connect(ui->joinButton, &QPushButton::clicked, this, [this] { joinOutsideRoom(); });
    connect(m_passWindow, &PinWindow::confirmed, this, [this] { passWindowEnsure(); });
    connect(m_passWindow, &PinWindow::cancelled, this, [this] { passWindowCancle(); });
}

OutsideContactDetailViewController::~OutsideContactDetailViewController() = default;

QLabel *OutsideContactDetailViewController::name() const
{
    return ui->name;
}
QPushButton *OutsideContactDetailViewController::joinButton() const
{
    return ui->joinButton;
}
QLineEdit *OutsideContactDetailViewController::passWindowInput() const
{
    return m_passWindow->roomPassField();
}

void OutsideContactDetailViewController::setModel(const std::shared_ptr<Entity> &model)
{
    m_model = model;
    ui->name->setText(model->displayName);
}

void OutsideContactDetailViewController::joinOutsideRoom()
{
    if (AppStatus::shareStatus()->networkStatus() == 0) {
        toast(tr("网络异常"));
        return;
    }
    joinOutsideRoomWithPin(QStringLiteral(""));
    if (m_delegate)
        m_delegate->showJoinConferenceProgressWindow();
}

void OutsideContactDetailViewController::passWindowEnsure()
{
    joinOutsideRoomWithPin(passWindowInput()->text());
    m_passWindow->hide();
    if (m_delegate)
        m_delegate->showJoinConferenceProgressWindow();
}

void OutsideContactDetailViewController::passWindowCancle()
{
    passWindowInput()->clear();
    m_passWindow->hide();
}

void OutsideContactDetailViewController::joinOutsideRoomWithPin(const QString &pin)
{
    const QString address = ui->name->text();
    const QString localPart = ContactListNetworking::splitAddress(address).first;
    NetWork *request =
        NetWork::initWithUrlString(ContactListNetworking::plainAddress(),
                                   ContactListNetworking::joinIPCConferenceBody(address, pin),
                                   QStringLiteral("JoinIPCConferenceRequest"));
    // The join window is the application's: it learns the room even when this pop-over is gone.
    request->setSuccessBlock(qApp, [localPart](const QVariant &) {
        JoinConferenceWindowController *joinWindow =
            JoinConferenceWindowController::sharedJoinWindow();
        Timing::performBlockAfterDelay(1.0, joinWindow, [joinWindow, localPart] {
            joinWindow->contentViewController()->setDisplayName(localPart);
            joinWindow->contentViewController()->setRoomOwnerEntity(nullptr);
        });
    });
    request->setFailBlock(this, [this](const NetworkError &error) { joinFailed(error); });
    request->startRequest();
}

void OutsideContactDetailViewController::joinFailed(const NetworkError &error)
{
    if (m_delegate)
        m_delegate->hideJoinConferenceProgressWindow();
    switch (ContactListNetworking::outsideJoinFault(SoapFault::reasonText(error))) {
    case ContactListNetworking::OutsideJoinFault::WrongPin:
        m_passWindow->bringToFront(this);
        if (m_delegate)
            m_delegate->disMissMySelf();
        break;
    case ContactListNetworking::OutsideJoinFault::Capacity:
        toast(tr("所有的并发许可都被使用，稍后再试"));
        break;
    case ContactListNetworking::OutsideJoinFault::Other:
        toast(tr("加入会议失败，稍后再试"));
        break;
    }
}
