#pragma once

#include "engine/media/BitrateAdapter.h"

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
/// running encoder and telling the relay. Lives on the engine's worker thread.
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
    /// This participant publishes through `publisher`, at most at the level's rate.
    void publishing(Publisher *publisher, const QString &selfUri, int levelRate);
    /// Marks each participant `subscriber` receives by the link of their own streams.
    void watch(Subscriber *subscriber);
    /// The participant's connection is gone: no mark remains.
    void forget(const QString &uri) { mark(uri, false); }
    /// The quality level's rate changed: the video's rate stays under it.
    void setLevelRate(int rate) { m_adapter.setCeiling(rate); }
    /// The relay finds what this participant sends too slow.
    void slowLink();
    /// The video's rate as the link allows it now.
    int rate() const { return m_adapter.target(); }

private:
    void read();
    void sentRead();
    void mark(const QString &uri, bool poor);
    void apply();

    EngineState &m_state;
    std::function<QList<WebRtcPeer *>()> m_peers;
    std::function<void(int)> m_tellRelay;
    QTimer m_timer;
    QElapsedTimer m_clock;
    BitrateAdapter m_adapter;
    QPointer<Publisher> m_publisher;
    QString m_selfUri;
};
