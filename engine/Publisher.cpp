#include "Publisher.h"

#include "FrameStamp.h"

#define GST_USE_UNSTABLE_API
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gst/webrtc/webrtc.h>

namespace {

/// Marks each picture as it leaves the generator (see FrameStamp).
GstPadProbeReturn stampPicture(GstPad *pad, GstPadProbeInfo *info, gpointer)
{
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    GstVideoInfo video;
    GstVideoFrame frame;
    if (caps && gst_video_info_from_caps(&video, caps) &&
        GST_VIDEO_INFO_FORMAT(&video) == GST_VIDEO_FORMAT_I420 &&
        gst_video_frame_map(&frame, &video, buffer, GST_MAP_WRITE)) {
        auto plane = [&frame](int i) { return static_cast<uchar *>(frame.data[i]); };
        FrameStamp::mark(plane(0), frame.info.stride[0], plane(1), frame.info.stride[1], plane(2),
                         frame.info.stride[2], video.width, video.height, FrameStamp::nowMs());
        gst_video_frame_unmap(&frame);
    }
    if (caps)
        gst_caps_unref(caps);
    return GST_PAD_PROBE_OK;
}

} // namespace

Publisher::Publisher(const QString &launch, QObject *parent)
    : WebRtcPeer(parent)
    , m_launch(launch)
{}

Publisher::~Publisher()
{
    stopPipeline(); // no picture may reach the self view once it is being destroyed
}

bool Publisher::start()
{
    if (!build(m_launch))
        return false;
    if (FrameStamp::enabled()) {
        GstElement *camera = gst_bin_get_by_name(GST_BIN(m_pipeline), "camera");
        GstPad *pad = gst_element_get_static_pad(camera, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, stampPicture, nullptr, nullptr);
        gst_object_unref(pad);
        gst_object_unref(camera);
    }
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
