#include "WebRtcPeer.h"

#define GST_USE_UNSTABLE_API
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/video/video.h>
#include <gst/webrtc/webrtc.h>

#include <QDebug>
#include <QImage>
#include <QPointer>

namespace {

/// Runs `work` on the thread of `peer`, dropped when the peer is gone by then.
template <typename F> void hop(WebRtcPeer *peer, F work)
{
    QMetaObject::invokeMethod(peer, std::move(work), Qt::QueuedConnection);
}

GstWebRTCSessionDescription *parseSdp(const QString &sdp, GstWebRTCSDPType type)
{
    GstSDPMessage *message = nullptr;
    if (gst_sdp_message_new(&message) != GST_SDP_OK)
        return nullptr;
    const QByteArray text = sdp.toUtf8();
    if (gst_sdp_message_parse_buffer(reinterpret_cast<const guint8 *>(text.constData()),
                                     guint(text.size()), message) != GST_SDP_OK) {
        gst_sdp_message_free(message);
        return nullptr;
    }
    return gst_webrtc_session_description_new(type, message);
}

/// Waits for a promise of webrtcbin: it is answered on webrtcbin's own thread, quickly.
GstWebRTCSessionDescription *awaitDescription(GstElement *webrtc, const char *signal,
                                              const char *field)
{
    GstPromise *promise = gst_promise_new();
    g_signal_emit_by_name(webrtc, signal, nullptr, promise);
    GstWebRTCSessionDescription *description = nullptr;
    if (gst_promise_wait(promise) == GST_PROMISE_RESULT_REPLIED) {
        const GstStructure *reply = gst_promise_get_reply(promise); // owned by the promise
        if (reply)
            gst_structure_get(reply, field, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &description,
                              nullptr);
    }
    gst_promise_unref(promise);
    return description;
}

} // namespace

WebRtcPeer::WebRtcPeer(QObject *parent)
    : QObject(parent)
{}

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
        gst_element_set_state(m_pipeline, GST_STATE_NULL); // joins the streaming threads
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
    m_webrtc = gst_bin_get_by_name(GST_BIN(m_pipeline), "webrtc");
    if (!m_webrtc)
        return false;
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

void WebRtcPeer::play()
{
    gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
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
    GstMapInfo map;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) || !buffer ||
        !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return {};
    // Copied here: the buffer goes back to its pool when the sample is released.
    QImage image =
        QImage(map.data, info.width, info.height, int(info.stride[0]), QImage::Format_RGB32).copy();
    gst_buffer_unmap(buffer, &map);
    return image;
}

void WebRtcPeer::watchFrames(const char *sink, void (*deliver)(WebRtcPeer *, const QImage &))
{
    GstElement *frames = m_pipeline ? gst_bin_get_by_name(GST_BIN(m_pipeline), sink) : nullptr;
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
    GstWebRTCSessionDescription *offer = awaitDescription(m_webrtc, "create-offer", "offer");
    if (!offer) {
        qWarning("media: no offer");
        return;
    }
    g_signal_emit_by_name(m_webrtc, "set-local-description", offer, nullptr);
    describe(offer);
    gst_webrtc_session_description_free(offer);
}

void WebRtcPeer::applyAnswer(const QString &sdp)
{
    if (GstWebRTCSessionDescription *answer = parseSdp(sdp, GST_WEBRTC_SDP_TYPE_ANSWER)) {
        g_signal_emit_by_name(m_webrtc, "set-remote-description", answer, nullptr);
        gst_webrtc_session_description_free(answer);
    }
}

void WebRtcPeer::answerOffer(const QString &sdp)
{
    GstWebRTCSessionDescription *offer = parseSdp(sdp, GST_WEBRTC_SDP_TYPE_OFFER);
    if (!offer)
        return;
    GstPromise *applied = gst_promise_new();
    g_signal_emit_by_name(m_webrtc, "set-remote-description", offer, applied);
    gst_promise_wait(applied);
    gst_promise_unref(applied);
    gst_webrtc_session_description_free(offer);
    GstWebRTCSessionDescription *answer = awaitDescription(m_webrtc, "create-answer", "answer");
    if (!answer) {
        qWarning("media: no answer");
        return;
    }
    g_signal_emit_by_name(m_webrtc, "set-local-description", answer, nullptr);
    describe(answer);
    gst_webrtc_session_description_free(answer);
}

void WebRtcPeer::describe(const GstWebRTCSessionDescription *local)
{
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
