#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <optional>

struct EngineState;
class IceServers;
class JanusClient;
class LinkMonitor;
class MediaRetry;
class QJsonArray;
class SoundMix;
class Subscriber;
class WebRtcPeer;

/// The call's received media: one subscription at the relay, on one connection, to every stream
/// that another participant publishes in the room (their camera and voice, or their share).
/// Feeds that come and go are added to it and taken out of it, each change a new offer on the
/// same connection: the other streams flow on. The connection is made again when it fails, with
/// every feed still published. Each voice plays into the call's mix. A camera whose tile is not
/// on screen is paused at the relay and resumed when it is shown again. Whose a stream is, only
/// the service says, by the publisher ids it gave each participant: a stream under an id it did
/// not give is not shown, whatever name its sender chose. Lives on the engine's worker thread.
class Subscriptions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Subscriptions)

public:
    /// What the received streams change on the participants' tiles.
    struct Tiles
    {
        /// Whether the tile of `uri` says that its media stopped.
        std::function<void(const QString &uri, bool interrupted)> setInterrupted;
        /// The stream of `uri` is gone: no speaking or poor-link mark stays on its tile.
        std::function<void(const QString &uri)> clearMarks;
    };
    /// A publisher id the service gave: whose it is, and whether for their share.
    struct Feed
    {
        QString uri;
        bool share = false;
    };
    using Feeds = QHash<qint64, Feed>;
    /// The service's `feeds` list: each participant's URI with its `id` and `shareId`.
    static Feeds feedsFrom(const QJsonArray &list);

    /// The room this participant joined, where the others' streams are subscribed to.
    struct Room
    {
        JanusClient *janus = nullptr;
        qint64 room = 0;
        qint64 privateId = 0; ///< this participant's, which ties its subscriptions to it
        QString token;
        qint64 ownId = 0;
        QString selfUri;
        int connectTimeoutMs = 0; ///< 0 leaves the subscribers' own limit
        QString recordFolder;     ///< when not empty, the voices are recorded there, not played
        const IceServers *ice = nullptr; ///< the call's current servers, read at each subscription
    };

    /// `mix` plays the voices; `links` watches the camera streams' connections.
    Subscriptions(EngineState &state, SoundMix &mix, LinkMonitor &links, Tiles tiles,
                  QObject *parent = nullptr);
    ~Subscriptions() override;

    /// This participant joined `room`: the publishers it names are subscribed to there.
    void joined(const Room &room);
    /// The relay session is gone, and every subscription with it.
    void relayGone();
    /// Whose the room's publisher ids are now, as the service says; kept across relay sessions.
    /// Streams the relay publishes are subscribed to once their id is given (again), and those
    /// of ids no longer given are dropped.
    void setFeeds(const Feeds &feeds);
    /// The room's publisher `feed` is subscribed to unless it is this participant's, its share,
    /// not one the service gave, or already subscribed to. Whether it is another participant's
    /// camera and voice.
    bool add(qint64 feed);
    /// A remote publisher stopped publishing (`unpublished`) or left the room.
    void feedGone(qint64 feed, bool unpublished);
    /// The participants whose tiles are on screen now, by URI: the others' cameras are paused
    /// at the relay. Until the first call every camera is received.
    void setShown(const QSet<QString> &uris);
    /// The relay's event on a subscription's `handle`.
    void event(qint64 handle, const QJsonObject &data, const QJsonObject &jsep);
    /// The relay says that the stream on `handle` connected.
    void connected(qint64 handle);
    /// The peer connection of the stream on `handle` is gone: it is subscribed to again.
    void streamLost(qint64 handle);
    /// The network came back: every stream waiting to be subscribed to again is, now.
    void retryNow();
    /// The participant whose stream `feed` is, or nothing for one not subscribed to.
    QString uriOf(qint64 feed) const;
    void setSpeakerMuted(bool muted);
    QList<WebRtcPeer *> peers() const;
    /// Each received participant's link, for the call's description.
    QStringList describe() const;
    /// The relay's handle of the subscription, 0 when there is none.
    qint64 handle() const { return m_handle; }

private:
    /// Drops an older stream of the same participant and kind as `feed`.
    void replaced(qint64 feed, const QString &uri, bool share);
    /// Takes `feed` out of the subscription, and says on its tile whether it stopped publishing
    /// in the call (`unpublished`) or is no longer shown.
    void drop(qint64 feed, bool unpublished);
    /// Takes `feed` out of the subscription: its tile forgets its picture at once.
    void remove(qint64 feed);
    /// A new connection and subscription for every feed wanted, when there is none.
    void connectAll();
    /// The subscription's attach reply: `handle` at the relay for the connection.
    void attached(JanusClient *janus, quint64 request, qint64 handle);
    /// The relay's list of what each media line carries, after a join or a change.
    void streamsListed(const QJsonArray &streams);
    /// The connection stopped: the engine subscribes to every feed again.
    void lost();
    /// Closes the connection and its handle.
    void close();
    /// Sends a request on the subscription's handle once the relay took the ones before it.
    void send(const QJsonObject &body, const QJsonObject &jsep = {});
    void sendNext();
    /// Asks the relay for a new picture on each line that got a new feed.
    void askForPictures();
    /// Pauses the cameras not on screen, and resumes those that are again.
    void followShown();
    /// The participant URIs of the cameras wanted.
    QStringList cameraUris() const;
    /// The connection is up: the tiles of the cameras it carries are no longer interrupted.
    void up();
    /// The participant URIs of the cameras the subscription carries, as the relay listed them.
    QStringList carriedCameras() const;

    EngineState &m_state;
    SoundMix &m_mix;
    LinkMonitor &m_links;
    Tiles m_tiles;
    Room m_room;
    Feeds m_wanted;                       ///< the feeds received, or to be once connected
    Subscriber *m_subscriber = nullptr;   ///< the connection, while there is one
    qint64 m_handle = 0;                  ///< its handle at the relay, once attached
    quint64 m_attachRequest = 0;          ///< the request for the running connection's handle
    bool m_joined = false;                ///< the subscription was asked for on the handle
    bool m_listed = false;                ///< the relay answered the join with its streams
    bool m_up = false;                    ///< the connection carries media
    MediaRetry *m_retry = nullptr;        ///< for the connection, for the whole call
    int m_connections = 0;                ///< made in this relay session, for the description
    QHash<qint64, QString> m_cameraFeeds; ///< the participant URI of each camera feed
    Feeds m_feeds;                        ///< the service's word, for the whole call
    QSet<qint64> m_published; ///< listed by the relay as publishing, until it says they went
    std::optional<QSet<QString>> m_shown; ///< the tiles on screen, once the layout said
    QHash<QString, qint64> m_paused;      ///< the media lines paused, with the feed they carried
    QSet<QString> m_newPictures; ///< picture lines given to a new feed, until the answer is sent
    /// The requests (each with its description) waiting for the relay to take the one before.
    QList<std::pair<QJsonObject, QJsonObject>> m_outbox;
    bool m_sending = false; ///< a request is on its way to the relay
};
