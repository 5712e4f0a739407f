#pragma once

#include <QPointer>
#include <QWidget>

class ControlWindowController;
class JoinConferenceViewController;

/// The one conference window of the application: the participant list, the video area the
/// engine draws into, and the control bar floating over that area while a call is active.
/// On X11 the bar is a frameless tool window kept above this one; on Wayland, where a client
/// cannot place its own windows, it is a child widget laid over the video area instead.
class JoinConferenceWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JoinConferenceWindowController)

public:
    static constexpr int controlBarHeight = 44;
    static constexpr int controlBarOffsetX = 300;
    static constexpr int controlBarOffsetY = 20;
    static constexpr double geometryDelaySeconds = 0.5;

    /// Made by the application shell, which owns it; others reach it through sharedJoinWindow().
    explicit JoinConferenceWindowController(QWidget *parent = nullptr);
    ~JoinConferenceWindowController() override;

    /// The application's window (the shell's), created on first use.
    static JoinConferenceWindowController *sharedJoinWindow();

    JoinConferenceViewController *contentViewController() const { return m_content; }
    ControlWindowController *controlWindowVc() const;

    /// True where the bar is a child of this window rather than a window of its own (Wayland).
    static bool controlBarInside();

    /// The call started: attaches a new control bar over the video area.
    void addControllView();
    /// Where the control bar goes for this window geometry; `attaching` keeps it 5 narrower.
    /// In screen coordinates, or in this window's own where the bar is inside it.
    QRect controlBarFrame(bool attaching) const;
    /// Centred on the screen, shown in front.
    void showCentred();
    /// Hands the keyboard back from the bar to the conference itself.
    void focusConference();
    /// The control bar left the conference.
    void controlWindowDidLeave(ControlWindowController *controller);
    /// How long after a resize the video area is reported; tests shorten it.
    double geometryDelay() const { return m_geometryDelay; }
    void setGeometryDelay(double seconds) { m_geometryDelay = seconds; }
    /// Reports of the video area scheduled and not yet sent.
    int pendingAreaReports() const { return m_pendingAreaReports; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void reportVideoArea();
    void layOutNow();
    void raiseControlBar();

    JoinConferenceViewController *m_content;
    QPointer<ControlWindowController> m_controlWindowVc;
    double m_geometryDelay = geometryDelaySeconds;
    int m_pendingAreaReports = 0;
};
