#include "engine/media/Publisher.h"

#include "engine/FrameSlot.h"
#include "engine/media/FrameStamp.h"
#include "engine/media/MediaPipeline.h"
#include "engine/media/ParsedBin.h"

#define GST_USE_UNSTABLE_API
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gst/webrtc/webrtc.h>

#include <QStringList>
#include <QTimer>

#include <chrono>

#include <algorithm>

namespace {

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

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

/// The first source pad of `element`, referenced; null when it has none.
GstPad *firstSourcePad(GstElement *element)
{
    GstPad *pad = nullptr;
    GstIterator *it = gst_element_iterate_src_pads(element);
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK)
        pad = GST_PAD(g_value_dup_object(&item));
    g_value_unset(&item);
    gst_iterator_free(it);
    return pad;
}

/// Generated sources count their time from their own start: one started in a running
/// pipeline begins at the pipeline's running time, or its pictures would all be late.
void startAtRunningTime(GstElement *input, GstElement *pipeline)
{
    GstClock *clock = gst_element_get_clock(pipeline);
    if (!clock)
        return;
    const GstClockTime now = gst_clock_get_time(clock) - gst_element_get_base_time(pipeline);
    gst_object_unref(clock);
    GstIterator *it = gst_bin_iterate_recurse(GST_BIN(input));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto *e = GST_ELEMENT(g_value_get_object(&item));
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(e), "timestamp-offset"))
            g_object_set(e, "timestamp-offset", gint64(now), nullptr);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

/// Stops an input whose first source pad `out` feeds `peer`, and cuts that link, as GStreamer's
/// dynamic pipelines do: the input's data is held at its pad first, so that the link is cut with
/// nothing on it and nothing the input still makes reaches the peer. The pad then flushes, which
/// sends the held thread back, so that the input can stop (stopping waits for that thread).
void stopHeld(GstElement *input, GstPad *out, GstPad *peer)
{
    const gulong block =
        out ? gst_pad_add_probe(
                  out, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
                  [](GstPad *, GstPadProbeInfo *, gpointer) { return GST_PAD_PROBE_OK; }, nullptr,
                  nullptr)
            : 0;
    if (peer)
        gst_pad_unlink(out, peer);
    if (out)
        gst_pad_set_active(out, FALSE);
    gst_element_set_locked_state(input, TRUE);
    gst_element_set_state(input, GST_STATE_NULL);
    if (block != 0)
        gst_pad_remove_probe(out, block);
}

/// The size and frame rate a `capsfilter` lets through, "<width>x<height>@<fps>", where its
/// caps name them.
QString pictureFormat(GstElement *filter)
{
    GstCaps *caps = nullptr;
    g_object_get(filter, "caps", &caps, nullptr);
    int width = 0, height = 0, fps = 0, denominator = 1;
    if (caps && !gst_caps_is_empty(caps) && !gst_caps_is_any(caps)) {
        const GstStructure *format = gst_caps_get_structure(caps, 0);
        gst_structure_get_int(format, "width", &width);
        gst_structure_get_int(format, "height", &height);
        gst_structure_get_fraction(format, "framerate", &fps, &denominator);
    }
    if (caps)
        gst_caps_unref(caps);
    return QStringLiteral("%1x%2@%3").arg(width).arg(height).arg(fps / std::max(1, denominator));
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

void Publisher::setSelfView(FrameSlot *slot, std::function<void()> shown)
{
    m_selfSlot = slot;
    m_selfShown = std::move(shown);
}

bool Publisher::start()
{
    if (!build(m_launch))
        return false;
    // A share has no camera branch: its pictures are not stamped.
    if (GstElement *camera =
            FrameStamp::enabled() ? gst_bin_get_by_name(GST_BIN(m_pipeline), "camera") : nullptr) {
        GstPad *pad = gst_element_get_static_pad(camera, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, stampPicture, nullptr, nullptr);
        gst_object_unref(pad);
        gst_object_unref(camera);
    }
    if (GstElement *encoder = gst_bin_get_by_name(GST_BIN(m_pipeline), "videoenc")) {
        countFrames(encoder);
        gst_object_unref(encoder);
    }
    if (m_lossPercent)
        dropPackets();
    if (m_selfSlot) {
        m_selfFit = std::make_unique<PictureFit>(m_pipeline, "selffit", "selfsize");
        watchFrames("selfview", [](WebRtcPeer *peer, const QImage &image) {
            auto *self = static_cast<Publisher *>(peer);
            self->m_selfSlot->put(image, self->m_selfFit->adjust(self->m_selfSlot->shownWidth()));
            if (self->m_selfShown && !self->m_selfSlot->ridesAlong())
                self->m_selfShown();
        });
    }
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

void Publisher::expectSteadyFlow(const char *element, int silenceMs)
{
    GstElement *source = gst_bin_get_by_name(GST_BIN(m_pipeline), element);
    GstPad *pad = source ? gst_element_get_static_pad(source, "src") : nullptr;
    if (!pad) {
        if (source)
            gst_object_unref(source);
        return;
    }
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad *, GstPadProbeInfo *, gpointer self) {
            static_cast<Publisher *>(self)->m_lastBufferMs = nowMs();
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    gst_object_unref(pad);
    gst_object_unref(source);
    const QString name = QString::fromLatin1(element);
    connect(&m_flowWatch, &QTimer::timeout, this, [this, name, silenceMs] {
        const qint64 last = m_lastBufferMs;
        if (last == 0 || nowMs() - last <= silenceMs)
            return;
        m_flowWatch.stop();
        fail(QStringLiteral("%1 passed nothing for %2 ms: its stream ended")
                 .arg(name)
                 .arg(silenceMs));
    });
    m_flowWatch.start(silenceMs / 4);
}

void Publisher::failAfter(int ms)
{
    QTimer::singleShot(ms, this, [this] {
        GstElement *input = gst_bin_get_by_name(GST_BIN(m_pipeline), "videoinput");
        if (!input)
            return;
        GST_ELEMENT_ERROR(input, RESOURCE, FAILED, ("the source was made to fail"), (nullptr));
        gst_object_unref(input);
    });
}

bool Publisher::replaceInput(const char *name, const QString &description)
{
    GstElement *old = m_pipeline ? gst_bin_get_by_name(GST_BIN(m_pipeline), name) : nullptr;
    if (!old)
        return false;
    GstElement *input = parsedBin(description);
    if (!input) {
        gst_object_unref(old);
        return false;
    }
    GstPad *out = firstSourcePad(old);
    GstPad *peer = out ? gst_pad_get_peer(out) : nullptr;
    // The old input stops before the new one starts, which may need its device (the same
    // microphone with other processing, say).
    stopHeld(old, out, peer);
    gst_bin_remove(GST_BIN(m_pipeline), old);
    gst_object_set_name(GST_OBJECT(input), name);
    startAtRunningTime(input, m_pipeline);
    gst_bin_add(GST_BIN(m_pipeline), input);
    GstPad *in = firstSourcePad(input);
    const GstPadLinkReturn link = in && peer ? gst_pad_link(in, peer) : GST_PAD_LINK_NOFORMAT;
    const bool linked = link == GST_PAD_LINK_OK;
    if (!linked)
        fail(QStringLiteral("the new %1 cannot be linked (%2)")
                 .arg(QLatin1String(name), QLatin1String(gst_pad_link_get_name(link))));
    gst_element_sync_state_with_parent(input);
    for (GstPad *pad : {out, peer, in})
        if (pad)
            gst_object_unref(pad);
    gst_object_unref(old);
    return linked;
}

void Publisher::setVideoFormat(const QString &caps, int bitrate, int keyframeDistance)
{
    if (!m_pipeline)
        return;
    if (GstElement *encoder = gst_bin_get_by_name(GST_BIN(m_pipeline), "videoenc")) {
        g_object_set(encoder, "target-bitrate", bitrate, "keyframe-max-dist", keyframeDistance,
                     nullptr);
        gst_object_unref(encoder);
    }
    if (GstElement *format = gst_bin_get_by_name(GST_BIN(m_pipeline), "videoformat")) {
        GstCaps *wanted = gst_caps_from_string(caps.toUtf8().constData());
        g_object_set(format, "caps", wanted, nullptr); // the source negotiates again
        gst_caps_unref(wanted);
        gst_object_unref(format);
    }
}

void Publisher::setBitrate(int bitrate)
{
    if (GstElement *encoder =
            m_pipeline ? gst_bin_get_by_name(GST_BIN(m_pipeline), "videoenc") : nullptr) {
        g_object_set(encoder, "target-bitrate", bitrate, nullptr);
        gst_object_unref(encoder);
    }
}

bool Publisher::dropsNext(GstBuffer *packet)
{
    guint8 header[2];
    // Only video: the sound's losses are not what the setting is for.
    if (gst_buffer_extract(packet, 0, header, sizeof header) != sizeof header ||
        (header[1] & 0x7f) == MediaPipeline::soundPayloadType)
        return false;
    // Spread over the hundred, as single packets rather than one long gap.
    const int n = m_packets++ % 100;
    const int percent = std::max(0, m_lossPercent->load());
    return (n + 1) * percent / 100 != n * percent / 100;
}

namespace {

GstPadProbeReturn dropSome(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    auto *publisher = static_cast<Publisher *>(self);
    if (!(GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST))
        return publisher->dropsNext(GST_PAD_PROBE_INFO_BUFFER(info)) ? GST_PAD_PROBE_DROP
                                                                     : GST_PAD_PROBE_OK;
    GstBufferList *list = gst_buffer_list_make_writable(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    GST_PAD_PROBE_INFO_DATA(info) = list;
    gst_buffer_list_foreach(
        list,
        [](GstBuffer **buffer, guint, gpointer peer) -> gboolean {
            if (static_cast<Publisher *>(peer)->dropsNext(*buffer)) {
                gst_buffer_unref(*buffer);
                *buffer = nullptr; // taken out of the list
            }
            return TRUE;
        },
        publisher);
    return gst_buffer_list_length(list) == 0 ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

} // namespace

/// Drops video packets where a lossy link would: on their way out of webrtcbin, after its
/// retransmission store kept them, so that the relay's requests for them can be answered.
void Publisher::dropPackets()
{
    GstElement *session = rtpBin();
    if (!session)
        return;
    // The session's pads come with the negotiation.
    g_signal_connect(
        session, "pad-added", G_CALLBACK(+[](GstElement *, GstPad *pad, gpointer self) {
            if (!g_str_has_prefix(GST_PAD_NAME(pad), "send_rtp_src_"))
                return;
            gst_pad_add_probe(
                pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                dropSome, self, nullptr);
        }),
        this);
    gst_object_unref(session);
}

QString Publisher::describe() const
{
    if (!m_pipeline)
        return QStringLiteral("nothing");
    QStringList parts;
    GstIterator *it = gst_bin_iterate_recurse(GST_BIN(m_pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto *e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory *made = gst_element_get_factory(e); // none for webrtcbin's insides
        const QByteArray factory = made ? GST_OBJECT_NAME(made) : "";
        if (factory == "pulsesrc" || factory == "alsasrc" || factory == "v4l2src") {
            gchar *device = nullptr;
            g_object_get(e, "device", &device, nullptr);
            parts.append(QStringLiteral("%1=%2").arg(QString::fromLatin1(factory),
                                                     QString::fromUtf8(device)));
            g_free(device);
        } else if (factory == "audiotestsrc" || factory == "videotestsrc") {
            parts.append(QString::fromLatin1(factory));
        } else if (factory == "webrtcdsp") {
            gboolean echo = false, gain = false;
            g_object_get(e, "echo-cancel", &echo, "gain-control", &gain, nullptr);
            parts.append(QStringLiteral("webrtcdsp echo=%1 gain=%2").arg(int(echo)).arg(int(gain)));
        } else if (factory == "capsfilter" && GST_OBJECT_NAME(e) == QByteArray("videoformat")) {
            parts.append(QStringLiteral("picture ") + pictureFormat(e));
        } else if (factory == "vp8enc") {
            int bitrate = 0;
            g_object_get(e, "target-bitrate", &bitrate, nullptr);
            parts.append(QStringLiteral("vp8enc bitrate=%1").arg(bitrate));
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    parts.sort();
    return parts.join(QStringLiteral(", "));
}
