#include "Subscriber.h"

#include "EngineState.h"
#include "FrameStamp.h"
#include "MediaPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QImage>
#include <QMutexLocker>

#include <chrono>

namespace {

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

GstFlowReturn newSample(GstAppSink *sink, gpointer self)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) && buffer &&
        gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        // Copied here: the buffer goes back to the decoder when this returns.
        const QImage frame =
            QImage(map.data, info.width, info.height, int(info.stride[0]), QImage::Format_RGB32)
                .copy();
        gst_buffer_unmap(buffer, &map);
        if (FrameStamp::enabled())
            FrameStamp::noteDecoded(frame);
        static_cast<Subscriber *>(self)->deliver(frame);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

/// The chosen speaker when it can be opened, else a sink that drops the sound, so that a
/// machine without a sound server still shows the pictures.
QString speakerSink(const QString &device, bool echoReference)
{
    const QString wanted = MediaPipeline::speaker(device, false);
    GError *error = nullptr;
    GstElement *probe = gst_parse_launch(wanted.toUtf8().constData(), &error);
    g_clear_error(&error);
    if (!probe)
        return QStringLiteral("fakesink sync=false");
    const bool opens = gst_element_set_state(probe, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(probe, GST_STATE_NULL);
    gst_object_unref(probe);
    return opens ? MediaPipeline::speaker(device, echoReference)
                 : QStringLiteral("fakesink sync=false");
}

} // namespace

Subscriber::Subscriber(EngineState &state, const QString &uri, const QString &recordFile,
                       bool share, QObject *parent)
    : WebRtcPeer(parent)
    , m_state(state)
    , m_uri(uri)
    , m_recordFile(recordFile)
    , m_share(share)
{}

Subscriber::~Subscriber()
{
    stopPipeline(); // no picture may arrive once the tile forgets it
    QMutexLocker lock(&m_state.mutex);
    (m_share ? m_state.shareVideo : m_state.remoteVideo).remove(m_uri);
    if (m_state.repaint)
        m_state.repaint();
}

bool Subscriber::start()
{
    if (!build(QStringLiteral("webrtcbin name=webrtc bundle-policy=max-bundle latency=50")))
        return false;
    g_signal_connect(m_webrtc, "pad-added",
                     G_CALLBACK(+[](GstElement *, GstPad *pad, gpointer self) {
                         static_cast<Subscriber *>(self)->padAdded(pad);
                     }),
                     this);
    play();
    return true;
}

void Subscriber::setSpeakerMuted(bool muted)
{
    m_speakerMuted = muted;
    setProperty("speaker", "mute", muted);
}

void Subscriber::padAdded(GstPad *pad)
{
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC)
        return;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const gchar *media = gst_structure_get_string(gst_caps_get_structure(caps, 0), "media");
    const bool video = g_strcmp0(media, "video") == 0;
    gst_caps_unref(caps);
    if (m_share && !video)
        return; // a share carries no sound
    QString description;
    if (video) {
        description =
            QStringLiteral("rtpvp8depay ! vp8dec ! videoconvert ! video/x-raw,format=BGRx "
                           "! appsink name=frames sync=false max-buffers=1 drop=true");
    } else {
        const QString sink =
            m_recordFile.isEmpty()
                ? speakerSink(m_speakerDevice, m_echoReference)
                : QStringLiteral("audioconvert ! audio/x-raw,format=S16LE,channels=1,rate=48000 "
                                 "! filesink sync=false buffer-mode=2 location=\"%1\"")
                      .arg(m_recordFile);
        description =
            QStringLiteral("rtpopusdepay ! opusdec ! audioconvert ! audioresample "
                           "! volume name=speaker mute=%1 ! %2")
                .arg(m_speakerMuted ? QStringLiteral("true") : QStringLiteral("false"), sink);
    }
    GError *error = nullptr;
    GstElement *bin =
        gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
    if (!bin) {
        qWarning("media: %s", error ? error->message : "no decoder");
        g_clear_error(&error);
        return;
    }
    if (video) {
        GstElement *frames = gst_bin_get_by_name(GST_BIN(bin), "frames");
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = newSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(frames), &callbacks, this, nullptr);
        gst_object_unref(frames);
    }
    gst_bin_add(GST_BIN(m_pipeline), bin);
    gst_element_sync_state_with_parent(bin);
    GstPad *sinkPad = gst_element_get_static_pad(bin, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

void Subscriber::deliver(const QImage &frame)
{
    QMutexLocker lock(&m_state.mutex);
    EngineState::RemoteVideo &video = (m_share ? m_state.shareVideo : m_state.remoteVideo)[m_uri];
    video.frame = frame;
    video.at = nowMs();
    ++video.pictures;
    if (m_state.repaint)
        m_state.repaint();
}
