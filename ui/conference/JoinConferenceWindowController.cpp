#include "ui/conference/JoinConferenceWindowController.h"

#include "bridge/TRQClientInEvent.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/VideoView.h"
#include "ui/widgets/AppShell.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/Timing.h"
#include "ui/widgets/ViewHelper.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHideEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

JoinConferenceWindowController *JoinConferenceWindowController::sharedJoinWindow()
{
    AppShell *shell = AppShell::shared();
    Q_ASSERT(shell);
    return shell->joinWindow();
}

JoinConferenceWindowController::JoinConferenceWindowController(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_content(new JoinConferenceViewController(this))
{
    setObjectName(QStringLiteral("JoinConferenceWindowController"));
    setWindowTitle(tr("Orvale 会议"));
    setWindowIcon(Images::icon(QStringLiteral("logo")));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_content);
    resize(1100, 680);
    setMinimumSize(820, 480);
    if (AppShell *shell = AppShell::shared())
        shell->installApplicationShortcuts(this);
    // F6 takes the keyboard to the bar and back, whether the bar is a window of its own or
    // (Wayland) inside this one. Shortcuts of this window also work while the bar, a tool window
    // over it, is active.
    auto *toBar = new QAction(this);
    toBar->setShortcut(QKeySequence(Qt::Key_F6));
    connect(toBar, &QAction::triggered, this, [this] {
        if (!m_controlWindowVc || !m_controlWindowVc->isVisible())
            return;
        if (m_controlWindowVc->isActiveWindow() &&
            (!controlBarInside() || m_controlWindowVc->isAncestorOf(focusWidget())))
            focusConference();
        else
            m_controlWindowVc->focusControls();
    });
    addAction(toBar);
    setAccessibleDescription(tr("按 F6 在会议画面和控制栏之间切换"));
}

JoinConferenceWindowController::~JoinConferenceWindowController() = default;

void JoinConferenceWindowController::layOutNow()
{
    // A hidden window lays itself out only when shown; the bar needs the video area's size now.
    for (QLayout *l : {layout(), m_content->layout()}) {
        l->invalidate();
        l->activate();
    }
}

ControlWindowController *JoinConferenceWindowController::controlWindowVc() const
{
    return m_controlWindowVc;
}

bool JoinConferenceWindowController::controlBarInside()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void JoinConferenceWindowController::focusConference()
{
    activateWindow();
    if (controlBarInside())
        m_content->setFocus(Qt::OtherFocusReason);
}

QRect JoinConferenceWindowController::controlBarFrame(bool attaching) const
{
    if (!isVisible())
        const_cast<JoinConferenceWindowController *>(this)->layOutNow();
    const QRect frame = controlBarInside() ? rect() : geometry();
    const int width = m_content->videoView()->width() - (attaching ? 5 : 0);
    return {frame.x() + controlBarOffsetX,
            frame.y() + frame.height() - controlBarOffsetY - controlBarHeight, width,
            controlBarHeight};
}

void JoinConferenceWindowController::addControllView()
{
    if (m_controlWindowVc)
        m_controlWindowVc->deleteLater();
    layOutNow();
    m_controlWindowVc = new ControlWindowController(this);
    m_controlWindowVc->setGeometry(controlBarFrame(true));
    m_controlWindowVc->show();
    if (controlBarInside()) // the keyboard starts at the conference, not on the bar's buttons
        m_content->setFocus(Qt::OtherFocusReason);
    hide(); // the joining path shows the window again, with the bar over it
}

void JoinConferenceWindowController::controlWindowDidLeave(ControlWindowController *controller)
{
    if (m_controlWindowVc == controller)
        m_controlWindowVc = nullptr;
    controller->deleteLater();
}

void JoinConferenceWindowController::showCentred()
{
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        QRect frame = geometry();
        frame.setSize(frame.size().boundedTo(area.size()));
        frame.moveCenter(area.center());
        setGeometry(frame);
    }
    ViewHelper::bringToFront(this);
    raiseControlBar();
}

void JoinConferenceWindowController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_controlWindowVc)
        m_controlWindowVc->setGeometry(controlBarFrame(false));
    ++m_pendingAreaReports;
    Timing::performBlockAfterDelay(m_geometryDelay, this, [this] {
        --m_pendingAreaReports;
        reportVideoArea();
    });
}

void JoinConferenceWindowController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The bar goes and comes with the window it floats over.
    if (m_controlWindowVc) {
        m_controlWindowVc->setGeometry(controlBarFrame(false));
        m_controlWindowVc->show();
        raiseControlBar();
    }
}

void JoinConferenceWindowController::raiseControlBar()
{
    // Once this window is mapped and in front, the bar goes above it again.
    QTimer::singleShot(0, this, [this] {
        if (m_controlWindowVc && m_controlWindowVc->isVisible())
            m_controlWindowVc->raise();
    });
}

void JoinConferenceWindowController::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        raiseControlBar();
}

void JoinConferenceWindowController::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_controlWindowVc && !event->spontaneous())
        m_controlWindowVc->hide();
}

void JoinConferenceWindowController::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_controlWindowVc) {
        const QRect bar = controlBarFrame(false);
        m_controlWindowVc->move(bar.topLeft());
    }
}

void JoinConferenceWindowController::reportVideoArea()
{
    const VideoView *view = m_content->videoView();
    // Bounds origin (always 0, 0 for a widget) and frame size.
    TRQClientInEvent::ClientSyncRequestSetVideoArea(QRect(QPoint(0, 0), view->size()));
}

void JoinConferenceWindowController::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (m_controlWindowVc)
        m_controlWindowVc->leaveConference(false);
}
