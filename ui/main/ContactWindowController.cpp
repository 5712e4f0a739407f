#include "ui/main/ContactWindowController.h"

#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/IncomingCallNotification.h"
#include "ui/main/LoginViewController.h"
#include "ui/multimedia/Multimedia.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/AppShell.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/Timing.h"
#include "ui/widgets/ViewHelper.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QStackedWidget>
#include <QUrl>

ContactWindowController::ContactWindowController(QWidget *parent)
    : QMainWindow(parent)
    , m_stack(new QStackedWidget(this))
    , m_callNotification(new IncomingCallNotification(this))
{
    setObjectName(QStringLiteral("ContactWindowController"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowIcon(Images::icon(QStringLiteral("logo")));
    setWindowTitle(AppUser::defaultUser()->displayName);
    setCentralWidget(m_stack);
    resize(340, 640);
    setMinimumSize(300, 420);
    if (AppShell *shell = AppShell::shared())
        shell->installApplicationMenu(this);
    connect(AppStatus::shareStatus(), &AppStatus::networkStatusChanged, this,
            [this](qint64 status) { networkChange(status); });
}

ContactWindowController::~ContactWindowController()
{
    stopRinging();
}

void ContactWindowController::showList()
{
    showViewController(0, [this] { return new ContactListViewController(this); });
}

void ContactWindowController::showViewController(qsizetype index,
                                                 const std::function<QWidget *()> &factory)
{
    while (m_viewControllers.size() <= index) {
        QWidget *view = factory();
        if (!view)
            return;
        m_viewControllers.append(view);
        m_stack->addWidget(view);
    }
    m_stack->setCurrentWidget(m_viewControllers[index]);
}

ContactListViewController *ContactWindowController::contactList() const
{
    return m_viewControllers.isEmpty()
               ? nullptr
               : qobject_cast<ContactListViewController *>(m_viewControllers.first());
}

void ContactWindowController::acceptIncomeCallWithName(const QString &name)
{
    m_incomeCallName = name;
    if (Preferences().autoAnswer() == 1) {
        TRQClientInEvent::ClientSyncRequestAcceptIncomeCall(true);
        if (ContactListViewController *list = contactList())
            list->showJoinConferenceProgressWindow();
        return;
    }
    ViewHelper::bringToFront(this);
    // Window managers that refuse to hand over the focus still mark the window for attention.
    QApplication::alert(this);
    const QString message = tr("邀请你参加视频会议,是否入会?");
    QPointer<ContactWindowController> self(this);
    m_alert = AlertHelper::showAlertWithTitle(
        name, message, {tr("接受"), tr("取消")},
        [self](int response) {
            if (!self)
                return;
            self->stopRinging();
            if (response == AlertHelper::firstButtonResponse) {
                TRQClientInEvent::ClientSyncRequestAcceptIncomeCall(true);
                const quint64 serial = AppStatus::shareStatus()->conferenceSerial();
                Timing::performBlockAfterDelay(0.1, self, [self, serial] {
                    ContactListViewController *list = self->contactList();
                    if (list && AppStatus::shareStatus()->conferenceSerial() == serial)
                        list->showJoinConferenceProgressWindow();
                });
            } else {
                TRQClientInEvent::ClientSyncRequestAcceptIncomeCall(false);
            }
        },
        this, QStringLiteral("invite_camera"));
    notifyIncomingCall(name, message);
    ring();
}

void ContactWindowController::notifyIncomingCall(const QString &name, const QString &message)
{
    QMessageBox *alert = m_alert;
    if (!alert)
        return;
    m_callNotification->show(name, message);
    // Whatever ends the alert, the desktop's copy goes with it, unless a newer call owns it.
    // The notification withdraws itself when this window goes.
    connect(alert, &QDialog::finished, this, [this, alert] {
        if (m_alert == alert)
            m_callNotification->withdraw();
    });
    const auto press = [alert](int response) {
        if (!alert->isVisible())
            return; // already answered: a second click would answer twice
        if (QAbstractButton *button = AlertHelper::buttonForResponse(alert, response))
            button->click();
    };
    connect(m_callNotification, &IncomingCallNotification::accepted, alert,
            [press] { press(AlertHelper::firstButtonResponse); });
    connect(m_callNotification, &IncomingCallNotification::declined, alert,
            [press] { press(AlertHelper::firstButtonResponse + 1); });
}

void ContactWindowController::ring()
{
    if (!m_ring)
        if (const Multimedia *multimedia = Multimedia::instance())
            m_ring = multimedia->createSoundPlayer();
    if (m_ring)
        m_ring->play(QUrl(QStringLiteral("qrc:/sounds/alert.mp3")));
}

QMediaPlayer *ContactWindowController::player() const
{
    return m_ring ? m_ring->player() : nullptr;
}

void ContactWindowController::stopRinging()
{
    if (m_ring)
        m_ring->stop();
}

void ContactWindowController::incomeCallTimeOut()
{
    if (m_alert)
        m_alert->done(0); // ends the prompt, which declines
    AlertHelper::showAlertWithTitle(tr("错过邀请"),
                                    tr("错过了来自%1的会议邀请").arg(m_incomeCallName),
                                    {tr("确定")}, {}, this, QStringLiteral("tips"));
}

bool ContactWindowController::isCurrent() const
{
    const AppShell *shell = AppShell::shared();
    return shell && shell->loginVc() && shell->loginVc()->contactWindowController() == this;
}

bool ContactWindowController::isOwnSheet(const QWidget *window) const
{
    if (!qobject_cast<const QMessageBox *>(window))
        return false;
    // isAncestorOf() stops at window borders; sheets are windows of their own.
    for (const QObject *o = window; o; o = o->parent())
        if (o == this)
            return true;
    return false;
}

void ContactWindowController::networkChange(qint64 status)
{
    AppStatus *appStatus = AppStatus::shareStatus();
    // A window of an earlier sign-in, or one whose user has signed out, stays out of it.
    if (!isCurrent() || AppUser::defaultUser()->userName.isEmpty())
        return;
    if (status != 0) {
        TRQClientInEvent::ClientAsyncRequestLoginWithUserName({}, {}, {});
        return;
    }
    if (appStatus->isInConference() || !appStatus->isSignIn())
        return;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        // This window's own sheets stay, the earlier network alert among them.
        if (widget != this && !isOwnSheet(widget) && widget->isVisible())
            widget->close();
    }
    ViewHelper::bringToFront(this);
    if (m_networkAlert)
        return; // a flapping network does not stack alerts
    m_networkAlert = AlertHelper::showAlertWithTitle(tr("注意"), tr("网络连接好像断开了"),
                                                     {tr("确定")}, {}, this);
}

void ContactWindowController::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    if (ContactListViewController *list = contactList())
        list->dismissCurrentViewController();
}

void ContactWindowController::closeEvent(QCloseEvent *event)
{
    if (ContactListViewController *list = contactList())
        list->dismissCurrentViewController();
    if (event->spontaneous() && !closeFromTitleBar()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->spontaneous() && AppShell::shared())
        AppShell::shared()->windowClosedByUser();
}

bool ContactWindowController::closeFromTitleBar()
{
    const AppShell *shell = AppShell::shared();
    if (!shell || shell->hasTrayIcon() || !isCurrent())
        return true;
    // Without a tray icon a hidden window could not be found again: the signed-in user's
    // window stays in the task bar, and quitting is the menu's.
    showMinimized();
    return false;
}
