#include "engine/media/WebRtcPeer.h"

#include "engine/media/PipelineTeardown.h"

#define GST_USE_UNSTABLE_API
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/video/video.h>
#include <gst/webrtc/webrtc.h>

#include <QDebug>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

namespace {

/// Runs `work` on the thread of `peer`, dropped when the peer is gone by then.
template <typename F> void hop(WebRtcPeer *peer, F work)
{
    QMetaObject::invokeMethod(peer, std::move(work), Qt::QueuedConnection);
}

/// The description in `sdp`; null when there is none to read. The parser takes almost any
/// text: webrtcbin judges the rest when the description is set.
GstWebRTCSessionDescription *parseSdp(const QString &sdp, GstWebRTCSDPType type)
{
    const QByteArray text = sdp.toUtf8();
    GstSDPMessage *message = nullptr;
    if (text.isEmpty() || gst_sdp_message_new(&message) != GST_SDP_OK)
        return nullptr;
    if (gst_sdp_message_parse_buffer(reinterpret_cast<const guint8 *>(text.constData()),
                                     guint(text.size()), message) != GST_SDP_OK) {
        gst_sdp_message_free(message);
        return nullptr;
    }
    return gst_webrtc_session_description_new(type, message);
}

/// Why webrtcbin did not do what `promise` stands for; empty when it did.
QString refusal(GstPromise *promise)
{
    // Answered already: waiting returns at once with how.
    switch (gst_promise_wait(promise)) {
    case GST_PROMISE_RESULT_REPLIED:
        break;
    case GST_PROMISE_RESULT_EXPIRED:
        return QStringLiteral("no answer");
    default:
        return QStringLiteral("interrupted");
    }
    const GstStructure *reply = gst_promise_get_reply(promise);
    GError *error = nullptr;
    if (!reply || !gst_structure_get(reply, "error", G_TYPE_ERROR, &error, nullptr))
        return {};
    const QString why = QString::fromUtf8(error ? error->message : "an error");
    g_clear_error(&error);
    return why;
}

/// A promise of webrtcbin to `what`, whose reply (a copy, null when there is none) reaches
/// `then` on the thread of `peer`: webrtcbin answers on its own thread, which must not wait for
/// ours. A refusal is the stream's failure instead, reported at once.
GstPromise *answered(WebRtcPeer *peer, const char *what,
                     std::function<void(const GstStructure *)> then)
{
    struct Pending
    {
        WebRtcPeer *peer;
        const char *what;
        std::function<void(const GstStructure *)> then;
    };
    return gst_promise_new_with_change_func(
        [](GstPromise *promise, gpointer data) {
            const auto *pending = static_cast<const Pending *>(data);
            if (const QString why = refusal(promise); !why.isEmpty())
                return pending->peer->fail(QStringLiteral("webrtcbin cannot %1: %2")
                                               .arg(QLatin1String(pending->what), why));
            const GstStructure *reply = gst_promise_get_reply(promise);
            std::shared_ptr<GstStructure> copy(reply ? gst_structure_copy(reply) : nullptr,
                                               [](GstStructure *s) {
                                                   if (s)
                                                       gst_structure_free(s);
                                               });
            hop(pending->peer, [then = pending->then, copy] { then(copy.get()); });
        },
        new Pending{peer, what, std::move(then)},
        [](gpointer data) { delete static_cast<Pending *>(data); });
}

/// Errors, warnings and the end of the stream, from the thread that posts them: the peer
/// handles them on its own thread. Nothing else is kept on the bus, where it would pile up.
GstBusSyncReply busMessage(GstBus *, GstMessage *message, gpointer self)
{
    auto *peer = static_cast<WebRtcPeer *>(self);
    const QString source = QString::fromUtf8(
        GST_MESSAGE_SRC(message) ? GST_OBJECT_NAME(GST_MESSAGE_SRC(message)) : "pipeline");
    GError *error = nullptr;
    gchar *debug = nullptr;
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        gst_message_parse_error(message, &error, &debug);
        peer->fail(QStringLiteral("error from %1: %2 (%3)")
                       .arg(source, QString::fromUtf8(error->message), QString::fromUtf8(debug)));
        break;
    case GST_MESSAGE_WARNING: {
        gst_message_parse_warning(message, &error, &debug);
        const QString text =
            QStringLiteral("%1: %2 (%3)")
                .arg(source, QString::fromUtf8(error->message), QString::fromUtf8(debug));
        hop(peer, [text] { qWarning("media: warning from %s", qUtf8Printable(text)); });
        break;
    }
    case GST_MESSAGE_EOS:
        peer->fail(QStringLiteral("end of stream from %1").arg(source));
        break;
    case GST_MESSAGE_LATENCY:
        // webrtcbin makes its RTP session and transport once negotiated, after the pipeline
        // shared out its latency, and jitter buffers change theirs: the pipeline's latency is
        // worked out again. Without it the RTP session cannot tell when a packet is sent.
        hop(peer, [peer] { peer->recalculateLatency(); });
        break;
    default:
        break;
    }
    g_clear_error(&error);
    g_free(debug);
    gst_message_unref(message);
    return GST_BUS_DROP;
}

/// A numeric field of a statistics structure, whatever its type; -1 when missing.
double number(const GstStructure *s, const char *field)
{
    const GValue *value = gst_structure_get_value(s, field);
    if (!value)
        return -1;
    GValue d = G_VALUE_INIT;
    g_value_init(&d, G_TYPE_DOUBLE);
    const double n = g_value_transform(value, &d) ? g_value_get_double(&d) : -1;
    g_value_unset(&d);
    return n;
}

QString text(const GstStructure *s, const char *field)
{
    return QString::fromUtf8(gst_structure_get_string(s, field));
}

/// The RTP session's own figures of a stream, which webrtcbin passes on beside its own.
const GstStructure *sourceOf(const GstStructure *s)
{
    const GValue *value = gst_structure_get_value(s, "gst-rtpsource-stats");
    return value && GST_VALUE_HOLDS_STRUCTURE(value) ? gst_value_get_structure(value) : nullptr;
}

/// The streams of one statistics reply that carry media, with the remote receiver's report
/// joined to the stream it reports on. Audio is told from video by the RTP clock (90 kHz for
/// video) of the RTP session's own figures: webrtcbin's kind and codec are not reliable with
/// a bundle.
QList<LinkStats::Counters> streamsOf(const GstStructure *reply)
{
    QHash<QString, const GstStructure *> byId;
    const int fields = gst_structure_n_fields(reply);
    for (int i = 0; i < fields; ++i) {
        const GValue *value =
            gst_structure_get_value(reply, gst_structure_nth_field_name(reply, i));
        if (GST_VALUE_HOLDS_STRUCTURE(value)) {
            const GstStructure *s = gst_value_get_structure(value);
            byId.insert(text(s, "id"), s);
        }
    }
    QList<LinkStats::Counters> streams;
    for (const GstStructure *s : std::as_const(byId)) {
        GstWebRTCStatsType type;
        if (!gst_structure_get(s, "type", GST_TYPE_WEBRTC_STATS_TYPE, &type, nullptr) ||
            (type != GST_WEBRTC_STATS_OUTBOUND_RTP && type != GST_WEBRTC_STATS_INBOUND_RTP))
            continue;
        const GstStructure *source = sourceOf(s);
        gboolean sender = false;
        // Sources that only send reports (the relay's receiver reports) carry no media.
        if (!source || !gst_structure_get_boolean(source, "is-sender", &sender) || !sender)
            continue;
        LinkStats::Counters c;
        c.sending = type == GST_WEBRTC_STATS_OUTBOUND_RTP;
        c.video = number(source, "clock-rate") == 90000;
        c.ssrc = quint32(std::max(0.0, number(source, "ssrc")));
        c.bytes = quint64(std::max(0.0, number(s, c.sending ? "bytes-sent" : "bytes-received")));
        const auto ms = [](double seconds) { return seconds < 0 ? -1 : seconds * 1000; };
        if (c.sending) {
            if (const GstStructure *report = byId.value(text(s, "remote-id"))) {
                c.fractionLost = number(report, "fraction-lost");
                c.packetsLostThere = qint64(number(report, "packets-lost"));
                c.roundTripMs = ms(number(report, "round-trip-time"));
            }
            c.packetsSent = qint64(number(s, "packets-sent"));
        } else {
            c.packetsReceived = qint64(number(s, "packets-received"));
            // Counted as expected less received: duplicates can make it negative.
            c.packetsLost = std::max<qint64>(0, qint64(number(source, "packets-lost")));
            c.jitterMs = ms(number(s, "jitter"));
        }
        streams.append(c);
    }
    return streams;
}

/// Adds the sources of `sdp` that carry only packets sent again, each named second in a
/// retransmission group ("a=ssrc-group:FID <picture> <retransmission>").
void addRetransmissionSources(const GstSDPMessage *sdp, QSet<quint32> &sources)
{
    for (guint m = 0; m < gst_sdp_message_medias_len(sdp); ++m) {
        const GstSDPMedia *media = gst_sdp_message_get_media(sdp, m);
        for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a) {
            const GstSDPAttribute *attribute = gst_sdp_media_get_attribute(media, a);
            const QList<QByteArray> group = QByteArray(attribute->value).split(' ');
            if (g_strcmp0(attribute->key, "ssrc-group") == 0 && group.size() == 3 &&
                group[0] == "FID")
                sources.insert(group[2].toUInt());
        }
    }
}

/// Lost video packets are asked for again (NACK), and such requests answered (RTX), both ways.
/// Sound is not: Opus covers its losses itself, and a voice cannot wait for a round trip.
void askForLostVideo(GstWebRTCRTPTransceiver *transceiver)
{
    GstWebRTCKind kind = GST_WEBRTC_KIND_UNKNOWN;
    g_object_get(transceiver, "kind", &kind, nullptr);
    if (kind == GST_WEBRTC_KIND_VIDEO)
        g_object_set(transceiver, "do-nack", TRUE, nullptr);
}

/// The same for the sent media, whose transceivers learn their kind only later: it is read
/// from what feeds each of webrtcbin's pads.
void askForLostSentVideo(GstElement *webrtc)
{
    GstIterator *it = gst_element_iterate_sink_pads(webrtc);
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto *pad = GST_PAD(g_value_get_object(&item));
        GstWebRTCRTPTransceiver *transceiver = nullptr;
        g_object_get(pad, "transceiver", &transceiver, nullptr);
        GstCaps *caps = gst_pad_peer_query_caps(pad, nullptr);
        const gchar *media =
            caps && !gst_caps_is_empty(caps)
                ? gst_structure_get_string(gst_caps_get_structure(caps, 0), "media")
                : nullptr;
        if (transceiver && g_strcmp0(media, "video") == 0)
            g_object_set(transceiver, "do-nack", TRUE, nullptr);
        if (caps)
            gst_caps_unref(caps);
        if (transceiver)
            gst_object_unref(transceiver);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

/// The retransmissions of `pipeline`: asked for and sent by its RTX senders, asked for and
/// received by its RTX receivers (webrtcbin makes them once RTX is agreed).
void countRetransmissions(GstElement *pipeline, LinkStats::Retransmissions &sent,
                          LinkStats::Retransmissions &received)
{
    GstIterator *it = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto *e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory *made = gst_element_get_factory(e);
        const QByteArray factory = made ? GST_OBJECT_NAME(made) : "";
        LinkStats::Retransmissions *r = factory == "rtprtxsend"      ? &sent
                                        : factory == "rtprtxreceive" ? &received
                                                                     : nullptr;
        if (r) {
            guint requests = 0, packets = 0;
            g_object_get(e, "num-rtx-requests", &requests, "num-rtx-packets", &packets, nullptr);
            r->requests = std::max<qint64>(0, r->requests) + requests;
            r->packets = std::max<qint64>(0, r->packets) + packets;
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

/// The RTP timestamp of a packet: one per picture of a video stream.
quint32 rtpTime(GstBuffer *buffer)
{
    guint8 header[8];
    if (gst_buffer_extract(buffer, 0, header, sizeof header) != sizeof header)
        return 0;
    return quint32(header[4]) << 24 | quint32(header[5]) << 16 | quint32(header[6]) << 8 |
           header[7];
}

/// libnice's type preference (a priority's top byte) of a candidate relayed by TURN over UDP;
/// over TCP or TLS it is lower.
constexpr guint relayedOverUdp = 30;

/// A candidate as "relay tcp": its kind, and how this end reaches the other or the relay.
QString candidateOf(const GstStructure *c)
{
    static const QHash<QString, QString> kinds{
        {QStringLiteral("srflx"), QStringLiteral("server-reflexive")},
        {QStringLiteral("prflx"), QStringLiteral("peer-reflexive")}};
    const QString type = text(c, "candidate-type");
    QString protocol = text(c, "protocol");
    if (type == u"relay") {
        // The relay reaches the peer over UDP; what counts is the way to the relay. webrtcbin
        // names the transport of its first TURN server for every relayed candidate, whichever
        // server made it; libnice's priority tells: TURN over UDP ranks above TCP and TLS.
        const QString url = text(c, "url");
        const QString relay = text(c, "relay-protocol");
        guint priority = 0;
        protocol =
            gst_structure_get_uint(c, "priority", &priority)
                ? (priority >> 24 >= relayedOverUdp ? QStringLiteral("udp") : QStringLiteral("tcp"))
            : !relay.isEmpty() ? relay
            : url.contains(QStringLiteral("transport=tcp")) ||
                    url.startsWith(QStringLiteral("turns"))
                ? QStringLiteral("tcp")
            : !url.isEmpty() ? QStringLiteral("udp")
                             : protocol;
    }
    return kinds.value(type, type) + u' ' + protocol.toLower();
}

/// The selected candidate pair of a statistics reply, "relay tcp to host udp"; empty when
/// there is none yet.
QString pairOf(const GstStructure *reply)
{
    QHash<QString, const GstStructure *> byId;
    const GstStructure *pair = nullptr;
    const int fields = gst_structure_n_fields(reply);
    for (int i = 0; i < fields; ++i) {
        const GValue *value =
            gst_structure_get_value(reply, gst_structure_nth_field_name(reply, i));
        if (!GST_VALUE_HOLDS_STRUCTURE(value))
            continue;
        const GstStructure *s = gst_value_get_structure(value);
        byId.insert(text(s, "id"), s);
        GstWebRTCStatsType type;
        if (gst_structure_get(s, "type", GST_TYPE_WEBRTC_STATS_TYPE, &type, nullptr) &&
            type == GST_WEBRTC_STATS_CANDIDATE_PAIR)
            pair = s;
    }
    const GstStructure *local = pair ? byId.value(text(pair, "local-candidate-id")) : nullptr;
    const GstStructure *remote = pair ? byId.value(text(pair, "remote-candidate-id")) : nullptr;
    if (!local || !remote)
        return {};
    return candidateOf(local) + QStringLiteral(" to ") + candidateOf(remote);
}

/// On any thread: the clock starts once, whichever asks first.
qint64 steadyMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

} // namespace

/// How long a disconnected connection may take to come back by itself.
constexpr int disconnectedGraceMs = 3000;
/// How long a new connection may take to come up: a refused offer, a failed attach or ICE
/// that never completes would otherwise leave the stream waiting for good.
constexpr int connectTimeoutMs = 15000;

WebRtcPeer::WebRtcPeer(QObject *parent)
    : QObject(parent)
{
    m_disconnected.setSingleShot(true);
    m_disconnected.setInterval(disconnectedGraceMs);
    connect(&m_disconnected, &QTimer::timeout, this,
            [this] { lose(QStringLiteral("the connection to the relay was lost")); });
    m_connecting.setSingleShot(true);
    m_connecting.setInterval(connectTimeoutMs);
    connect(&m_connecting, &QTimer::timeout, this, [this] {
        lose(QStringLiteral("no connection to the relay after %1 ms").arg(m_connecting.interval()));
    });
}

WebRtcPeer::~WebRtcPeer()
{
    stopPipeline();
    if (m_webrtc) {
        g_signal_handlers_disconnect_by_data(m_webrtc, this);
        gst_object_unref(m_webrtc);
    }
    if (m_pipeline)
        gst_object_unref(m_pipeline);
}

void WebRtcPeer::stopPipeline()
{
    if (m_pipeline)
        ::stopPipeline(m_pipeline);
}

void WebRtcPeer::fail(const QString &why)
{
    hop(this, [this, why] { lose(why); });
}

void WebRtcPeer::lose(const QString &why)
{
    if (std::exchange(m_lost, true))
        return;
    m_disconnected.stop();
    m_connecting.stop();
    qWarning("media: %s", qUtf8Printable(why));
    Q_EMIT mediaLost(why);
}

void WebRtcPeer::watchBus()
{
    GstBus *bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, busMessage, this, nullptr);
    gst_object_unref(bus);
}

void WebRtcPeer::watchConnection()
{
    const auto changed = +[](GstElement *webrtc, GParamSpec *spec, gpointer self) {
        int state = 0;
        g_object_get(webrtc, spec->name, &state, nullptr);
        const bool ice = g_str_equal(spec->name, "ice-connection-state");
        auto *peer = static_cast<WebRtcPeer *>(self);
        hop(peer, [peer, state, ice] { peer->connectionChanged(state, ice); });
    };
    g_signal_connect(m_webrtc, "notify::connection-state", G_CALLBACK(changed), this);
    g_signal_connect(m_webrtc, "notify::ice-connection-state", G_CALLBACK(changed), this);
}

/// Failed is the end; disconnected may mend itself within a grace period.
void WebRtcPeer::connectionChanged(int state, bool ice)
{
    const bool failed = ice ? state == GST_WEBRTC_ICE_CONNECTION_STATE_FAILED
                            : state == GST_WEBRTC_PEER_CONNECTION_STATE_FAILED;
    const bool disconnected = ice ? state == GST_WEBRTC_ICE_CONNECTION_STATE_DISCONNECTED
                                  : state == GST_WEBRTC_PEER_CONNECTION_STATE_DISCONNECTED;
    const bool up = ice ? state == GST_WEBRTC_ICE_CONNECTION_STATE_CONNECTED ||
                              state == GST_WEBRTC_ICE_CONNECTION_STATE_COMPLETED
                        : state == GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED;
    if (failed) {
        lose(ice ? QStringLiteral("ICE failed") : QStringLiteral("the connection failed"));
    } else if (disconnected) {
        m_connected = false;
        if (!m_disconnected.isActive())
            m_disconnected.start();
    } else if (up) {
        m_disconnected.stop();
        m_connecting.stop();
        if (!std::exchange(m_connected, true) && !m_lost)
            Q_EMIT connected();
    }
}

void WebRtcPeer::setIceServers(const IceServers &servers)
{
    m_ice = servers;
    if (m_webrtc)
        applyIceServers();
}

void WebRtcPeer::applyIceServers()
{
    g_object_set(m_webrtc, "ice-transport-policy",
                 m_ice.relayOnly() ? GST_WEBRTC_ICE_TRANSPORT_POLICY_RELAY
                                   : GST_WEBRTC_ICE_TRANSPORT_POLICY_ALL,
                 nullptr);
    if (!m_ice.stun().isEmpty())
        g_object_set(m_webrtc, "stun-server", m_ice.stun().toUtf8().constData(), nullptr);
    const QStringList turn = m_ice.turn();
    for (qsizetype i = 0; i < turn.size(); ++i) {
        const QByteArray uri = turn.at(i).toUtf8();
        gboolean added = true;
        if (i == 0)
            g_object_set(m_webrtc, "turn-server", uri.constData(), nullptr);
        else
            g_signal_emit_by_name(m_webrtc, "add-turn-server", uri.constData(), &added);
        if (!added)
            qWarning("media: webrtcbin took no TURN server %s", uri.left(uri.indexOf(':')).data());
    }
}

QString WebRtcPeer::iceServersInUse() const
{
    if (!m_webrtc)
        return {};
    gchar *stun = nullptr;
    gchar *turn = nullptr;
    g_object_get(m_webrtc, "stun-server", &stun, "turn-server", &turn, nullptr);
    QStringList servers;
    for (gchar *server : {stun, turn}) {
        if (server) {
            QUrl url(QString::fromUtf8(server));
            url.setUserInfo({}); // the log holds no password
            servers.append(url.toString());
        }
        g_free(server);
    }
    GstWebRTCICETransportPolicy policy = GST_WEBRTC_ICE_TRANSPORT_POLICY_ALL;
    g_object_get(m_webrtc, "ice-transport-policy", &policy, nullptr);
    if (policy == GST_WEBRTC_ICE_TRANSPORT_POLICY_RELAY)
        servers.append(QStringLiteral("relay only"));
    return servers.join(QStringLiteral(", "));
}

bool WebRtcPeer::build(const QString &launch)
{
    GError *error = nullptr;
    m_pipeline = gst_parse_launch(launch.toUtf8().constData(), &error);
    if (error) {
        qWarning("media pipeline: %s", error->message);
        g_error_free(error);
    }
    if (!m_pipeline)
        return false;
    if (!GST_IS_PIPELINE(m_pipeline)) { // a launch line of one element gives just that element
        GstElement *pipeline = gst_pipeline_new(nullptr);
        gst_bin_add(GST_BIN(pipeline), m_pipeline);
        m_pipeline = pipeline;
    }
    // The system clock, never a device's: a microphone or speaker replaced in the running
    // call takes its clock with it, and a pipeline whose clock is gone stalls.
    GstClock *clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline), clock);
    gst_object_unref(clock);
    watchBus();
    m_webrtc = gst_bin_get_by_name(GST_BIN(m_pipeline), "webrtc");
    if (!m_webrtc)
        return false;
    watchConnection();
    askForLostSentVideo(m_webrtc);
    // Made for the relay's offer as the answer is made, a transceiver knows its kind.
    g_signal_connect(m_webrtc, "on-new-transceiver",
                     G_CALLBACK(+[](GstElement *, GstWebRTCRTPTransceiver *transceiver, gpointer) {
                         askForLostVideo(transceiver);
                     }),
                     nullptr);
    applyIceServers();
    g_signal_connect(m_webrtc, "on-ice-candidate",
                     G_CALLBACK(+[](GstElement *, guint mline, gchar *candidate, gpointer self) {
                         auto *peer = static_cast<WebRtcPeer *>(self);
                         const QString text = QString::fromUtf8(candidate);
                         hop(peer, [peer, mline, text] { peer->candidateFound(mline, text); });
                     }),
                     this);
    g_signal_connect(m_webrtc, "notify::ice-gathering-state",
                     G_CALLBACK(+[](GstElement *webrtc, GParamSpec *, gpointer self) {
                         GstWebRTCICEGatheringState state;
                         g_object_get(webrtc, "ice-gathering-state", &state, nullptr);
                         auto *peer = static_cast<WebRtcPeer *>(self);
                         if (state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE)
                             hop(peer, [peer] { peer->gatheringDone(); });
                     }),
                     this);
    return true;
}

GstElement *WebRtcPeer::rtpBin() const
{
    GstElement *found = nullptr;
    GstIterator *it = gst_bin_iterate_elements(GST_BIN(m_webrtc));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto *e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory *made = gst_element_get_factory(e);
        if (made && g_strcmp0(GST_OBJECT_NAME(made), "rtpbin") == 0)
            found = GST_ELEMENT(gst_object_ref(e));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

void WebRtcPeer::recalculateLatency()
{
    if (m_pipeline)
        gst_bin_recalculate_latency(GST_BIN(m_pipeline));
}

void WebRtcPeer::play()
{
    // Most elements that cannot start say why on the bus as well, but not all of them.
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail(QStringLiteral("the pipeline cannot start"));
    if (!m_connected && !m_lost)
        m_connecting.start();
}

GstElement *WebRtcPeer::element(const char *name) const
{
    return m_pipeline ? gst_bin_get_by_name(GST_BIN(m_pipeline), name) : nullptr;
}

void WebRtcPeer::setProperty(const char *element, const char *property, bool value)
{
    if (!m_pipeline)
        return;
    if (GstElement *e = gst_bin_get_by_name(GST_BIN(m_pipeline), element)) {
        g_object_set(e, property, gboolean(value), nullptr);
        gst_object_unref(e);
    }
}

QImage WebRtcPeer::imageOf(GstSample *sample)
{
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!buffer || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample)))
        return {};
    struct Mapped
    {
        GstBuffer *buffer;
        GstMapInfo map;
    };
    auto *mapped = new Mapped{gst_buffer_ref(buffer), {}};
    const auto release = [](void *data) {
        auto *m = static_cast<Mapped *>(data);
        gst_buffer_unmap(m->buffer, &m->map);
        gst_buffer_unref(m->buffer);
        delete m;
    };
    if (!gst_buffer_map(mapped->buffer, &mapped->map, GST_MAP_READ)) {
        gst_buffer_unref(mapped->buffer);
        delete mapped;
        return {};
    }
    const qsizetype stride = info.stride[0];
    if (mapped->map.size < info.offset[0] + stride * info.height) { // not the picture it says
        release(mapped);
        return {};
    }
    // The picture keeps its buffer mapped until its last copy goes: nothing is copied on the
    // way to the painter. A converter's pool makes a new buffer when this one is still held.
    return QImage(static_cast<const uchar *>(mapped->map.data) + info.offset[0], info.width,
                  info.height, stride, QImage::Format_RGB32, release, mapped);
}

void WebRtcPeer::watchFrames(const char *sink, void (*deliver)(WebRtcPeer *, const QImage &),
                             GstElement *bin)
{
    if (!bin)
        bin = m_pipeline;
    GstElement *frames = bin ? gst_bin_get_by_name(GST_BIN(bin), sink) : nullptr;
    if (!frames)
        return;
    struct Watch
    {
        WebRtcPeer *peer;
        void (*deliver)(WebRtcPeer *, const QImage &);
    };
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink *appSink, gpointer data) {
        if (GstSample *sample = gst_app_sink_pull_sample(appSink)) {
            const auto *watch = static_cast<const Watch *>(data);
            const QImage image = imageOf(sample);
            gst_sample_unref(sample);
            if (!image.isNull())
                watch->deliver(watch->peer, image);
        }
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(frames), &callbacks, new Watch{this, deliver},
                               [](gpointer data) { delete static_cast<Watch *>(data); });
    gst_object_unref(frames);
}

void WebRtcPeer::makeOffer()
{
    GstPromise *promise = answered(this, "make an offer",
                                   [this](const GstStructure *reply) { setLocal(reply, "offer"); });
    g_signal_emit_by_name(m_webrtc, "create-offer", nullptr, promise);
    gst_promise_unref(promise);
}

void WebRtcPeer::setLocal(const GstStructure *reply, const char *field)
{
    GstWebRTCSessionDescription *local = nullptr;
    if (reply)
        gst_structure_get(reply, field, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &local, nullptr);
    if (!local)
        return fail(QStringLiteral("webrtcbin made no %1").arg(QLatin1String(field)));
    // Sent once in place: the relay gets no description this side could not take.
    std::shared_ptr<GstWebRTCSessionDescription> kept(local, gst_webrtc_session_description_free);
    GstPromise *applied = answered(this, "set the local description",
                                   [this, kept](const GstStructure *) { describe(kept.get()); });
    g_signal_emit_by_name(m_webrtc, "set-local-description", local, applied);
    gst_promise_unref(applied);
}

void WebRtcPeer::applyAnswer(const QString &sdp)
{
    GstWebRTCSessionDescription *answer = parseSdp(sdp, GST_WEBRTC_SDP_TYPE_ANSWER);
    if (!answer)
        return fail(QStringLiteral("the relay's answer cannot be read"));
    addRetransmissionSources(answer->sdp, m_resentSources);
    GstPromise *applied = answered(this, "set the relay's answer", [](const GstStructure *) {});
    g_signal_emit_by_name(m_webrtc, "set-remote-description", answer, applied);
    gst_promise_unref(applied);
    gst_webrtc_session_description_free(answer);
}

void WebRtcPeer::answerOffer(const QString &sdp)
{
    GstWebRTCSessionDescription *offer = parseSdp(sdp, GST_WEBRTC_SDP_TYPE_OFFER);
    if (!offer)
        return fail(QStringLiteral("the relay's offer cannot be read"));
    addRetransmissionSources(offer->sdp, m_resentSources);
    // The answer is made once the offer is in place.
    GstPromise *applied =
        answered(this, "set the relay's offer", [this](const GstStructure *) { createAnswer(); });
    g_signal_emit_by_name(m_webrtc, "set-remote-description", offer, applied);
    gst_promise_unref(applied);
    gst_webrtc_session_description_free(offer);
}

void WebRtcPeer::createAnswer()
{
    GstPromise *promise = answered(
        this, "make an answer", [this](const GstStructure *reply) { setLocal(reply, "answer"); });
    g_signal_emit_by_name(m_webrtc, "create-answer", nullptr, promise);
    gst_promise_unref(promise);
}

void WebRtcPeer::describe(const GstWebRTCSessionDescription *local)
{
    addRetransmissionSources(local->sdp, m_resentSources);
    gchar *text = gst_sdp_message_as_text(local->sdp);
    const QJsonObject jsep{
        {"type", QString::fromLatin1(gst_webrtc_sdp_type_to_string(local->type))},
        {"sdp", QString::fromUtf8(text)}};
    g_free(text);
    Q_EMIT localDescription(jsep);
    // Candidates may only follow the description they belong to.
    m_described = true;
    for (const QJsonObject &c : std::exchange(m_waiting, {}))
        Q_EMIT localCandidate(c);
    if (m_gathered)
        Q_EMIT localCandidate({});
}

void WebRtcPeer::candidateFound(uint mline, const QString &candidate)
{
    const QJsonObject c{{"sdpMLineIndex", int(mline)}, {"candidate", candidate}};
    if (m_described)
        Q_EMIT localCandidate(c);
    else
        m_waiting.append(c);
}

void WebRtcPeer::gatheringDone()
{
    m_gathered = true;
    if (m_described)
        Q_EMIT localCandidate({});
}

void WebRtcPeer::readStats()
{
    if (!m_webrtc)
        return;
    // Answered on webrtcbin's thread, or expired when the pipeline stops: either way before
    // the destructor's stopPipeline() returns, so this peer is still there.
    GstPromise *promise = gst_promise_new_with_change_func(
        [](GstPromise *answered, gpointer self) {
            // The promise has changed already: this does not wait.
            if (gst_promise_wait(answered) != GST_PROMISE_RESULT_REPLIED)
                return;
            const GstStructure *reply = gst_promise_get_reply(answered);
            if (!reply)
                return;
            auto *peer = static_cast<WebRtcPeer *>(self);
            const QList<LinkStats::Counters> streams = streamsOf(reply);
            const QString pair = pairOf(reply);
            // Timed here: on a busy engine thread several readings can wait, and timed when
            // handled one would count two seconds' bytes over a few milliseconds.
            const qint64 read = steadyMs();
            hop(peer, [peer, streams, pair, read] {
                peer->m_link.setPair(pair);
                peer->statsArrived(streams, read);
            });
        },
        this, nullptr);
    g_signal_emit_by_name(m_webrtc, "get-stats", nullptr, promise);
    gst_promise_unref(promise);
}

void WebRtcPeer::statsArrived(QList<LinkStats::Counters> streams, qint64 now)
{
    // Packets sent again come on a source of their own, a second video stream to webrtcbin's
    // figures; they count with the requests, not as a picture.
    streams.removeIf(
        [this](const LinkStats::Counters &c) { return m_resentSources.contains(c.ssrc); });
    const qint64 in = m_framesIn, out = m_framesOut;
    LinkStats::Frames frames{out, in < 0 ? -1 : in - out};
    // The picture the depayloader is putting together is not damaged yet.
    if (const qint64 whole = m_picturesIn; whole >= 0)
        frames.damaged = std::max<qint64>(0, whole - m_depayloaders - m_picturesOut);
    LinkStats::Retransmissions sent, received;
    countRetransmissions(m_pipeline, sent, received);
    m_link.update(now, streams, frames, {sent, received});
    streamsRead(now, streams);
    Q_EMIT linkRead();
}

void WebRtcPeer::countDamaged(GstElement *depayloader)
{
    // The first depayloader starts the counts; each keeps the RTP time of its own pictures.
    qint64 none = -1;
    if (m_picturesIn.compare_exchange_strong(none, 0))
        m_picturesOut = 0;
    ++m_depayloaders;
    struct Picture
    {
        WebRtcPeer *peer;
        quint32 lastRtpTime = 0;
        bool seen = false;
    };
    GstPad *in = gst_element_get_static_pad(depayloader, "sink");
    GstPad *out = gst_element_get_static_pad(depayloader, "src");
    if (in)
        gst_pad_add_probe(
            in, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad *, GstPadProbeInfo *info, gpointer data) {
                auto *picture = static_cast<Picture *>(data);
                const quint32 time = rtpTime(GST_PAD_PROBE_INFO_BUFFER(info));
                if (std::exchange(picture->lastRtpTime, time) != time ||
                    !std::exchange(picture->seen, true))
                    ++picture->peer->m_picturesIn;
                return GST_PAD_PROBE_OK;
            },
            new Picture{this}, [](gpointer data) { delete static_cast<Picture *>(data); });
    if (out)
        gst_pad_add_probe(
            out, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad *, GstPadProbeInfo *, gpointer self) {
                ++static_cast<WebRtcPeer *>(self)->m_picturesOut;
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
    for (GstPad *pad : {in, out})
        if (pad)
            gst_object_unref(pad);
}

void WebRtcPeer::countFrames(GstElement *coder)
{
    // The first coder starts the counts; a connection's further ones add to them.
    qint64 none = -1;
    if (m_framesIn.compare_exchange_strong(none, 0))
        m_framesOut = 0;
    const GstPadProbeCallback count = [](GstPad *, GstPadProbeInfo *, gpointer counter) {
        ++*static_cast<std::atomic<qint64> *>(counter);
        return GST_PAD_PROBE_OK;
    };
    for (const auto &[name, counter] : {std::pair{"sink", &m_framesIn}, {"src", &m_framesOut}}) {
        if (GstPad *pad = gst_element_get_static_pad(coder, name)) {
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, count, counter, nullptr);
            gst_object_unref(pad);
        }
    }
}
