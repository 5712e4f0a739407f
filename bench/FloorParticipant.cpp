#include "bench/FloorParticipant.h"

#include "engine/media/MediaPipeline.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRandomGenerator>

#define GST_USE_UNSTABLE_API
#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>

namespace {

QString transaction()
{
    return QString::number(QRandomGenerator::global()->generate64(), 16);
}

/// The client's camera and microphone branches with generated sources, without its own tile.
QString publisherLaunch()
{
    const MediaPipeline::VideoFormat f = MediaPipeline::videoFormat(0);
    return QStringLiteral(
               "webrtcbin name=webrtc bundle-policy=max-bundle "
               "videotestsrc is-live=true pattern=solid-color foreground-color=0xff3070a0 "
               "! video/x-raw,width=%1,height=%2,framerate=%3/1,format=I420 ! queue "
               "! vp8enc deadline=1 cpu-used=8 target-bitrate=%4 keyframe-max-dist=%5 "
               "error-resilient=partitions ! rtpvp8pay pt=96 picture-id-mode=15-bit "
               "! application/x-rtp,media=video,encoding-name=VP8,payload=96,clock-rate=90000 "
               "! webrtc. "
               "audiotestsrc is-live=true wave=sine freq=440 volume=0.3 ! audioconvert "
               "! audioresample ! queue ! opusenc ! rtpopuspay pt=111 "
               "! application/x-rtp,media=audio,encoding-name=OPUS,payload=111,clock-rate=48000 "
               "! webrtc. ")
        .arg(f.width)
        .arg(f.height)
        .arg(f.fps)
        .arg(f.bitrate)
        .arg(f.fps * 2);
}

/// Gives the `webrtcbin` of `pipeline` the relay's description.
void setRemote(GstElement *pipeline, GstWebRTCSDPType type, const QString &sdp)
{
    GstSDPMessage *message = nullptr;
    gst_sdp_message_new(&message);
    gst_sdp_message_parse_buffer(reinterpret_cast<const guint8 *>(sdp.toUtf8().constData()),
                                 guint(sdp.toUtf8().size()), message);
    GstWebRTCSessionDescription *remote = gst_webrtc_session_description_new(type, message);
    GstElement *webrtc = gst_bin_get_by_name(GST_BIN(pipeline), "webrtc");
    g_signal_emit_by_name(webrtc, "set-remote-description", remote, nullptr);
    gst_object_unref(webrtc);
    gst_webrtc_session_description_free(remote);
}

/// Sets the description that `promise` (of create-offer or create-answer) brought.
void setLocal(GstPromise *promise, gpointer webrtc)
{
    const GstStructure *reply = gst_promise_get_reply(promise);
    GstWebRTCSessionDescription *local = nullptr;
    const char *field = gst_structure_has_field(reply, "offer") ? "offer" : "answer";
    gst_structure_get(reply, field, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &local, nullptr);
    gst_promise_unref(promise);
    if (!local)
        return;
    g_signal_emit_by_name(webrtc, "set-local-description", local, nullptr);
    gst_webrtc_session_description_free(local);
}

void decode(GstElement *, GstPad *pad, gpointer pipeline)
{
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC)
        return;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    const bool video =
        g_strcmp0(gst_structure_get_string(gst_caps_get_structure(caps, 0), "media"), "video") == 0;
    gst_caps_unref(caps);
    const char *line = video ? "rtpvp8depay ! vp8dec name=decoder ! fakesink sync=false"
                             : "rtpopusdepay ! opusdec ! audioconvert ! audioresample "
                               "! fakesink sync=true";
    GstElement *bin = gst_parse_bin_from_description(line, TRUE, nullptr);
    gst_bin_add(GST_BIN(pipeline), bin);
    gst_element_sync_state_with_parent(bin);
    GstPad *sink = gst_element_get_static_pad(bin, "sink");
    if (gst_pad_link(pad, sink) != GST_PAD_LINK_OK)
        g_printerr("floor: a received stream could not be linked\n");
    gst_object_unref(sink);
    if (!video)
        return;
    // One line per decoded picture, as the client's frame stamps are written.
    GstElement *decoder = gst_bin_get_by_name(GST_BIN(bin), "decoder");
    GstPad *out = gst_element_get_static_pad(decoder, "src");
    auto *log = static_cast<QFile *>(g_object_get_data(G_OBJECT(pipeline), "pictures"));
    gst_pad_add_probe(
        out, GST_PAD_PROBE_TYPE_BUFFER,
        +[](GstPad *, GstPadProbeInfo *, gpointer file) {
            auto *f = static_cast<QFile *>(file);
            if (f->isOpen()) {
                f->write("1\n");
                f->flush();
            }
            return GST_PAD_PROBE_OK;
        },
        log, nullptr);
    gst_object_unref(out);
    gst_object_unref(decoder);
}

} // namespace

FloorParticipant::FloorParticipant(const QUrl &janus, qint64 room, const QString &token, qint64 id,
                                   const QString &pictureLog, QObject *parent)
    : QObject(parent)
    , m_janus(janus)
    , m_room(room)
    , m_token(token)
    , m_id(id)
    , m_pictureLog(pictureLog)
{}

FloorParticipant::~FloorParticipant()
{
    QList<GstElement *> pipelines = m_subscribers.values();
    if (m_publisher)
        pipelines.append(m_publisher);
    for (GstElement *p : pipelines) {
        gst_element_set_state(p, GST_STATE_NULL);
        delete static_cast<QFile *>(g_object_get_data(G_OBJECT(p), "pictures"));
        gst_object_unref(p);
    }
}

void FloorParticipant::start()
{
    post(QString(), {{"janus", "create"}}, [this](const QJsonObject &reply) {
        m_session = reply.value("data").toObject().value("id").toInteger();
        if (m_session == 0)
            return Q_EMIT failed(QStringLiteral("Janus made no session"));
        poll();
        attach([this](qint64 handle) {
            m_publisherHandle = handle;
            post(QStringLiteral("/%1/%2").arg(m_session).arg(handle),
                 {{"janus", "message"},
                  {"body", QJsonObject{{"request", "join"},
                                       {"ptype", "publisher"},
                                       {"room", m_room},
                                       {"id", m_id},
                                       {"token", m_token}}}});
        });
    });
}

void FloorParticipant::post(const QString &path, QJsonObject body, Reply done)
{
    body.insert("transaction", transaction());
    body.insert("token", m_relayToken);
    QNetworkRequest request(QUrl(m_janus.toString() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = m_http.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, this, [reply, done] {
        reply->deleteLater();
        if (done)
            done(QJsonDocument::fromJson(reply->readAll()).object());
    });
}

void FloorParticipant::poll()
{
    QUrl url(m_janus.toString() + QStringLiteral("/%1").arg(m_session));
    url.setQuery(QStringLiteral("maxev=10&token=") +
                     QString::fromLatin1(QUrl::toPercentEncoding(m_relayToken)),
                 QUrl::StrictMode);
    QNetworkReply *reply = m_http.get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
        const QJsonArray events =
            document.isArray() ? document.array() : QJsonArray{document.object()};
        for (const QJsonValue &e : events)
            dispatch(e.toObject());
        if (reply->error() == QNetworkReply::NoError)
            poll();
    });
}

void FloorParticipant::attach(std::function<void(qint64)> done)
{
    post(QStringLiteral("/%1").arg(m_session),
         {{"janus", "attach"}, {"plugin", "janus.plugin.videoroom"}},
         [done](const QJsonObject &reply) {
             done(reply.value("data").toObject().value("id").toInteger());
         });
}

void FloorParticipant::dispatch(const QJsonObject &event)
{
    const qint64 handle = event.value("sender").toInteger();
    const QJsonObject data = event.value("plugindata").toObject().value("data").toObject();
    const QJsonObject jsep = event.value("jsep").toObject();
    if (data.contains("error"))
        return Q_EMIT failed(data.value("error").toString());
    if (handle == m_publisherHandle && data.value("videoroom").toString() == u"joined") {
        m_privateId = data.value("private_id").toInteger();
        publish();
    }
    if (handle == m_publisherHandle && m_publisher && jsep.value("type").toString() == u"answer")
        setRemote(m_publisher, GST_WEBRTC_SDP_TYPE_ANSWER, jsep.value("sdp").toString());
    for (const QJsonValue &p : data.value("publishers").toArray())
        subscribe(p.toObject().value("id").toInteger());
    GstElement *subscriber = m_subscribers.value(handle);
    if (!subscriber || jsep.value("type").toString() != u"offer")
        return;
    setRemote(subscriber, GST_WEBRTC_SDP_TYPE_OFFER, jsep.value("sdp").toString());
    GstElement *webrtc = gst_bin_get_by_name(GST_BIN(subscriber), "webrtc");
    whenGathered(webrtc, [this, handle](const QString &sdp) {
        sendDescription(handle, {{"request", "start"}}, QStringLiteral("answer"), sdp);
    });
    g_signal_emit_by_name(webrtc, "create-answer", nullptr,
                          gst_promise_new_with_change_func(setLocal, webrtc, nullptr));
    gst_object_unref(webrtc);
}

void FloorParticipant::publish()
{
    GError *error = nullptr;
    m_publisher = gst_parse_launch(publisherLaunch().toUtf8().constData(), &error);
    if (!m_publisher) {
        Q_EMIT failed(QString::fromUtf8(error ? error->message : "no pipeline"));
        g_clear_error(&error);
        return;
    }
    GstElement *webrtc = gst_bin_get_by_name(GST_BIN(m_publisher), "webrtc");
    whenGathered(webrtc, [this](const QString &sdp) {
        sendDescription(m_publisherHandle, {{"request", "publish"}}, QStringLiteral("offer"), sdp);
    });
    g_signal_connect(webrtc, "on-negotiation-needed", G_CALLBACK(+[](GstElement *w, gpointer) {
                         g_signal_emit_by_name(
                             w, "create-offer", nullptr,
                             gst_promise_new_with_change_func(setLocal, w, nullptr));
                     }),
                     nullptr);
    gst_element_set_state(m_publisher, GST_STATE_PLAYING);
    gst_object_unref(webrtc);
}

void FloorParticipant::subscribe(qint64 feed)
{
    if (feed == m_id || m_feeds.contains(feed))
        return;
    m_feeds.insert(feed);
    attach([this, feed](qint64 handle) {
        GstElement *pipeline = gst_pipeline_new(nullptr);
        gst_bin_add(
            GST_BIN(pipeline),
            gst_parse_launch("webrtcbin name=webrtc bundle-policy=max-bundle latency=50", nullptr));
        auto *log = new QFile(m_pictureLog);
        if (!log->open(QIODevice::Append))
            qWarning("floor: cannot write %s", qPrintable(m_pictureLog));
        g_object_set_data(G_OBJECT(pipeline), "pictures", log);
        GstElement *webrtc = gst_bin_get_by_name(GST_BIN(pipeline), "webrtc");
        g_signal_connect(webrtc, "pad-added", G_CALLBACK(decode), pipeline);
        gst_object_unref(webrtc);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        m_subscribers.insert(handle, pipeline);
        post(QStringLiteral("/%1/%2").arg(m_session).arg(handle),
             {{"janus", "message"},
              {"body", QJsonObject{{"request", "join"},
                                   {"ptype", "subscriber"},
                                   {"room", m_room},
                                   {"streams", QJsonArray{QJsonObject{{"feed", feed}}}},
                                   {"private_id", m_privateId},
                                   {"token", m_token}}}});
    });
}

void FloorParticipant::whenGathered(GstElement *webrtc,
                                    std::function<void(const QString &sdp)> done)
{
    struct Waiter
    {
        FloorParticipant *self;
        std::function<void(const QString &)> done;
    };
    g_signal_connect_data(
        webrtc, "notify::ice-gathering-state",
        G_CALLBACK(+[](GstElement *w, GParamSpec *, gpointer data) {
            GstWebRTCICEGatheringState state;
            g_object_get(w, "ice-gathering-state", &state, nullptr);
            if (state != GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE)
                return;
            GstWebRTCSessionDescription *local = nullptr;
            g_object_get(w, "local-description", &local, nullptr);
            gchar *text = gst_sdp_message_as_text(local->sdp);
            const QString sdp = QString::fromUtf8(text);
            g_free(text);
            gst_webrtc_session_description_free(local);
            auto *waiter = static_cast<Waiter *>(data);
            QMetaObject::invokeMethod(
                waiter->self, [done = waiter->done, sdp] { done(sdp); }, Qt::QueuedConnection);
        }),
        new Waiter{this, std::move(done)},
        +[](gpointer data, GClosure *) { delete static_cast<Waiter *>(data); }, GConnectFlags(0));
}

void FloorParticipant::sendDescription(qint64 handle, const QJsonObject &body, const QString &type,
                                       const QString &sdp)
{
    post(QStringLiteral("/%1/%2").arg(m_session).arg(handle),
         {{"janus", "message"},
          {"body", body},
          {"jsep", QJsonObject{{"type", type}, {"sdp", sdp}}}});
}
