#pragma once

#include "engine/media/BitrateAdapter.h"
#include "engine/media/MediaPipeline.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

struct EngineState;
class Publisher;
class Subscriber;
class WebRtcPeer;

/// Watches the call's connections: reads each one's statistics every two seconds, marks the
/// participants whose link is poor in the engine state (the renderer marks their tiles), and
/// keeps the sent video's rate where the link allows it (BitrateAdapter), changing the
/// running encoder, and the picture's size and frame rate where the rate alone cannot give,
/// and telling the relay. Lives on the engine's worker thread.
class LinkMonitor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkMonitor)

public:
    /// `peers` lists the connections to read; `tellRelay(rate)` asks the relay to cap what
    /// this participant sends.
    LinkMonitor(EngineState &state, std::function<QList<WebRtcPeer *>()> peers,
                std::function<void(int)> tellRelay, QObject *parent);

    void start() { m_timer.start(); }
    /// Stops the readings and forgets every mark.
    void stop();
    /// This participant publishes through `publisher` what `sent` says, at most at the level's
    /// format and rate.
    void publishing(Publisher *publisher, const QString &selfUri,
                    const MediaPipeline::Sending &sent);
    /// Marks each participant `subscriber` receives by the link of their own streams.
    void watch(Subscriber *subscriber);
    /// The participant's connection is gone: no mark remains.
    void forget(const QString &uri) { mark(uri, false); }
    /// What is sent changes. A new level or camera starts at the level's format and rate again,
    /// as the new pictures do.
    void setSending(const MediaPipeline::Sending &sent);
    /// The relay finds what this participant sends too slow.
    void slowLink();
    /// The video's rate as the link allows it now.
    int rate() const { return m_adapter.target(); }

private:
    void read();
    void sentRead();
    void mark(const QString &uri, bool poor);
    void apply();
    static BitrateAdapter adapterFor(const MediaPipeline::Sending &sent);

    EngineState &m_state;
    std::function<QList<WebRtcPeer *>()> m_peers;
    std::function<void(int)> m_tellRelay;
    QTimer m_timer;
    QElapsedTimer m_clock;
    BitrateAdapter m_adapter;
    MediaPipeline::Sending m_sent;
    BitrateAdapter::Format m_applied; ///< what the running pipeline sends
    QPointer<Publisher> m_publisher;
    QString m_selfUri;
};
