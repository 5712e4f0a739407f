#include "ui/conference/ControlWindowController.h"

#include "bridge/Helper.h"
#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppUser.h"
#include "model/Entity.h"
#include "model/Log.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/conference/ScreenSouseViewController.h"
#include "ui/conference/ShareListInRoom.h"
#include "ui/widgets/AppShell.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/Popover.h"
#include "ui_ControlWindowController.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>

#include <cmath>

namespace CR = ConfRecords;

namespace {

ControlWindowController::WindowFactory qrFactory;

} // namespace

void ControlWindowController::setShareQRCodeWindowFactory(WindowFactory factory)
{
    qrFactory = std::move(factory);
}

ControlWindowController::ControlWindowController(JoinConferenceWindowController *joinWindow)
    : QWidget(joinWindow, JoinConferenceWindowController::controlBarInside()
                              ? Qt::Widget
                              : Qt::Tool | Qt::FramelessWindowHint)
    , ui(std::make_unique<Ui::ControlWindowController>())
    , m_joinWindow(joinWindow)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("ControlWindowController"));
    setAttribute(Qt::WA_TranslucentBackground);
    AppShell *shell = AppShell::shared();
    if (shell && isWindow())
        shell->installApplicationShortcuts(this); // the bar may hold the keyboard focus
    auto *back = new QAction(this); // F6 is the conference window's: it works here too
    back->setShortcut(QKeySequence(Qt::Key_Escape));
    if (!isWindow()) // inside the conference window: only while the bar has the keyboard
        back->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(back, &QAction::triggered, this, [this] {
        if (m_joinWindow)
            m_joinWindow->focusConference();
    });
    addAction(back);
    connect(ui->micButton, &QPushButton::clicked, this, [this] { microphone(); });
    connect(ui->speakerButton, &QPushButton::clicked, this, [this] { speaker(); });
    connect(ui->cameraButton, &QPushButton::clicked, this, [this] { camera(); });
    connect(ui->leaveButton, &QPushButton::clicked, this, [this] { leaveConference(true); });
    connect(ui->shareQRCode, &QPushButton::clicked, this, [this] { shareQRCode(); });
    connect(ui->shareButton, &QPushButton::clicked, this, [this] { share(); });
    connect(ui->shareListButton, &QPushButton::clicked, this, [this] { shareListInRoom(); });
    connect(ui->displayModelButton, &QPushButton::clicked, this, [this] { setDisplayModel(); });
    connect(ui->pinButton, &QPushButton::clicked, this, [this](bool pinned) {
        if (pinned)
            showSomeOneBig();
        else
            goBack(m_pinnedUri);
    });
    windowDidLoad();
}

ControlWindowController::~ControlWindowController() = default;

QPushButton *ControlWindowController::micButton() const
{
    return ui->micButton;
}
QPushButton *ControlWindowController::speakerButton() const
{
    return ui->speakerButton;
}
QPushButton *ControlWindowController::cameraButton() const
{
    return ui->cameraButton;
}
QPushButton *ControlWindowController::shareQRCodeButton() const
{
    return ui->shareQRCode;
}
QPushButton *ControlWindowController::shareButton() const
{
    return ui->shareButton;
}
QPushButton *ControlWindowController::shareListButton() const
{
    return ui->shareListButton;
}
QPushButton *ControlWindowController::leaveButton() const
{
    return ui->leaveButton;
}
QPushButton *ControlWindowController::pinButton() const
{
    return ui->pinButton;
}

void ControlWindowController::windowDidLoad()
{
    setImage(ui->micButton, QStringLiteral("mic_on"));
    setImage(ui->speakerButton, QStringLiteral("voice_on"));
    setImage(ui->cameraButton, QStringLiteral("camera_on"));
    ui->shareButton->setIcon(Images::icon(QStringLiteral("share_screen")));
    ui->shareListButton->setIcon(Images::icon(QStringLiteral("share_list")));
    ui->displayModelButton->setIcon(Images::icon(QStringLiteral("layout")));
    ui->pinButton->setIcon(Images::icon(QStringLiteral("pin")));
    ui->shareQRCode->setIcon(Images::icon(QStringLiteral("erweima")));

    updateInvitationButton();
    if (m_joinWindow)
        connect(m_joinWindow->contentViewController(),
                &JoinConferenceViewController::roomOwnerEntityChanged, this,
                [this] { updateInvitationButton(); });

    auto *center = NotificationCenter::defaultCenter();
    center->addObserver(NotificationCenter::changeMicFormNet, this, [this](const Notification &n) {
        changeMicFormNet(n.userInfo.value(QStringLiteral("isMuted")).toBool());
    });
    center->addObserver(
        NotificationCenter::changeSpeakerFormNet, this, [this](const Notification &n) {
            if (const auto message = n.object.value<std::shared_ptr<MessageModel>>())
                changeSpeakerFormNet(*message);
        });
}

void ControlWindowController::updateInvitationButton()
{
    const auto owner =
        m_joinWindow ? m_joinWindow->contentViewController()->roomOwnerEntity() : nullptr;
    const bool isOwner = owner && owner->entityID == AppUser::defaultUser()->entityID;
    ui->shareQRCode->setVisible(isOwner && bool(qrFactory));
}

void ControlWindowController::setImage(QPushButton *button, const QString &name)
{
    button->setProperty("imageName", name);
    button->setIcon(Images::icon(name));
    // The toggles are icons only: a screen reader hears what pressing does and what is now.
    const struct
    {
        const char16_t *image;
        QString action;
        QString state;
    } names[] = {
        {u"mic_on", tr("关闭麦克风"), tr("麦克风已打开")},
        {u"mic_off", tr("打开麦克风"), tr("麦克风已关闭")},
        {u"voice_on", tr("关闭扬声器"), tr("扬声器已打开")},
        {u"voice_off", tr("打开扬声器"), tr("扬声器已关闭")},
        {u"camera_on", tr("关闭摄像头"), tr("摄像头已打开")},
        {u"camera_off", tr("打开摄像头"), tr("摄像头已关闭")},
    };
    for (const auto &entry : names) {
        if (name == QStringView(entry.image)) {
            button->setAccessibleName(entry.action);
            button->setAccessibleDescription(entry.state);
        }
    }
}

void ControlWindowController::focusControls()
{
    raise();
    activateWindow();
    for (QPushButton *button : findChildren<QPushButton *>()) {
        if (button->isVisibleTo(this) && button->isEnabled()) {
            button->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

QString ControlWindowController::imageOf(const QPushButton *button) const
{
    return button->property("imageName").toString();
}

void ControlWindowController::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, int(0.4 * 255)));
}

void ControlWindowController::microphone()
{
    const bool muted = ui->micButton->isChecked();
    setImage(ui->micButton, muted ? QStringLiteral("mic_off") : QStringLiteral("mic_on"));
    TRQClientInEvent::ClientSyncRequestMuteMic(muted);
}

void ControlWindowController::speaker()
{
    const bool muted = ui->speakerButton->isChecked();
    setImage(ui->speakerButton, muted ? QStringLiteral("voice_off") : QStringLiteral("voice_on"));
    TRQClientInEvent::ClientSyncRequestMuteSpeaker(muted);
}

void ControlWindowController::camera()
{
    const bool off = ui->cameraButton->isChecked();
    setImage(ui->cameraButton, off ? QStringLiteral("camera_off") : QStringLiteral("camera_on"));
    TRQClientInEvent::ClientSyncRequestMuteCamera(off);
}

void ControlWindowController::leaveConference(bool fromButton)
{
    if (m_left)
        return;
    m_left = true;
    if (fromButton && m_joinWindow)
        m_joinWindow->close(); // which asks once more, without a sender
    if (m_sharePopover)
        m_sharePopover->close();
    close();
    TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    if (m_joinWindow)
        m_joinWindow->controlWindowDidLeave(this);
}

void ControlWindowController::shareQRCode()
{
    if (!qrFactory)
        return;
    if (m_qrWindow)
        m_qrWindow->deleteLater();
    m_qrWindow = qrFactory();
    if (m_qrWindow)
        m_qrWindow->show();
}

Popover *ControlWindowController::popover()
{
    if (!m_sharePopover)
        m_sharePopover = new Popover(this);
    return m_sharePopover;
}

int ControlWindowController::popoverHeight(qsizetype rows)
{
    return rows < 9 ? int(rows) * rowHeight : 320;
}

QSize ControlWindowController::shareSourcePopoverSize(
    const QList<std::shared_ptr<ScreenSourseModel>> &sources)
{
    QFont font = QApplication::font();
    font.setPointSizeF(16);
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (const auto &source : sources) {
        const QString text = QStringLiteral("  %1-%2").arg(source->appName, source->appWindowName);
        widest = std::max(widest, metrics.boundingRect(text).width());
    }
    return {int(std::ceil(std::max(widest, 400.0) + 10)), popoverHeight(sources.size())};
}

void ControlWindowController::share()
{
    auto *list = new ScreenSouseViewController;
    showList(list, shareSourcePopoverSize(list->dataSourse()), ui->shareButton);
}

void ControlWindowController::shareListInRoom()
{
    auto *list = new ShareListInRoom;
    showList(list, QSize(remoteListWidth, popoverHeight(list->dataSourse().size())),
             ui->shareListButton);
}

void ControlWindowController::showList(SourceListViewController *list, const QSize &size,
                                       QPushButton *anchor)
{
    list->setMaxWidth(size.width());
    list->setMaxHight(size.height());
    QPointer<Popover> guarded(popover());
    list->setDidSelectSourse([guarded] {
        if (guarded)
            guarded->close();
    });
    popover()->setContent(list, true);
    popover()->setContentSize(size);
    popover()->showRelativeTo(anchor, anchor->rect(), Popover::Edge::Above);
}

void ControlWindowController::setDisplayModel()
{
    TRQClientInEvent::ClientSyncRequestSetPreview(-1);
}

void ControlWindowController::showSomeOneBig()
{
    const auto participants = TRQClientInEvent::ClientSyncRequestGetCurrentContacts();
    QStringList names;
    for (const auto &p : participants)
        names.append(p->description());
    qCInfo(lcOrvale).noquote() << names.join(u'\n');
    if (participants.isEmpty()) {
        ui->pinButton->setChecked(false);
        return;
    }
    m_pinnedUri = participants.last()->uri;
    TRQClientInEvent::ClientSyncRequestSetSomeOnePin(m_pinnedUri);
}

void ControlWindowController::goBack(const QString &uri)
{
    TRQClientInEvent::ClientSyncRequestSetParticpantsLimit(16);
    TRQClientInEvent::ClientSyncRequestReleasePin(uri);
    m_pinnedUri.clear();
}

void ControlWindowController::command()
{
    TRQClientInEvent::ClientSyncRequestConferenceDetails();
}

void ControlWindowController::volumeChange(double value)
{
    qCInfo(lcOrvale, "altIncrementValue %ld", long(value));
}

void ControlWindowController::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    if (AppShell *shell = AppShell::shared())
        menu.addAction(tr("设置…"), this, [shell] { shell->showSettings(); });
    menu.addAction(tr("请求会议诊断信息"), this, [this] { command(); });
    menu.exec(event->globalPos());
}

void ControlWindowController::changeMicFormNet(bool isMuted)
{
    ui->micButton->setEnabled(!isMuted);
    const bool muted = isMuted || ui->micButton->isChecked();
    setImage(ui->micButton, muted ? QStringLiteral("mic_off") : QStringLiteral("mic_on"));
    TRQClientInEvent::ClientSyncRequestMuteMic(muted);
}

void ControlWindowController::changeSpeakerFormNet(const MessageModel &message)
{
    const QStringList parts = Helper::getCommandType(message.msg);
    if (parts.size() < 2)
        return;
    const int type = parts.first().toInt();
    if (type == CR::Command::MuteSpeaker) {
        setImage(ui->speakerButton, QStringLiteral("voice_off"));
        ui->speakerButton->setEnabled(false);
        TRQClientInEvent::ClientSyncRequestMuteSpeaker(true);
    } else if (type == CR::Command::UnmuteSpeaker) {
        ui->speakerButton->setEnabled(true);
        const bool muted = ui->speakerButton->isChecked();
        setImage(ui->speakerButton,
                 muted ? QStringLiteral("voice_off") : QStringLiteral("voice_on"));
        TRQClientInEvent::ClientSyncRequestMuteSpeaker(muted);
    }
    TRQClientInEvent::ClientAsyncRequestReply(message, ui->speakerButton->isEnabled()
                                                           ? CR::Command::SpeakerUnmuted
                                                           : CR::Command::SpeakerMuted);
}
