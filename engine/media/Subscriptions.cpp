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
{}

Subscriptions::~Subscriptions()
{
    relayGone();
}

void Subscriptions::joined(const Room &room)
{
    m_room = room;
}

void Subscriptions::relayGone()
{
    qDeleteAll(m_subscribers);
    m_subscribers.clear();
    m_attachOfFeed.clear();
    qDeleteAll(m_subscribeRetry);
    m_subscribeRetry.clear();
    m_feedOfHandle.clear();
    m_cameraFeeds.clear();
    m_unknownFeeds.clear();
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
    for (auto it = m_subscribers.cbegin(); it != m_subscribers.cend(); ++it) {
        const Feed feed = m_feeds.value(it.key());
        if (feed.uri != it.value()->uri() || feed.share != it.value()->isShare())
            gone.append(it.key());
    }
    for (auto it = m_subscribeRetry.cbegin(); it != m_subscribeRetry.cend(); ++it)
        if (!m_feeds.contains(it.key()) && !gone.contains(it.key()))
            gone.append(it.key()); // waiting to be subscribed to again
    for (const qint64 feed : std::as_const(gone))
        feedGone(feed, false);
    for (const qint64 feed : std::exchange(m_unknownFeeds, {}))
        add(feed);
}

bool Subscriptions::add(qint64 feed)
{
    if (!m_room.janus || feed == 0 || feed == m_room.ownId)
        return false;
    const auto known = m_feeds.constFind(feed);
    if (known == m_feeds.cend()) {
        qCDebug(lcMedia, "%lld is not a publisher id the service gave: not shown", feed);
        m_unknownFeeds.insert(feed);
        return false;
    }
    const QString uri = known->uri;
    const bool share = known->share;
    if (uri == m_room.selfUri)
        return false;
    if (!m_subscribers.contains(feed)) {
        replaced(feed, uri, share);
        subscribe(feed, uri, share);
    }
    if (!share)
        m_cameraFeeds.insert(feed, uri);
    return !share;
}

/// A participant back after a drop publishes under a fresh id while the relay still lists the
/// old one for a while: the newer stream replaces the older, which sends nothing any more.
void Subscriptions::replaced(qint64 feed, const QString &uri, bool share)
{
    QList<qint64> older = share ? QList<qint64>() : m_cameraFeeds.keys(uri); // some wait to retry
    for (auto it = m_subscribers.cbegin(); it != m_subscribers.cend(); ++it)
        if (it.value()->uri() == uri && it.value()->isShare() == share)
            older.append(it.key());
    for (const qint64 old : std::as_const(older)) {
        if (old == feed)
            continue;
        qCDebug(lcMedia, "%lld replaces %lld (%s)", feed, old, qPrintable(uri));
        delete m_subscribeRetry.take(old);
        m_cameraFeeds.remove(old);
        drop(old);
    }
}

void Subscriptions::subscribe(qint64 feed, const QString &uri, bool share)
{
    QString record;
    if (!m_room.recordFolder.isEmpty() && !share)
        record = QDir(m_room.recordFolder)
                     .filePath(uri.section(u'-', -1).section(u';', 0, 0) + QStringLiteral(".s16"));
    qCDebug(lcMedia, "subscribing to %lld (%s)", feed, qPrintable(uri));
    auto *subscriber = new Subscriber(m_state, uri, record, share, this);
    if (m_room.connectTimeoutMs > 0)
        subscriber->setConnectTimeout(m_room.connectTimeoutMs);
    if (m_room.ice)
        subscriber->setIceServers(*m_room.ice);
    if (!share && record.isEmpty())
        subscriber->setVoiceChannel(m_mix.addVoice());
    m_subscribers.insert(feed, subscriber);
    connect(subscriber, &WebRtcPeer::connected, this, [this, feed, uri, share] {
        if (MediaRetry *retry = m_subscribeRetry.value(feed))
            retry->succeeded();
        if (!share)
            m_tiles.setInterrupted(uri, false);
    });
    connect(
        subscriber, &WebRtcPeer::mediaLost, this,
        [this, feed, uri, share, guard = QPointer<Subscriber>(subscriber)] {
            if (guard && m_subscribers.value(feed) == guard)
                lost(feed, uri, share);
        },
        Qt::QueuedConnection);
    if (!share)
        m_links.watch(subscriber);
    if (!subscriber->start()) {
        qCDebug(lcMedia, "subscriber pipeline failed");
        return drop(feed);
    }
    qCDebug(lcMedia, "subscriber pipeline playing");
    bool speakerMuted;
    {
        QMutexLocker lock(&m_state.mutex);
        speakerMuted = m_state.speakerMuted;
    }
    subscriber->setSpeakerMuted(speakerMuted);
    JanusClient *janus = m_room.janus;
    // The reply is matched by the request, not by the subscriber: a new subscriber to the same
    // feed may live where one lost while attaching did.
    const quint64 request = ++m_attachRequests;
    m_attachOfFeed.insert(feed, request);
    janus->attach(
        [this, janus, feed, request](qint64 handle) { attached(janus, feed, request, handle); });
}

void Subscriptions::attached(JanusClient *janus, qint64 feed, quint64 request, qint64 handle)
{
    qCDebug(lcMedia, "subscriber handle %lld for %lld", handle, feed);
    if (janus != m_room.janus || handle == 0)
        return;
    Subscriber *current = m_subscribers.value(feed);
    if (!current || m_attachOfFeed.value(feed) != request) // lost while attaching
        return janus->detach(handle);
    m_feedOfHandle.insert(handle, feed);
    connect(current, &WebRtcPeer::localDescription, this, [this, handle](const QJsonObject &jsep) {
        m_room.janus->message(handle, {{"request", "start"}}, jsep);
    });
    connect(current, &WebRtcPeer::localCandidate, this,
            [this, handle](const QJsonObject &c) { m_room.janus->trickle(handle, c); });
    janus->message(handle, {{"request", "join"},
                            {"ptype", "subscriber"},
                            {"room", m_room.room},
                            {"streams", QJsonArray{QJsonObject{{"feed", feed}}}},
                            {"private_id", m_room.privateId},
                            {"token", m_room.token}});
}

void Subscriptions::lost(qint64 feed, const QString &uri, bool share)
{
    drop(feed);
    if (!share)
        m_tiles.setInterrupted(uri, true);
    MediaRetry *&retry = m_subscribeRetry[feed];
    if (!retry)
        retry = new MediaRetry(this);
    retry->schedule([this, feed, uri, share] {
        if (m_room.janus && !m_subscribers.contains(feed))
            subscribe(feed, uri, share);
    });
}

void Subscriptions::retryNow()
{
    for (MediaRetry *retry : std::as_const(m_subscribeRetry))
        retry->retryNow();
}

void Subscriptions::feedGone(qint64 feed, bool unpublished)
{
    m_unknownFeeds.remove(feed);
    delete m_subscribeRetry.take(feed);
    drop(feed);
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
    Subscriber *subscriber = m_subscribers.value(m_feedOfHandle.value(handle));
    if (!subscriber)
        return;
    if (data.contains("error"))
        qWarning("media: %s", qPrintable(data.value("error").toString()));
    if (jsep.value("type").toString() == u"offer")
        subscriber->setOffer(jsep.value("sdp").toString());
}

void Subscriptions::connected(qint64 handle)
{
    if (const Subscriber *subscriber = m_subscribers.value(m_feedOfHandle.value(handle)))
        m_tiles.setInterrupted(subscriber->uri(), false);
}

void Subscriptions::streamLost(qint64 handle)
{
    const qint64 feed = m_feedOfHandle.value(handle);
    if (const Subscriber *subscriber = m_subscribers.value(feed))
        lost(feed, subscriber->uri(), subscriber->isShare());
}

void Subscriptions::drop(qint64 feed)
{
    Subscriber *subscriber = m_subscribers.take(feed);
    m_attachOfFeed.remove(feed);
    if (!subscriber)
        return;
    if (!subscriber->isShare()) // a share's uri is its sharer's, who may speak on
        m_tiles.clearMarks(subscriber->uri());
    m_mix.removeVoice(subscriber->voiceChannel());
    const qint64 handle = m_feedOfHandle.key(feed);
    m_feedOfHandle.remove(handle);
    if (handle != 0 && m_room.janus)
        m_room.janus->detach(handle);
    delete subscriber;
}

QString Subscriptions::uriOf(qint64 feed) const
{
    const Subscriber *subscriber = m_subscribers.value(feed);
    return subscriber ? subscriber->uri() : QString();
}

void Subscriptions::setSpeakerMuted(bool muted)
{
    for (Subscriber *subscriber : std::as_const(m_subscribers))
        subscriber->setSpeakerMuted(muted);
}

QList<WebRtcPeer *> Subscriptions::peers() const
{
    return {m_subscribers.cbegin(), m_subscribers.cend()};
}

QStringList Subscriptions::describe() const
{
    QStringList links;
    for (const Subscriber *subscriber : std::as_const(m_subscribers))
        links.append((subscriber->isShare() ? QStringLiteral("share of ") : QString()) +
                     subscriber->uri() + QStringLiteral(": ") + subscriber->link().describe());
    return links;
}
