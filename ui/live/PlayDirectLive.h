#pragma once

#include "ui/multimedia/LiveStream.h"
#include "ui/widgets/ButtonDelegate.h"
#include "ui/widgets/ViewTouchEventDelegate.h"

#include <QList>
#include <QTimer>
#include <QWidget>

#include <memory>

class LiveModel;
class LiveVideoLayer;
class MyButton;
class MyView;
class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QTextEdit;
class QVideoSink;
class SliderCell;
class Spinner;

namespace Ui {
class PlayDirectLive;
}

/// The player window of one live broadcast: a countdown until it starts, then its HLS stream
/// with an information side panel, play/pause, mute, volume and full screen.
class PlayDirectLive final : public QWidget, public ViewTouchEventDelegate, public ButtonDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlayDirectLive)

public:
    /// Play button tags.
    static constexpr int playingTag = 101;
    static constexpr int pausedTag = 100;
    static constexpr int leftWidth = 200;
    static constexpr int controlsHideMs = 4000;

    /// A run of the countdown text drawn in one style.
    struct TextRun
    {
        int start = 0;
        int length = 0;
        bool number = false; ///< a number (large, white) or a unit (main colour)
        bool operator==(const TextRun &) const = default;
    };

    explicit PlayDirectLive(std::shared_ptr<LiveModel> model, QWidget *parent = nullptr);
    ~PlayDirectLive() override;

    /// "%2ld 天 %2ld 时 %2ld 分 %2ld 秒" for a count of milliseconds.
    static QString getWaitTime(qint64 milliseconds);
    /// The numbers and units of a countdown text, where they stand.
    static QList<TextRun> waitTimeRuns(const QString &text);
    /// The countdown text with its numbers and units styled, as rich text.
    static QString waitTimeHtml(qint64 milliseconds);

    void liveNow();
    void waitLive();
    void showOrHideLeft();
    void playAction();
    void beQuiet();
    void changeVoice(double value);
    void fullScreen();

    /// The record played; null once the window has closed.
    std::shared_ptr<LiveModel> model() const { return m_model; }
    qint64 waitTime() const { return m_waitTime; }
    /// The running countdown timer, if any.
    QTimer *timer() const { return m_timer.get(); }
    /// What plays the stream, from the broadcast's start until the window closes; the sound's
    /// output and the pictures' sink exist as long as the window (null without the multimedia
    /// module).
    QMediaPlayer *player() const;
    QAudioOutput *audioOutput() const;
    QVideoSink *videoSink() const;
    LiveVideoLayer *playerLayer() const;
    QWidget *splitView() const;
    QWidget *leftView() const;
    MyView *rightView() const;
    QTextEdit *textView() const;
    MyButton *hideLeftButton() const;
    Spinner *waitView() const;
    QWidget *waitTimeView() const;
    QLabel *waitLabel() const;
    QWidget *controlView() const;
    MyButton *playButton() const;
    MyButton *voiceButton() const;
    SliderCell *slider() const;
    MyButton *fullScreenButton() const;
    /// The slider's position as a volume from 0 to 1.
    double sliderValue() const;

    /// Shorter intervals for tests: the countdown tick and the controls' hiding (from the
    /// next pointer movement on).
    void setTickInterval(int milliseconds) { m_tickMs = milliseconds; }
    void setControlsHideDelay(int milliseconds) { m_hideMs = milliseconds; }

    // The video area and the side-panel button report here.
    void myView_mouseMoved(QMouseEvent *event) override;
    void myView_mouseUp(QMouseEvent *event) override;
    void myView_keyDown(QKeyEvent *event) override;
    void myButton_mouseEntered(MyButton *button, QEnterEvent *event) override;
    void myButton_mouseExited(MyButton *button, QEvent *event) override;
    bool wantsPointerEvents() const override { return true; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void windowDidLoad();
    void getWaitTimeFromService();
    void startCountdown(qint64 milliseconds);
    void tick();
    void showWaitView(bool on);
    void observeMediaStatus(LiveStream::Status status);
    void failed();
    void jumpToLiveEdge();
    void trackPointer();
    void showControls();
    void setPlayTag(int tag);
    void setSliderValue(double volume);
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();
    void windowWillClose();

    std::unique_ptr<Ui::PlayDirectLive> ui;
    std::shared_ptr<LiveModel> m_model;
    std::unique_ptr<LiveStream> m_stream;
    std::unique_ptr<QTimer> m_timer;
    QTimer m_hideTimer;
    qint64 m_waitTime = 0;
    int m_tickMs = 1000;
    int m_hideMs = controlsHideMs;
    bool m_failed = false;
    bool m_closed = false;
    bool m_wasFullScreen = false;
};
