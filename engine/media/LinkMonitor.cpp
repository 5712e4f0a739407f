#include "engine/media/LinkMonitor.h"

#include "engine/EngineState.h"
#include "engine/media/Publisher.h"
#include "engine/media/Subscriber.h"

#include <QMutexLocker>

namespace {

constexpr int readingIntervalMs = 2000;

} // namespace

LinkMonitor::LinkMonitor(EngineState &state, std::function<QList<WebRtcPeer *>()> peers,
                         std::function<void(int)> tellRelay, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_peers(std::move(peers))
    , m_tellRelay(std::move(tellRelay))
{
    m_clock.start();
    m_timer.setInterval(readingIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LinkMonitor::read);
}

void LinkMonitor::stop()
{
    m_timer.stop();
    m_publisher = nullptr;
    QMutexLocker lock(&m_state.mutex);
    m_state.poorLinks.clear();
}

BitrateAdapter LinkMonitor::adapterFor(const MediaPipeline::Sending &sent)
{
    const MediaPipeline::VideoFormat level = MediaPipeline::videoFormat(sent.videoLevel);
    return BitrateAdapter({level.width, level.height, level.fps}, level.bitrate,
                          BitrateAdapter::camera());
}

void LinkMonitor::publishing(Publisher *publisher, const QString &selfUri,
                             const MediaPipeline::Sending &sent)
{
    m_publisher = publisher;
    m_selfUri = selfUri;
    setSending(sent);
    m_adapter = adapterFor(sent);
    m_applied = m_adapter.format();
    connect(publisher, &WebRtcPeer::linkRead, this, &LinkMonitor::sentRead);
}

void LinkMonitor::setSending(const MediaPipeline::Sending &sent)
{
    const bool restart = sent.videoLevel != m_sent.videoLevel ||
                         MediaPipeline::cameraSource(sent) != MediaPipeline::cameraSource(m_sent);
    m_sent = sent;
    if (!restart)
        return;
    m_adapter = adapterFor(sent);
    m_applied = m_adapter.format();
}

void LinkMonitor::watch(Subscriber *subscriber)
{
    connect(subscriber, &WebRtcPeer::linkRead, this, [this, subscriber] {
        const QHash<QString, LinkStats> &links = subscriber->links();
        for (auto it = links.cbegin(); it != links.cend(); ++it)
            mark(it.key(), it->poor());
        // The relay is as far away for what comes from it as for what goes to it.
        subscriber->followJitter(m_publisher ? m_publisher->link().roundTripMs() : -1);
    });
}

void LinkMonitor::slowLink()
{
    if (m_publisher && m_adapter.slowLink(m_clock.elapsed()))
        apply();
}

/// Asks every connection for its statistics; the adaptation's calm spells count on.
void LinkMonitor::read()
{
    for (WebRtcPeer *peer : m_peers())
        peer->readStats();
    if (m_publisher && m_adapter.tick(m_clock.elapsed()))
        apply();
}

/// What this participant sends: the receiver's reported loss may lower the video's rate.
void LinkMonitor::sentRead()
{
    const double askedAgain = m_publisher->link().sentVideoAskedAgainPercent();
    m_adapter.repairReport(askedAgain < 0 ? -1 : askedAgain / 100);
    const double loss = m_publisher->link().sentVideoLossPercent();
    if (loss >= 0 && m_adapter.lossReport(m_clock.elapsed(), loss / 100))
        apply();
    mark(m_selfUri, m_publisher->link().poor());
}

void LinkMonitor::mark(const QString &uri, bool poor)
{
    std::function<void()> repaint;
    {
        QMutexLocker lock(&m_state.mutex);
        if (m_state.poorLinks.contains(uri) == poor)
            return;
        if (poor)
            m_state.poorLinks.insert(uri);
        else
            m_state.poorLinks.remove(uri);
        repaint = m_state.repaint;
    }
    if (repaint) // called with no lock held
        repaint();
}

void LinkMonitor::apply()
{
    const BitrateAdapter::Format format = m_adapter.format();
    qInfo("media: the video is sent at %d bit/s (%d at most), %dx%d at %d/s", m_adapter.target(),
          m_adapter.ceiling(), format.width, format.height, format.fps);
    if (format == m_applied) {
        m_publisher->setBitrate(m_adapter.target());
    } else {
        m_publisher->setVideoFormat(
            MediaPipeline::videoCaps(m_sent, format.width, format.height, format.fps),
            m_adapter.target(), format.fps * 2);
        m_applied = format;
    }
    m_tellRelay(m_adapter.target());
}
