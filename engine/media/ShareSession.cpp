#include "engine/media/ShareSession.h"

#include "engine/media/JanusClient.h"
#include "engine/media/MediaPipeline.h"
#include "engine/media/Publisher.h"
#include "engine/media/SharePace.h"
#include "engine/media/XErrorTrap.h"

#include <QPointer>

namespace {

/// How long the desktop's stream, which repeats its picture several times a second, may be quiet.
constexpr int desktopSilenceMs = 2000;
constexpr int idTakenCode = 436; ///< Janus VideoRoom's "ID exists"
/// Pictures a second of a share whose picture stands still: enough to follow a pointer.
constexpr int stillFps = 5;

} // namespace

ShareSession::ShareSession(QObject *parent)
    : QObject(parent)
{
    m_watch.setInterval(300);
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (!XErrorTrap::watchedGone())
            return;
        qInfo("media: the shared window was closed: the share ends");
        end();
    });
}

ShareSession::~ShareSession()
{
    delete m_publisher;
}

void ShareSession::start(const MediaEngine::ShareSource &source)
{
    close(); // a new choice replaces the running share
    m_retry.cancel();
    m_sharing = true;
    m_source = source;
    XErrorTrap::watch(source.window);
    if (source.window != 0)
        m_watch.start();
    open();
}

void ShareSession::stop()
{
    m_sharing = false;
    m_retry.cancel();
    m_watch.stop();
    close();
}

void ShareSession::joined(const Room &room)
{
    m_room = room;
    if (m_sharing)
        open();
}

void ShareSession::relayGone()
{
    m_retry.cancel();
    close();
    m_room = {};
}

void ShareSession::open()
{
    JanusClient *janus = m_room.janus;
    if (!janus || m_handle != 0)
        return;
    m_handle = -1;
    janus->attach([this, janus](qint64 handle) {
        if (janus != m_room.janus)
            return;
        if (m_handle != -1 || handle == 0) { // stopped meanwhile, or Janus refused
            if (handle != 0)
                janus->detach(handle);
            if (m_handle == -1)
                m_handle = 0;
            return;
        }
        m_handle = handle;
        join();
    });
}

void ShareSession::join()
{
    QJsonObject request{{"request", "join"},
                        {"ptype", "publisher"},
                        {"room", m_room.room},
                        {"display", QString(prefix() + m_room.selfUri)},
                        {"token", m_room.token}};
    if (m_room.id != 0)
        request.insert("id", m_room.id);
    m_room.janus->message(m_handle, request);
}

void ShareSession::close()
{
    delete m_publisher;
    m_publisher = nullptr;
    if (m_handle > 0 && m_room.janus)
        m_room.janus->detach(m_handle); // the others see the share's publisher leave
    m_handle = 0;
}

void ShareSession::event(const QJsonObject &data, const QJsonObject &jsep)
{
    if (data.contains("error"))
        qWarning("media: share: %s", qPrintable(data.value("error").toString()));
    // Taken, by the share of an earlier connection that dropped or by someone who took it first.
    if (data.value("error_code").toInt() == idTakenCode && !m_publisher) {
        Q_EMIT idTaken(m_room.id);
        close();
        return m_retry.schedule([this] {
            if (m_sharing)
                open();
        });
    }
    if (data.value("videoroom").toString() == u"joined")
        publish();
    else if (jsep.value("type").toString() == u"answer" && m_publisher)
        m_publisher->setAnswer(jsep.value("sdp").toString());
}

void ShareSession::publish()
{
    m_publisher = new Publisher(MediaPipeline::share(m_source), this);
    const QSize size = MediaPipeline::shareSize(m_source.width, m_source.height);
    m_rate = BitrateAdapter({size.width(), size.height(), MediaPipeline::shareFps},
                            MediaPipeline::shareBitrate(size), BitrateAdapter::share());
    m_appliedFps = MediaPipeline::shareFps;
    m_clock.start();
    connect(m_publisher, &WebRtcPeer::linkRead, this, &ShareSession::linkRead);
    if (m_room.connectTimeoutMs > 0)
        m_publisher->setConnectTimeout(m_room.connectTimeoutMs);
    if (m_room.ice)
        m_publisher->setIceServers(*m_room.ice);
    connect(m_publisher, &WebRtcPeer::localDescription, this, [this](const QJsonObject &jsep) {
        m_room.janus->message(m_handle, {{"request", "publish"}, {"video_codec", "vp8"}}, jsep);
    });
    connect(m_publisher, &WebRtcPeer::localCandidate, this,
            [this](const QJsonObject &c) { m_room.janus->trickle(m_handle, c); });
    connect(m_publisher, &WebRtcPeer::connected, &m_retry, &MediaRetry::succeeded);
    connect(
        m_publisher, &WebRtcPeer::mediaLost, this,
        [this, publisher = QPointer<Publisher>(m_publisher)] {
            if (publisher && publisher == m_publisher)
                streamLost();
        },
        Qt::QueuedConnection);
    if (!m_publisher->start()) {
        qWarning("media: the share cannot be captured");
        close();
        return;
    }
    if (GstElement *pace = m_publisher->element("sharepace")) {
        SharePace::attach(pace, stillFps);
        gst_object_unref(pace);
    }
    // The desktop's stream repeats a still picture, so it is never quiet while it lives; when
    // the desktop ends it, pipewiresrc just stops, without a message.
    if (m_source.pipeWireRemote >= 0)
        m_publisher->expectSteadyFlow("desktop", desktopSilenceMs);
}

void ShareSession::slowLink()
{
    if (m_publisher && m_rate.slowLink(m_clock.elapsed()))
        applyRate();
}

void ShareSession::linkRead()
{
    const double askedAgain = m_publisher->link().sentVideoAskedAgainPercent();
    m_rate.repairReport(askedAgain < 0 ? -1 : askedAgain / 100);
    const double loss = m_publisher->link().sentVideoLossPercent();
    const qint64 now = m_clock.elapsed();
    const bool lower = loss >= 0 && m_rate.lossReport(now, loss / 100);
    if (m_rate.tick(now) || lower)
        applyRate();
}

void ShareSession::applyRate()
{
    const int fps = m_rate.format().fps;
    qInfo("media: the share is sent at %d bit/s (%d at most), %d/s", m_rate.target(),
          m_rate.ceiling(), fps);
    if (fps == m_appliedFps) {
        m_publisher->setBitrate(m_rate.target());
        return;
    }
    m_publisher->setVideoFormat(QStringLiteral("video/x-raw,framerate=%1/1").arg(fps),
                                m_rate.target(), fps * 10);
    m_appliedFps = fps;
}

void ShareSession::streamLost()
{
    close();
    // The desktop's stream ending is the desktop ending the share; X is captured again.
    if (m_source.pipeWireRemote >= 0) {
        qInfo("media: the shared picture ended: the share ends");
        return end();
    }
    m_retry.schedule([this] {
        if (m_sharing)
            open();
    });
}

void ShareSession::end()
{
    stop();
    Q_EMIT ended();
}
