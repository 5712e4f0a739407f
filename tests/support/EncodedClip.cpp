#include "tests/support/EncodedClip.h"

#include <gst/gst.h>

namespace {

/// Where a source of one pipeline is in the clip: the next buffer and how far the loops so far
/// have moved the time stamps on.
struct Feeder
{
    const EncodedClip::Track *track = nullptr;
    size_t next = 0;
    GstClockTime offset = 0;
};

/// Pushes the clip's next buffer, stamped as if the clip went on for ever: the clock sync after
/// the source holds it back until its time.
void pushNext(GstElement *source, guint, gpointer data)
{
    auto *feeder = static_cast<Feeder *>(data);
    const EncodedClip::Track &track = *feeder->track;
    GstBuffer *buffer = gst_buffer_copy(track.buffers[feeder->next]); // shares the memory
    GST_BUFFER_PTS(buffer) += feeder->offset;
    GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
    if (++feeder->next == track.buffers.size()) {
        feeder->next = 0;
        feeder->offset += track.length;
    }
    GstFlowReturn flow = GST_FLOW_OK;
    g_signal_emit_by_name(source, "push-buffer", buffer, &flow);
    gst_buffer_unref(buffer);
}

void feedSource(GstElement *pipeline, const char *name, const EncodedClip::Track &track)
{
    GstElement *source = gst_bin_get_by_name(GST_BIN(pipeline), name);
    if (!source)
        return;
    g_object_set(source, "caps", track.caps, nullptr);
    auto *feeder = new Feeder{&track};
    g_object_set_data_full(G_OBJECT(source), "orvale-feeder", feeder,
                           [](gpointer f) { delete static_cast<Feeder *>(f); });
    g_signal_connect(source, "need-data", G_CALLBACK(pushNext), feeder);
    gst_object_unref(source);
}

} // namespace

EncodedClip::~EncodedClip()
{
    for (Track *track : {&m_video, &m_audio}) {
        for (GstBuffer *buffer : track->buffers)
            gst_buffer_unref(buffer);
        if (track->caps)
            gst_caps_unref(track->caps);
    }
}

bool EncodedClip::encode(const Picture &p, int seconds)
{
    const int keyFrameDistance = p.fps * 2; // as the client sends
    const int frames = std::max(1, seconds * p.fps / keyFrameDistance) * keyFrameDistance;
    const QString video =
        QStringLiteral("videotestsrc num-buffers=%1 pattern=smpte horizontal-speed=2 "
                       "! video/x-raw,width=%2,height=%3,framerate=%4/1,format=I420 "
                       "! vp8enc deadline=1 cpu-used=8 target-bitrate=%5 keyframe-max-dist=%6 "
                       "error-resilient=partitions ! appsink name=out sync=false")
            .arg(frames)
            .arg(p.width)
            .arg(p.height)
            .arg(p.fps)
            .arg(p.bitrate)
            .arg(keyFrameDistance);
    // 20 ms a packet, as opusenc makes them; the same length as the picture.
    const QString audio =
        QStringLiteral("audiotestsrc num-buffers=%1 samplesperbuffer=960 wave=sine freq=440 "
                       "volume=0.3 ! audio/x-raw,rate=48000,channels=1 ! opusenc "
                       "! appsink name=out sync=false")
            .arg(frames * 50 / p.fps);
    return record(video, m_video) && record(audio, m_audio);
}

/// Runs `launch` to its end, keeping what its appsink "out" receives.
bool EncodedClip::record(const QString &launch, Track &track)
{
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(launch.toUtf8().constData(), &error);
    if (!pipeline) {
        g_clear_error(&error);
        return false;
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    for (;;) {
        GstSample *sample = nullptr;
        g_signal_emit_by_name(sink, "pull-sample", &sample);
        if (!sample)
            break;
        if (!track.caps)
            track.caps = gst_caps_ref(gst_sample_get_caps(sample));
        track.buffers.push_back(gst_buffer_ref(gst_sample_get_buffer(sample)));
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    if (track.buffers.empty() || !track.caps)
        return false;
    const GstBuffer *first = track.buffers.front();
    const GstBuffer *last = track.buffers.back();
    track.length = GST_BUFFER_PTS(last) + GST_BUFFER_DURATION(last) - GST_BUFFER_PTS(first);
    return true;
}

QString EncodedClip::launch()
{
    return QStringLiteral(
        "appsrc name=clipvideo is-live=true format=time ! clocksync "
        "! rtpvp8pay pt=96 picture-id-mode=15-bit "
        "! application/x-rtp,media=video,encoding-name=VP8,payload=96,clock-rate=90000 ! webrtc. "
        "appsrc name=clipaudio is-live=true format=time ! clocksync ! rtpopuspay pt=111 "
        "! application/x-rtp,media=audio,encoding-name=OPUS,payload=111,clock-rate=48000 "
        "! webrtc. ");
}

void EncodedClip::feed(GstElement *pipeline) const
{
    feedSource(pipeline, "clipvideo", m_video);
    feedSource(pipeline, "clipaudio", m_audio);
}

double EncodedClip::videoBitsPerSecond() const
{
    gsize bytes = 0;
    for (GstBuffer *buffer : m_video.buffers)
        bytes += gst_buffer_get_size(buffer);
    return m_video.length ? double(bytes) * 8 * GST_SECOND / double(m_video.length) : 0;
}
