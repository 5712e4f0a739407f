#pragma once

#include "engine/MediaEngine.h"
#include "engine/media/IceServers.h"
#include "engine/media/LinkMonitor.h"
#include "engine/media/MediaPipeline.h"
#include "engine/media/MediaRetry.h"
#include "engine/media/ShareSession.h"
#include "engine/media/SoundMix.h"
#include "engine/media/Subscriptions.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>

struct EngineState;
class JanusClient;
class Publisher;
class WebRtcPeer;

/// The call's audio and video through the relay the conference service names: this
/// participant publishes, and every other publisher of the room is subscribed to. Built into
/// the media module, so GStreamer is loaded with the first call, not before. Lives on the
/// engine's worker thread.
class MediaSession final : public QObject, public MediaEngine
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MediaSession)

public:
    MediaSession(EngineState &state, QObject *parent);
    ~MediaSession() override;

    void start(const QJsonObject &media) override;
    void stop() override;
    void renewIceServers(const QJsonArray &servers) override;
    void renewRelayToken(const QString &token) override;
    void setFeeds(const QJsonArray &feeds) override;
    void whenClosed(std::function<void()> done) override;
    void setMicrophoneMuted(bool muted) override;
    void follow() override;
    void startShare(const ShareSource &source) override;
    void stopShare() override;
    void reconfigure() override;
    QString describe() const override;

private:
    void connectRelay();
    /// Follows which participants' tiles are on screen (EngineState::shownVideo).
    void watchShown();
    /// Tears the call's media down, keeping what the service said about them.
    void teardown();
    void join();
    /// The relay says the own publisher id is taken, by an earlier connection that dropped or
    /// by someone who took it first: the service is told, and the join tried again a bit later.
    void idTaken();
    void joined(const QJsonObject &data);
    /// Janus's word on each stream: a hangup or a long silence of the own sound loses it.
    void watchStreams(JanusClient *janus);
    void streamLost(qint64 handle);
    void talking(qint64 feed, bool speaking);
    /// Builds the publisher from the configuration and offers its media to the relay.
    void publish();
    /// The sent media stopped: the others are told, and the engine publishes again.
    void publisherLost();
    /// The machine's network came back.
    void networkReturned();
    /// Whether an event on `handle` is about the running publisher's connection.
    bool aboutPublisher(qint64 handle) const;
    /// A stream that does not connect in time is lost, as one that fails later would be.
    void limitConnecting(WebRtcPeer *peer) const;
    /// Whether the participant's tile says that its media stopped.
    void setInterrupted(const QString &uri, bool interrupted);
    void refused(const QJsonObject &data);
    void publisherEvent(const QJsonObject &data, const QJsonObject &jsep);
    void addPublishers(const QJsonArray &list);
    /// The participant's stream is gone: no speaking or poor-link mark stays on their tile.
    void clearMarks(const QString &uri);
    void lose(const QString &note);
    /// Closes the relay session in the background; the call's next session is a new one.
    void closeRelay();
    void setNote(const QString &note);
    /// Asks the video view to draw again; never with the state's lock held.
    void repaint();
    void readSettings();
    MediaPipeline::Sending sending();
    /// The relay caps what this participant sends at the video's bit rate.
    void tellBitrate();
    /// Every connection of the call, for the statistics.
    QList<WebRtcPeer *> peers() const;
    /// The call's mix plays into the chosen speaker, and feeds the echo canceller when it wants.
    void followSpeaker();

    EngineState &m_state;
    std::unique_ptr<JanusClient> m_janus;
    QJsonObject m_media;  ///< the service's media message for the call, while in one
    QTimer m_reconnect;   ///< makes a lost relay session again
    QTimer m_rejoin;      ///< joins again under the own publisher id, once it is free
    int m_retryMs = 0;    ///< the pause before the next reconnection
    int m_refusals = 0;   ///< admissions refused in a row
    QTimer m_audioSilent; ///< runs while the relay receives no sound from this participant
    int m_closing = 0;    ///< relay sessions still closing
    QList<std::function<void()>> m_whenClosed;
    QTimer m_staleCheck; ///< repaints so that tiles whose pictures stopped show the name again
    LinkMonitor m_links; ///< the connections' quality, and the video's rate it allows
    qint64 m_room = 0;
    qint64 m_ownId = 0;
    qint64 m_shareId = 0; ///< the service's publisher id for this participant's share
    QString m_token;
    IceServers m_ice; ///< for every connection made from now on
    QString m_selfUri;
    qint64 m_publisherHandle = 0;
    qint64 m_privateId = 0;
    Publisher *m_publisher = nullptr;
    bool m_publisherAnswered = false; ///< the relay has answered the running publisher's offer
    ShareSession m_share;             ///< this participant's share, a publisher of its own
    MediaRetry m_publishRetry;
    int m_publisherFailsAfterMs = 0; ///< from the settings: the next publisher is made to fail
    int m_connectTimeoutMs = 0;      ///< from the settings: 0 leaves the peers' own limit
    int m_requestTimeoutMs = 0;      ///< from the settings: for each request to the relay
    QSslConfiguration m_ssl;         ///< from the settings: what the relay's certificate meets
    bool m_microphoneMuted = false;
    // From the settings file.
    int m_toneHz = 0;
    QString m_colour;
    QString m_recordFolder;
    bool m_generatedPicture = false;
    bool m_generatedTone = false;
    MediaPipeline::Sending m_sent; ///< what the running publisher was built or changed for
    QString m_speakerDevice;       ///< the chosen output's name at the sound server, or empty
    bool m_echoWanted = false;     ///< the microphone's echo canceller needs what is played
    SoundMix m_mix;                ///< every received voice that is played, and what is heard of it
    Subscriptions m_subscriptions; ///< the other participants' streams
};
