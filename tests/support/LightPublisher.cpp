#include "tests/support/LightPublisher.h"

#include "tests/support/EncodedClip.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>

#define GST_USE_UNSTABLE_API
#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>

namespace {

/// A small, slow picture: enough for a receiver to count pictures, cheap for many at once.
constexpr const char *launch =
    "webrtcbin name=webrtc bundle-policy=max-bundle "
    "videotestsrc is-live=true pattern=ball "
    "! video/x-raw,width=160,height=120,framerate=5/1,format=I420 ! queue "
    "! vp8enc deadline=1 cpu-used=8 target-bitrate=100000 keyframe-max-dist=10 "
    "! rtpvp8pay pt=96 picture-id-mode=15-bit "
    "! application/x-rtp,media=video,encoding-name=VP8,payload=96,clock-rate=90000 ! webrtc.";

void setLocal(GstPromise *promise, gpointer webrtc)
{
    const GstStructure *reply = gst_promise_get_reply(promise);
    GstWebRTCSessionDescription *local = nullptr;
    gst_structure_get(reply, "offer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &local, nullptr);
    gst_promise_unref(promise);
    if (!local)
        return;
    g_signal_emit_by_name(webrtc, "set-local-description", local, nullptr);
    gst_webrtc_session_description_free(local);
}

void setAnswer(GstElement *pipeline, const QString &sdp)
{
    const QByteArray text = sdp.toUtf8();
    GstSDPMessage *message = nullptr;
    gst_sdp_message_new(&message);
    gst_sdp_message_parse_buffer(reinterpret_cast<const guint8 *>(text.constData()),
                                 guint(text.size()), message);
    GstWebRTCSessionDescription *remote =
        gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_ANSWER, message);
    GstElement *webrtc = gst_bin_get_by_name(GST_BIN(pipeline), "webrtc");
    g_signal_emit_by_name(webrtc, "set-remote-description", remote, nullptr);
    gst_object_unref(webrtc);
    gst_webrtc_session_description_free(remote);
}

QString transaction()
{
    return QString::number(QRandomGenerator::global()->generate64(), 16);
}

} // namespace

LightPublisher::LightPublisher(const QJsonObject &media, qint64 id, const QString &display,
                               QObject *parent)
    : QObject(parent)
    , m_janus(media.value("url").toString())
    , m_room(media.value("room").toInteger())
    , m_token(media.value("token").toString())
    , m_relayToken(media.value("relayToken").toString())
    , m_id(id)
    , m_display(display)
{}

/// The session is destroyed before the publisher goes: the room has its place free at once.
LightPublisher::~LightPublisher()
{
    m_stopping = true;
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }
    if (m_session == 0)
        return;
    QEventLoop loop;
    post(QStringLiteral("/%1").arg(m_session), {{"janus", "destroy"}},
         [&loop](const QJsonObject &) { loop.quit(); });
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
}

void LightPublisher::start()
{
    post({}, {{"janus", "create"}}, [this](const QJsonObject &reply) {
        m_session = reply.value("data").toObject().value("id").toInteger();
        if (m_session == 0) {
            m_error = QStringLiteral("Janus made no session");
            return;
        }
        poll();
        post(QStringLiteral("/%1").arg(m_session),
             {{"janus", "attach"}, {"plugin", "janus.plugin.videoroom"}},
             [this](const QJsonObject &attached) {
                 m_handle = attached.value("data").toObject().value("id").toInteger();
                 post(QStringLiteral("/%1/%2").arg(m_session).arg(m_handle),
                      {{"janus", "message"},
                       {"body", QJsonObject{{"request", "join"},
                                            {"ptype", "publisher"},
                                            {"room", m_room},
                                            {"id", m_id},
                                            {"display", m_display},
                                            {"token", m_token}}}});
             });
    });
}

void LightPublisher::post(const QString &path, QJsonObject body, Reply done)
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

void LightPublisher::poll()
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
        if (reply->error() == QNetworkReply::NoError && !m_stopping)
            poll();
    });
}

void LightPublisher::dispatch(const QJsonObject &event)
{
    if (event.value("sender").toInteger() != m_handle || m_handle == 0)
        return;
    const QJsonObject data = event.value("plugindata").toObject().value("data").toObject();
    const QJsonObject jsep = event.value("jsep").toObject();
    if (data.contains("error"))
        m_error = data.value("error").toString();
    else if (data.value("videoroom").toString() == u"joined" && !m_pipeline)
        publish();
    if (m_pipeline && jsep.value("type").toString() == u"answer") {
        setAnswer(m_pipeline, jsep.value("sdp").toString());
        m_answered = true;
    }
}

void LightPublisher::publish()
{
    GError *error = nullptr;
    const QByteArray line =
        m_clip
            ? ("webrtcbin name=webrtc bundle-policy=max-bundle " + EncodedClip::launch()).toUtf8()
            : QByteArray(launch);
    m_pipeline = gst_parse_launch(line.constData(), &error);
    if (!m_pipeline) {
        m_error = QString::fromUtf8(error ? error->message : "no pipeline");
        g_clear_error(&error);
        return;
    }
    if (m_clip)
        m_clip->feed(m_pipeline);
    GstElement *webrtc = gst_bin_get_by_name(GST_BIN(m_pipeline), "webrtc");
    // The offer goes once every candidate is in it: Janus then needs none trickled.
    g_signal_connect(webrtc, "notify::ice-gathering-state",
                     G_CALLBACK(+[](GstElement *w, GParamSpec *, gpointer self) {
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
                         QPointer<LightPublisher> publisher(static_cast<LightPublisher *>(self));
                         QMetaObject::invokeMethod(
                             publisher, [publisher, sdp] { publisher->offerGathered(sdp); },
                             Qt::QueuedConnection);
                     }),
                     this);
    g_signal_connect(webrtc, "on-negotiation-needed", G_CALLBACK(+[](GstElement *w, gpointer) {
                         g_signal_emit_by_name(
                             w, "create-offer", nullptr,
                             gst_promise_new_with_change_func(setLocal, w, nullptr));
                     }),
                     nullptr);
    gst_object_unref(webrtc);
    gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

qint64 LightPublisher::bytesSent() const
{
    if (!m_pipeline)
        return 0;
    GstElement *webrtc = gst_bin_get_by_name(GST_BIN(m_pipeline), "webrtc");
    GstPromise *promise = gst_promise_new();
    g_signal_emit_by_name(webrtc, "get-stats", nullptr, promise);
    qint64 bytes = 0;
    if (gst_promise_wait(promise) == GST_PROMISE_RESULT_REPLIED)
        gst_structure_foreach(
            gst_promise_get_reply(promise),
            [](GQuark, const GValue *value, gpointer total) -> gboolean {
                if (!GST_VALUE_HOLDS_STRUCTURE(value))
                    return TRUE;
                const GstStructure *stats = gst_value_get_structure(value);
                GstWebRTCStatsType type;
                guint64 sent = 0;
                if (gst_structure_get(stats, "type", GST_TYPE_WEBRTC_STATS_TYPE, &type, nullptr) &&
                    type == GST_WEBRTC_STATS_OUTBOUND_RTP &&
                    gst_structure_get_uint64(stats, "bytes-sent", &sent))
                    *static_cast<qint64 *>(total) += qint64(sent);
                return TRUE;
            },
            &bytes);
    gst_promise_unref(promise);
    gst_object_unref(webrtc);
    return bytes;
}

void LightPublisher::offerGathered(const QString &sdp)
{
    post(QStringLiteral("/%1/%2").arg(m_session).arg(m_handle),
         {{"janus", "message"},
          {"body", QJsonObject{{"request", "publish"}, {"video_codec", "vp8"}}},
          {"jsep", QJsonObject{{"type", "offer"}, {"sdp", sdp}}}});
}
