#include "ui/live/PlayDirectLive.h"

#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/LiveModel.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "net/NetWork.h"
#include "ui/live/LiveVideoLayer.h"
#include "ui/multimedia/Multimedia.h"
#include "ui/widgets/ColorHelper.h"
#include "ui/widgets/MyButton.h"
#include "ui/widgets/MyView.h"
#include "ui/widgets/SliderCell.h"
#include "ui/widgets/Spinner.h"
#include "ui_PlayDirectLive.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QUrl>

namespace {

constexpr int sliderScale = 1000;

QString spanned(const QString &text, const QString &style)
{
    return QStringLiteral("<span style=\"%1\">%2</span>").arg(style, text.toHtmlEscaped());
}

} // namespace

PlayDirectLive::PlayDirectLive(std::shared_ptr<LiveModel> model, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::PlayDirectLive>())
    , m_model(std::move(model))
{
    ui->setupUi(this);
    windowDidLoad();
}

PlayDirectLive::~PlayDirectLive()
{
    windowWillClose();
}

// ---- Countdown text ----

QString PlayDirectLive::getWaitTime(qint64 milliseconds)
{
    const qint64 s = milliseconds / 1000;
    return tr("%1 天 %2 时 %3 分 %4 秒")
        .arg(s / 86400, 2)
        .arg((s % 86400) / 3600, 2)
        .arg((s % 3600) / 60, 2)
        .arg(s % 60, 2);
}

QList<PlayDirectLive::TextRun> PlayDirectLive::waitTimeRuns(const QString &text)
{
    // Each number field runs from after the previous unit and its blank to the blank before
    // its own unit, so a wider number shifts everything after it.
    //: The unit letters of the countdown, in its order: days, hours, minutes, seconds.
    const QString unitCharacters = tr("天时分秒");
    QList<TextRun> runs;
    int fieldStart = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (!unitCharacters.contains(text[i]))
            continue;
        runs.append({fieldStart, i - 1 - fieldStart, true});
        runs.append({i, 1, false});
        fieldStart = i + 2;
    }
    return runs;
}

QString PlayDirectLive::waitTimeHtml(qint64 milliseconds)
{
    const QString text = getWaitTime(milliseconds);
    const QString numberStyle = QStringLiteral("font-size: 39pt; color: #ffffff;");
    const QString unitStyle =
        QStringLiteral("font-size: 18pt; color: %1;").arg(ColorHelper::mainColor().name());
    QString html;
    int at = 0;
    for (const TextRun &run : waitTimeRuns(text)) {
        html += text.mid(at, run.start - at).toHtmlEscaped();
        html += spanned(text.mid(run.start, run.length), run.number ? numberStyle : unitStyle);
        at = run.start + run.length;
    }
    html += text.mid(at).toHtmlEscaped();
    return QStringLiteral("<span style=\"white-space: pre;\">%1</span>").arg(html);
}

// ---- Start ----

void PlayDirectLive::windowDidLoad()
{
    setWindowTitle(m_model->liveName);
    ui->textView->setPlainText(m_model->liveRemark.isEmpty() ? tr("  暂无简介")
                                                             : m_model->liveRemark);
    if (const Multimedia *multimedia = Multimedia::instance()) {
        LiveStream::Listener listener;
        listener.picture = [this](const QImage &image) { ui->playerLayer->showPicture(image); };
        listener.status = [this](LiveStream::Status status) { observeMediaStatus(status); };
        listener.failed = [this](const QString &text) {
            qCInfo(lcOrvale).noquote() << text;
            failed();
        };
        m_stream = multimedia->createLiveStream(std::move(listener));
    }
    const double volume = Preferences().directLiveStartVolume();
    setSliderValue(volume);
    if (m_stream)
        m_stream->setVolume(volume);

    setPlayTag(playingTag);
    ui->voiceButton->setNormalImageName(QStringLiteral("speaker"));
    ui->fullScreen->setNormalImageName(QStringLiteral("maximizing"));
    ui->hideLeftButton->setNormalImageName(QStringLiteral("leftgray"));
    ui->hideLeftButton->setHoverImageName(QStringLiteral("lefthover"));
    ui->hideLeftButton->setDelegate(this);
    ui->rightView->setDelegate(this);
    trackPointer();
    ui->controlView->setAttribute(Qt::WA_NoMousePropagation);
    ui->waitTimeView->hide();

    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, this, [this] {
        ui->hideLeftButton->hide();
        ui->controlView->hide();
    });
    connect(ui->playButton, &QPushButton::clicked, this, [this] { playAction(); });
    connect(ui->voiceButton, &QPushButton::clicked, this, [this] { beQuiet(); });
    connect(ui->fullScreen, &QPushButton::clicked, this, [this] { fullScreen(); });
    connect(ui->hideLeftButton, &QPushButton::clicked, this, [this] { showOrHideLeft(); });
    connect(ui->slider, &QSlider::valueChanged, this,
            [this](int value) { changeVoice(double(value) / sliderScale); });

    if (m_model->timestamp <= 0)
        liveNow();
    else
        waitLive();
    AppStatus::shareStatus()->setIsDirectLive(true);
}

// ---- Countdown ----

void PlayDirectLive::waitLive()
{
    showWaitView(false);
    ui->waitTimeView->show();
    getWaitTimeFromService();
}

void PlayDirectLive::getWaitTimeFromService()
{
    const QString url =
        Preferences().liveServiceUrl() + QStringLiteral("/rest/LiveService/getCountDownTime/%1/%2")
                                             .arg(AppUser::defaultUser()->coId, m_model->liveId);
    NetWork *request = NetWork::initWithJsonReturnUrlString(url, {});
    request->setSuccessBlock(this, [this](const QVariant &reply) {
        const QVariant left = reply.toMap().value(QStringLiteral("timestamp"));
        if (m_closed)
            return;
        if (reply.typeId() != QMetaType::QVariantMap || !left.isValid()) {
            qCInfo(lcOrvale).noquote() << reply.toString();
            return;
        }
        startCountdown(left.toLongLong());
    });
    request->setFailBlock(
        this, [](const NetworkError &error) { qCInfo(lcOrvale).noquote() << error.message; });
}

void PlayDirectLive::startCountdown(qint64 milliseconds)
{
    m_waitTime = milliseconds;
    ui->waitLabel->setText(waitTimeHtml(m_waitTime));
    if (m_waitTime < 1) {
        liveNow(); // started while the window opened
        return;
    }
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(m_tickMs);
    connect(m_timer.get(), &QTimer::timeout, this, [this] { tick(); });
    m_timer->start();
}

void PlayDirectLive::tick()
{
    m_waitTime -= 1000;
    ui->waitLabel->setText(waitTimeHtml(m_waitTime));
    if (m_waitTime < 1)
        liveNow();
}

// ---- Playback ----

void PlayDirectLive::liveNow()
{
    ui->waitTimeView->hide();
    if (m_timer) {
        m_timer->stop();
        m_timer.release()->deleteLater(); // may be the timer whose tick runs now
    }
    if ((m_stream && m_stream->isOpen()) || m_closed)
        return;
    showWaitView(true);
    if (!m_stream) {
        failed(); // no multimedia module: nothing can play
        return;
    }
    m_stream->open(QUrl(m_model->hlsAddress));
}

void PlayDirectLive::observeMediaStatus(LiveStream::Status status)
{
    switch (status) {
    case LiveStream::Status::Loaded:
        showWaitView(false);
        break;
    case LiveStream::Status::Invalid:
        failed();
        break;
    case LiveStream::Status::Stalled:
        showWaitView(true);
        m_stream->pause();
        break;
    case LiveStream::Status::Buffering:
        if (ui->playButton->property("tag").toInt() == playingTag) {
            showWaitView(false);
            m_stream->play();
        }
        break;
    case LiveStream::Status::Other:
        break;
    }
}

void PlayDirectLive::failed()
{
    m_failed = true;
    showWaitView(true);
}

void PlayDirectLive::showWaitView(bool on)
{
    // A stream that failed keeps its indicator until the window closes.
    if (on || m_failed)
        ui->waitView->startAnimation();
    else
        ui->waitView->stopAnimation();
}

void PlayDirectLive::playAction()
{
    if (!m_stream || !m_stream->isOpen())
        return;
    if (ui->playButton->property("tag").toInt() == pausedTag) {
        setPlayTag(playingTag);
        jumpToLiveEdge();
        return;
    }
    m_stream->pause();
    showWaitView(false);
    setPlayTag(pausedTag);
}

void PlayDirectLive::jumpToLiveEdge()
{
    // Resuming where the stream was paused would show the past; loading it again takes a while.
    if (m_stream->jumpToLiveEdge())
        showWaitView(true);
}

void PlayDirectLive::setPlayTag(int tag)
{
    ui->playButton->setProperty("tag", tag);
    ui->playButton->setNormalImageName(tag == playingTag ? QStringLiteral("pause2")
                                                         : QStringLiteral("play_hover"));
    ui->playButton->setAccessibleName(tag == playingTag ? tr("暂停") : tr("播放"));
}

// ---- Volume ----

double PlayDirectLive::sliderValue() const
{
    return double(ui->slider->value()) / sliderScale;
}

void PlayDirectLive::setSliderValue(double volume)
{
    const QSignalBlocker blocker(ui->slider);
    ui->slider->setValue(qRound(volume * sliderScale));
}

void PlayDirectLive::beQuiet()
{
    if (!m_stream)
        return;
    const bool muted = !m_stream->isMuted();
    m_stream->setMuted(muted);
    if (muted) {
        setSliderValue(0);
        ui->voiceButton->setNormalImageName(QStringLiteral("mute"));
        ui->voiceButton->setAccessibleName(tr("取消静音"));
        return;
    }
    // The slider shows the volume that is heard again, also after the slider went to 0.
    const double volume = Preferences().directLiveStartVolume();
    setSliderValue(volume);
    m_stream->setVolume(volume);
    ui->voiceButton->setNormalImageName(QStringLiteral("speaker"));
    ui->voiceButton->setAccessibleName(tr("静音"));
}

void PlayDirectLive::changeVoice(double value)
{
    const bool mute = value < 0.001;
    if (m_stream)
        m_stream->setMuted(mute);
    ui->voiceButton->setNormalImageName(mute ? QStringLiteral("mute") : QStringLiteral("speaker"));
    ui->voiceButton->setAccessibleName(mute ? tr("取消静音") : tr("静音"));
    if (m_stream)
        m_stream->setVolume(value);
    Preferences().setDirectLiveVolume(value);
}

// ---- Controls, side panel, full screen ----

void PlayDirectLive::trackPointer()
{
    // The parts over and beside the video keep the pointer's movements to themselves (the
    // control bar on purpose, so that its clicks do not pause), so the player watches them
    // all: a pointer moving over the controls keeps them shown.
    const QList<QWidget *> parts = findChildren<QWidget *>();
    for (QWidget *part : parts) {
        if (part == ui->rightView)
            continue; // reports to its delegate
        part->setMouseTracking(true);
        part->installEventFilter(this);
    }
}

bool PlayDirectLive::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove)
        showControls();
    return QWidget::eventFilter(watched, event);
}

void PlayDirectLive::showControls()
{
    m_hideTimer.stop();
    ui->hideLeftButton->show();
    ui->controlView->show();
    m_hideTimer.start(m_hideMs);
}

void PlayDirectLive::myView_mouseMoved(QMouseEvent *)
{
    showControls();
}

void PlayDirectLive::myView_mouseUp(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        playAction();
}

void PlayDirectLive::myView_keyDown(QKeyEvent *event)
{
    keyPressEvent(event);
}

void PlayDirectLive::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat())
        playAction();
    else if (event->key() == Qt::Key_Escape && isFullScreen())
        fullScreen();
    else
        QWidget::keyPressEvent(event);
}

void PlayDirectLive::myButton_mouseEntered(MyButton *button, QEnterEvent *)
{
    button->showImage(ui->leftView->isHidden() ? QStringLiteral("righthover")
                                               : QStringLiteral("lefthover"));
}

void PlayDirectLive::myButton_mouseExited(MyButton *button, QEvent *)
{
    button->showImage(ui->leftView->isHidden() ? QStringLiteral("rightgray")
                                               : QStringLiteral("leftgray"));
}

void PlayDirectLive::showOrHideLeft()
{
    ui->leftView->setVisible(ui->leftView->isHidden());
    const bool hidden = ui->leftView->isHidden();
    MyButton *button = ui->hideLeftButton;
    button->setHoverImageName(hidden ? QStringLiteral("righthover") : QStringLiteral("lefthover"));
    button->setNormalImageName(hidden ? QStringLiteral("rightgray") : QStringLiteral("leftgray"));
    button->setAccessibleName(hidden ? tr("显示直播简介") : tr("隐藏直播简介"));
    if (button->underMouse())
        button->showImage(button->hoverImageName());
    ui->splitView->layout()->activate();
    showControls();
}

void PlayDirectLive::fullScreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void PlayDirectLive::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const bool full = windowState().testFlag(Qt::WindowFullScreen);
    if (full == m_wasFullScreen)
        return;
    m_wasFullScreen = full;
    if (full)
        windowWillEnterFullScreen();
    else
        windowWillExitFullScreen();
}

void PlayDirectLive::windowWillEnterFullScreen()
{
    if (!ui->leftView->isHidden())
        showOrHideLeft();
    ui->fullScreen->setNormalImageName(QStringLiteral("minimize"));
    ui->fullScreen->setAccessibleName(tr("退出全屏"));
}

void PlayDirectLive::windowWillExitFullScreen()
{
    if (ui->leftView->isHidden())
        showOrHideLeft();
    ui->fullScreen->setNormalImageName(QStringLiteral("maximizing"));
    ui->fullScreen->setAccessibleName(tr("全屏"));
}

// ---- Closing ----

void PlayDirectLive::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    windowWillClose();
}

void PlayDirectLive::windowWillClose()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_stream)
        m_stream->close(); // releases the stream and its decoders
    m_model.reset();
    m_timer.reset();
    m_hideTimer.stop();
    ui->waitView->stopAnimation();
    AppStatus::shareStatus()->setIsDirectLive(false);
}

// ---- Outlets ----

QMediaPlayer *PlayDirectLive::player() const
{
    return m_stream ? m_stream->player() : nullptr;
}
QAudioOutput *PlayDirectLive::audioOutput() const
{
    return m_stream ? m_stream->audioOutput() : nullptr;
}
QVideoSink *PlayDirectLive::videoSink() const
{
    return m_stream ? m_stream->videoSink() : nullptr;
}
LiveVideoLayer *PlayDirectLive::playerLayer() const
{
    return ui->playerLayer;
}
QWidget *PlayDirectLive::splitView() const
{
    return ui->splitView;
}
QWidget *PlayDirectLive::leftView() const
{
    return ui->leftView;
}
MyView *PlayDirectLive::rightView() const
{
    return ui->rightView;
}
QTextEdit *PlayDirectLive::textView() const
{
    return ui->textView;
}
MyButton *PlayDirectLive::hideLeftButton() const
{
    return ui->hideLeftButton;
}
Spinner *PlayDirectLive::waitView() const
{
    return ui->waitView;
}
QWidget *PlayDirectLive::waitTimeView() const
{
    return ui->waitTimeView;
}
QLabel *PlayDirectLive::waitLabel() const
{
    return ui->waitLabel;
}
QWidget *PlayDirectLive::controlView() const
{
    return ui->controlView;
}
MyButton *PlayDirectLive::playButton() const
{
    return ui->playButton;
}
MyButton *PlayDirectLive::voiceButton() const
{
    return ui->voiceButton;
}
SliderCell *PlayDirectLive::slider() const
{
    return ui->slider;
}
MyButton *PlayDirectLive::fullScreenButton() const
{
    return ui->fullScreen;
}
