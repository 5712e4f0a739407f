#include "Publisher.h"

#define GST_USE_UNSTABLE_API
#include <gst/gst.h>
#include <gst/webrtc/webrtc.h>

Publisher::Publisher(const QString &launch, QObject *parent)
    : WebRtcPeer(parent)
    , m_launch(launch)
{}

bool Publisher::start()
{
    if (!build(m_launch))
        return false;
    if (m_selfView)
        watchFrames("selfview", [](WebRtcPeer *peer, const QImage &image) {
            static_cast<Publisher *>(peer)->m_selfView(image);
        });
    // Send-only before PLAYING, or the relay would be offered to send back.
    GArray *transceivers = nullptr;
    g_signal_emit_by_name(m_webrtc, "get-transceivers", &transceivers);
    for (guint i = 0; transceivers && i < transceivers->len; ++i)
        g_object_set(g_array_index(transceivers, GstWebRTCRTPTransceiver *, i), "direction",
                     GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY, nullptr);
    if (transceivers)
        g_array_unref(transceivers);
    g_signal_connect(
        m_webrtc, "on-negotiation-needed", G_CALLBACK(+[](GstElement *, gpointer self) {
            auto *publisher = static_cast<Publisher *>(self);
            QMetaObject::invokeMethod(
                publisher, [publisher] { publisher->makeOffer(); }, Qt::QueuedConnection);
        }),
        this);
    play();
    return true;
}
