#include "engine/media/Subscriptions.h"

#include "bridge/shared/ConferenceMessages.h"
#include "engine/EngineState.h"
#include "engine/media/JanusClient.h"
#include "engine/media/LinkMonitor.h"
#include "engine/media/MediaRetry.h"
#include "engine/media/SoundMix.h"
#include "engine/media/Subscriber.h"

#include <algorithm>

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QPointer>

namespace {

// The media module's category, as the session logs under it.
Q_LOGGING_CATEGORY(lcMedia, "orvale.media", QtWarningMsg)

} // namespace

Subscriptions::Subscriptions(EngineState &state, SoundMix &mix, LinkMonitor &links, Tiles tiles,
                             QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_mix(mix)
    , m_links(links)
    , m_tiles(std::move(tiles))
    , m_retry(new MediaRetry(this))
{}

Subscriptions::~Subscriptions()
{
    relayGone();
}

void Subscriptions::joined(const Room &room)
{
    m_room = room;
    connectAll();
}

void Subscriptions::relayGone()
{
    close();
    m_retry->cancel();
    m_wanted.clear();
    m_cameraFeeds.clear();
    m_published.clear();
    m_connections = 0;
    m_room = {};
}

Subscriptions::Feeds Subscriptions::feedsFrom(const QJsonArray &list)
{
    namespace CF = ConferenceMessages::Field;
    Feeds feeds;
    for (const QJsonValue &value : list) {
        const QJsonObject participant = value.toObject();
        const QString uri = participant.value(CF::Uri).toString();
        for (const auto &[field, share] : {std::pair(CF::Id, false), std::pair(CF::ShareId, true)})
            if (const qint64 id = participant.value(field).toInteger(); id != 0 && !uri.isEmpty())
                feeds.insert(id, {uri, share});
    }
    return feeds;
}

void Subscriptions::setFeeds(const Feeds &feeds)
{
    m_feeds = feeds;
    QList<qint64> gone;
    for (auto it = m_wanted.cbegin(); it != m_wanted.cend(); ++it) {
        const Feed feed = m_feeds.value(it.key());
        if (feed.uri != it->uri || feed.share != it->share)
            gone.append(it.key());
    }
    for (const qint64 feed : std::as_const(gone))
        drop(feed, false);
    // The relay's word and the service's come in any order: whatever the relay still publishes
    // is subscribed to once the service gives its id, again if it was taken out meanwhile.
    for (const qint64 feed : QSet<qint64>(m_published))
        if (!m_wanted.contains(feed))
            add(feed);
}

bool Subscriptions::add(qint64 feed)
{
    if (!m_room.janus || feed == 0 || feed == m_room.ownId)
        return false;
    m_published.insert(feed);
    const auto known = m_feeds.constFind(feed);
    if (known == m_feeds.cend()) {
        qCDebug(lcMedia, "%lld is not a publisher id the service gave: not shown", feed);
        return false;
    }
    const Feed wanted = *known;
    if (wanted.uri == m_room.selfUri)
        return false;
    if (!wanted.share)
        m_cameraFeeds.insert(feed, wanted.uri);
    if (m_wanted.contains(feed))
        return !wanted.share;
    replaced(feed, wanted.uri, wanted.share);
    qCDebug(lcMedia, "subscribing to %lld (%s)", feed, qPrintable(wanted.uri));
    m_wanted.insert(feed, wanted);
    if (m_joined)
        send({{"request", "subscribe"}, {"streams", QJsonArray{QJsonObject{{"feed", feed}}}}});
    else if (!m_subscriber && m_retry->waitMs() == 0)
        connectAll();
    return !wanted.share;
}

/// A participant back after a drop publishes under a fresh id while the relay still lists the
/// old one for a while: the newer stream replaces the older, which sends nothing any more.
void Subscriptions::replaced(qint64 feed, const QString &uri, bool share)
{
    QList<qint64> older;
    for (auto it = m_wanted.cbegin(); it != m_wanted.cend(); ++it)
        if (it->uri == uri && it->share == share && it.key() != feed)
            older.append(it.key());
    if (!share)
        for (const qint64 old : m_cameraFeeds.keys(uri))
            if (old != feed && !older.contains(old))
                older.append(old);
    for (const qint64 old : std::as_const(older)) {
        qCDebug(lcMedia, "%lld replaces %lld (%s)", feed, old, qPrintable(uri));
        m_published.remove(old); // it sends nothing any more
        m_cameraFeeds.remove(old);
        remove(old);
    }
}

void Subscriptions::remove(qint64 feed)
{
    const auto it = m_wanted.constFind(feed);
    if (it == m_wanted.cend())
        return;
    const Feed gone = *it;
    m_wanted.erase(it);
    if (!gone.share) // a share's uri is its sharer's, who may speak on
        m_tiles.clearMarks(gone.uri);
    if (m_subscriber)
        m_subscriber->dropFeed(feed);
    // The relay takes the streams of a feed that stops out by itself; one replaced by a newer
    // feed of the same participant is taken out here.
    if (m_joined)
        send({{"request", "unsubscribe"}, {"streams", QJsonArray{QJsonObject{{"feed", feed}}}}});
}

void Subscriptions::connectAll()
{
    if (!m_room.janus || m_subscriber || m_wanted.isEmpty())
        return;
    qCDebug(lcMedia, "subscribing to %lld feeds on one connection", qint64(m_wanted.size()));
    m_subscriber = new Subscriber(m_state, m_mix, m_room.recordFolder, this);
    ++m_connections;
    if (m_room.connectTimeoutMs > 0)
        m_subscriber->setConnectTimeout(m_room.connectTimeoutMs);
    if (m_room.ice)
        m_subscriber->setIceServers(*m_room.ice);
    connect(m_subscriber, &WebRtcPeer::connected, this, [this] {
        m_retry->succeeded();
        up();
    });
    connect(
        m_subscriber, &WebRtcPeer::mediaLost, this,
        [this, guard = QPointer<Subscriber>(m_subscriber)] {
            if (guard && guard == m_subscriber)
                lost();
        },
        Qt::QueuedConnection);
    m_links.watch(m_subscriber);
    if (!m_subscriber->start()) {
        qCDebug(lcMedia, "subscriber pipeline failed");
        return lost();
    }
    bool speakerMuted;
    {
        QMutexLocker lock(&m_state.mutex);
        speakerMuted = m_state.speakerMuted;
    }
    m_subscriber->setSpeakerMuted(speakerMuted);
    JanusClient *janus = m_room.janus;
    // The reply is matched by the request: a new connection may live where one lost while
    // attaching did.
    const quint64 request = ++m_attachRequest;
    janus->attach([this, janus, request](qint64 handle) { attached(janus, request, handle); });
}

void Subscriptions::attached(JanusClient *janus, quint64 request, qint64 handle)
{
    qCDebug(lcMedia, "subscriber handle %lld", handle);
    if (janus != m_room.janus || handle == 0)
        return;
    if (!m_subscriber || request != m_attachRequest) // lost while attaching
        return janus->detach(handle);
    if (m_wanted.isEmpty()) { // every feed went meanwhile
        janus->detach(handle);
        return close();
    }
    m_handle = handle;
    connect(m_subscriber, &WebRtcPeer::localDescription, this, [this](const QJsonObject &jsep) {
        send({{"request", "start"}}, m_subscriber->answerForRelay(jsep));
        askForPictures();
    });
    connect(m_subscriber, &WebRtcPeer::localCandidate, this,
            [this](const QJsonObject &c) { m_room.janus->trickle(m_handle, c); });
    QList<qint64> feeds = m_wanted.keys();
    std::sort(feeds.begin(), feeds.end()); // the media lines in a steady order, for the logs
    QJsonArray streams;
    for (const qint64 feed : std::as_const(feeds))
        streams.append(QJsonObject{{"feed", feed}});
    m_joined = true;
    send({{"request", "join"},
          {"ptype", "subscriber"},
          {"room", m_room.room},
          {"streams", streams},
          {"private_id", m_room.privateId},
          {"token", m_room.token}});
}

void Subscriptions::lost()
{
    const QStringList uris = cameraUris();
    close();
    for (const QString &uri : uris) {
        m_tiles.clearMarks(uri);
        m_tiles.setInterrupted(uri, true);
    }
    m_retry->schedule([this] { connectAll(); });
}

void Subscriptions::close()
{
    if (m_handle != 0 && m_room.janus)
        m_room.janus->detach(m_handle);
    m_handle = 0;
    m_joined = m_listed = m_up = m_sending = false;
    m_outbox.clear();
    m_paused.clear();
    m_newPictures.clear();
    delete std::exchange(m_subscriber, nullptr);
}

/// The relay reads the requests on a handle in the order they reach it, and requests sent at
/// once may overtake each other: a feed taken out and added again at once would stay out.
void Subscriptions::send(const QJsonObject &body, const QJsonObject &jsep)
{
    m_outbox.append({body, jsep});
    if (!m_sending)
        sendNext();
}

void Subscriptions::sendNext()
{
    if (m_outbox.isEmpty() || !m_room.janus || m_handle == 0)
        return;
    const auto [body, jsep] = m_outbox.takeFirst();
    m_sending = true;
    m_room.janus->message(m_handle, body, jsep, [this, guard = QPointer<Subscriber>(m_subscriber)] {
        if (!guard || guard != m_subscriber)
            return; // the connection it was about is gone
        m_sending = false;
        sendNext();
    });
}

void Subscriptions::retryNow()
{
    m_retry->retryNow();
}

void Subscriptions::feedGone(qint64 feed, bool unpublished)
{
    m_published.remove(feed);
    drop(feed, unpublished);
}

void Subscriptions::drop(qint64 feed, bool unpublished)
{
    remove(feed);
    // A participant still in the call who stopped publishing lost their media, and publishes
    // again once they are restored; one who leaves is no longer shown.
    const QString uri = m_cameraFeeds.value(feed);
    if (uri.isEmpty())
        return;
    bool inCall = false;
    if (unpublished) {
        QMutexLocker lock(&m_state.mutex);
        inCall = std::any_of(m_state.participants.cbegin(), m_state.participants.cend(),
                             [&uri](const EngineState::Participant &p) { return p.uri == uri; });
    } else {
        m_cameraFeeds.remove(feed);
    }
    m_tiles.setInterrupted(uri, inCall);
}

void Subscriptions::event(qint64 handle, const QJsonObject &data, const QJsonObject &jsep)
{
    if (handle != m_handle || !m_subscriber)
        return;
    if (data.contains("error")) {
        qWarning("media: %s", qPrintable(data.value("error").toString()));
        // A join refused (a feed gone meanwhile) leaves no subscription: it is asked for again.
        if (!m_listed)
            return lost();
    }
    if (data.contains("streams"))
        streamsListed(data.value("streams").toArray());
    if (jsep.value("type").toString() == u"offer") {
        qCDebug(lcMedia, "offer: %s", qPrintable(jsep.value("sdp").toString()));
        m_subscriber->setOffer(jsep.value("sdp").toString());
    }
}

void Subscriptions::streamsListed(const QJsonArray &streams)
{
    m_listed = true;
    Subscriber::Streams lines;
    for (const QJsonValue &value : streams) {
        const QJsonObject stream = value.toObject();
        const qint64 feed = stream.value("feed_id").toInteger();
        const QString type = stream.value("type").toString();
        const auto wanted = m_wanted.constFind(feed);
        if (!stream.value("active").toBool() || wanted == m_wanted.cend() ||
            (type != u"audio" && type != u"video"))
            continue;
        lines.insert(stream.value("mid").toString(),
                     {feed, wanted->uri, wanted->share, type == u"video"});
    }
    // A picture line the relay gave to another feed waits for that feed's next keyframe: the
    // relay is asked for one once the answer is in.
    for (auto it = lines.cbegin(); it != lines.cend(); ++it)
        if (it->video && m_subscriber->streams().value(it.key()).feed != it->feed)
            m_newPictures.insert(it.key());
    m_subscriber->setStreams(lines);
    // A feed back on a connection that stays up has no connection of its own to say so.
    if (m_up)
        up();
    // A line the relay gives to another feed starts out sent.
    for (auto it = m_paused.begin(); it != m_paused.end();)
        it = lines.value(it.key()).feed == it.value() ? std::next(it) : m_paused.erase(it);
    followShown();
}

/// Asking to send a line that is sent makes the relay ask its sender for a new picture.
void Subscriptions::askForPictures()
{
    QJsonArray lines;
    for (const QString &mid : std::exchange(m_newPictures, {}))
        if (m_subscriber->streams().contains(mid) && !m_paused.contains(mid))
            lines.append(QJsonObject{{"mid", mid}, {"send", true}});
    if (!lines.isEmpty())
        send({{"request", "configure"}, {"streams", lines}});
}

void Subscriptions::setShown(const QSet<QString> &uris)
{
    m_shown = uris;
    followShown();
}

void Subscriptions::followShown()
{
    if (!m_subscriber || !m_joined)
        return;
    QJsonArray changes;
    const Subscriber::Streams &lines = m_subscriber->streams();
    QList<QString> mids = lines.keys();
    std::sort(mids.begin(), mids.end()); // in a steady order, for the logs
    for (const QString &mid : std::as_const(mids)) {
        const Subscriber::Target &line = lines[mid];
        if (!line.video || line.share)
            continue; // voices are always heard, shares always shown
        const bool send = !m_shown || m_shown->contains(line.uri);
        if (send != m_paused.contains(mid))
            continue;
        changes.append(QJsonObject{{"mid", mid}, {"send", send}});
        if (send)
            m_paused.remove(mid);
        else
            m_paused.insert(mid, line.feed);
    }
    // Resumed, the relay asks the sender for a new picture at once.
    if (!changes.isEmpty())
        send({{"request", "configure"}, {"streams", changes}});
}

void Subscriptions::connected(qint64 handle)
{
    if (handle == m_handle && m_subscriber)
        up();
}

void Subscriptions::up()
{
    m_up = true;
    for (const QString &uri : carriedCameras())
        m_tiles.setInterrupted(uri, false);
}

QStringList Subscriptions::carriedCameras() const
{
    QStringList uris;
    const Subscriber::Streams &lines = m_subscriber->streams();
    for (const Subscriber::Target &line : lines)
        if (!line.share && !uris.contains(line.uri))
            uris.append(line.uri);
    return uris;
}

void Subscriptions::streamLost(qint64 handle)
{
    if (handle == m_handle && m_subscriber)
        lost();
}

QStringList Subscriptions::cameraUris() const
{
    QStringList uris;
    for (const Feed &feed : m_wanted)
        if (!feed.share)
            uris.append(feed.uri);
    return uris;
}

QString Subscriptions::uriOf(qint64 feed) const
{
    return m_wanted.value(feed).uri;
}

void Subscriptions::setSpeakerMuted(bool muted)
{
    if (m_subscriber)
        m_subscriber->setSpeakerMuted(muted);
}

QList<WebRtcPeer *> Subscriptions::peers() const
{
    if (!m_subscriber)
        return {};
    return {m_subscriber};
}

QStringList Subscriptions::describe() const
{
    if (!m_subscriber)
        return {};
    // One entry for the one connection, each participant's own figures within it.
    QStringList each;
    const QHash<QString, LinkStats> &links = m_subscriber->links();
    for (auto it = links.cbegin(); it != links.cend(); ++it)
        each.append(it.key() + QStringLiteral(": ") + it->describe());
    each.sort();
    QStringList from;
    for (const Feed &feed : m_wanted)
        from.append(feed.share ? QStringLiteral("share of ") + feed.uri : feed.uri);
    from.sort();
    return {
        QStringLiteral("received from %1 (%2 feeds, %3 lines, handle %4, connection %5): %6 [%7]")
            .arg(from.join(QStringLiteral(", ")))
            .arg(m_wanted.size())
            .arg(m_subscriber->streams().size())
            .arg(m_handle)
            .arg(m_connections)
            .arg(m_subscriber->link().describe(), each.join(QStringLiteral(" | ")))};
}
