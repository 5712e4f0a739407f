#include "engine/media/Subscriber.h"

#include "engine/EngineState.h"
#include "engine/media/FrameStamp.h"
#include "engine/media/MediaPipeline.h"
#include "engine/media/ParsedBin.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QDeadlineTimer>
#include <QImage>
#include <QMutexLocker>

#include <cstdlib>

namespace {

constexpr int latencyStepMs = 20;
/// The relay sends a packet again at most once in 40 ms, then once in twice that after each
/// time, and drops the requests in between together with the next packet asked for in the
/// same report. Requests this far apart, three in all, are each answered.
constexpr gint retryAfterMs = 85;
constexpr gint retries = 2;
/// What a received picture stream may take at most; a fifth of it is left for the reports.
constexpr double videoBitsPerSecond = 2500000;

/// Notes when the stream's first sound is decoded, for the benchmarks.
void noteFirstSound(GstElement *sound)
{
    GstElement *volume = gst_bin_get_by_name(GST_BIN(sound), "speaker");
    GstPad *out = volume ? gst_element_get_static_pad(volume, "src") : nullptr;
    if (out)
        gst_pad_add_probe(
            out, GST_PAD_PROBE_TYPE_BUFFER,
            +[](GstPad *, GstPadProbeInfo *, gpointer) {
                FrameStamp::noteSound();
                return GST_PAD_PROBE_REMOVE;
            },
            nullptr, nullptr);
    for (GstObject *o : {GST_OBJECT(out), GST_OBJECT(volume)})
        if (o)
            gst_object_unref(o);
}

/// A lost sound packet reaches the decoder as two gaps over the same span (the jitter buffer's
/// lost packet and the depayloader's break in sequence numbers): concealed twice, each loss
/// adds 20 ms of made-up sound and the next packet's in-band FEC is applied to the second gap,
/// not to the lost packet. Only the first gap over a span is let through.
GstPadProbeReturn concealOnce(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *coveredUntil = static_cast<GstClockTime *>(data);
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_GAP: {
        GstClockTime start = 0, duration = 0;
        gst_event_parse_gap(event, &start, &duration);
        if (GST_CLOCK_TIME_IS_VALID(*coveredUntil) && start + GST_MSECOND <= *coveredUntil)
            return GST_PAD_PROBE_DROP;
        *coveredUntil = start + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0);
        return GST_PAD_PROBE_OK;
    }
    case GST_EVENT_SEGMENT:
    case GST_EVENT_FLUSH_STOP:
        *coveredUntil = GST_CLOCK_TIME_NONE; // a new timeline
        return GST_PAD_PROBE_OK;
    default:
        return GST_PAD_PROBE_OK;
    }
}

void concealEachLossOnce(GstElement *sound)
{
    GstElement *decoder = gst_bin_get_by_name(GST_BIN(sound), "voicedec");
    GstPad *in = decoder ? gst_element_get_static_pad(decoder, "sink") : nullptr;
    if (in)
        gst_pad_add_probe(
            in, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, concealOnce,
            new GstClockTime(GST_CLOCK_TIME_NONE),
            +[](gpointer data) { delete static_cast<GstClockTime *>(data); });
    for (GstObject *o : {GST_OBJECT(in), GST_OBJECT(decoder)})
        if (o)
            gst_object_unref(o);
}

/// The session's reports, and with them its requests for lost packets, go out at least every
/// tenth of a second: at the default pace (one report in 5 s, one early one between) most
/// requests reach the relay after the packet could have been shown.
void askPromptly(GstElement *rtpBin, guint session)
{
    GObject *internal = nullptr;
    g_signal_emit_by_name(rtpBin, "get-internal-session", session, &internal);
    if (!internal)
        return;
    g_object_set(internal, "rtcp-min-interval", guint64(100 * GST_MSECOND), "bandwidth",
                 double(videoBitsPerSecond), nullptr);
    g_object_unref(internal);
}

} // namespace

Subscriber::Subscriber(EngineState &state, const QString &uri, const QString &recordFile,
                       bool share, QObject *parent)
    : WebRtcPeer(parent)
    , m_state(state)
    , m_uri(uri)
    , m_recordFile(recordFile)
    , m_share(share)
{
    m_frames = std::make_shared<FrameSlot>();
    QMutexLocker lock(&m_state.mutex);
    (m_share ? m_state.shareVideo : m_state.remoteVideo).insert(m_uri, m_frames);
    m_repaint = m_state.repaint;
}

Subscriber::~Subscriber()
{
    stopPipeline(); // no picture may arrive once the tile forgets it
    {
        QMutexLocker lock(&m_state.mutex);
        auto &frames = m_share ? m_state.shareVideo : m_state.remoteVideo;
        if (frames.value(m_uri) == m_frames) // not yet taken over by a new subscription
            frames.remove(m_uri);
    }
    if (m_repaint)
        m_repaint();
}

bool Subscriber::start()
{
    // The jitter buffer waits long enough for a retransmission until the link's figures say
    // how long that takes (followJitter()).
    if (!build(QStringLiteral("webrtcbin name=webrtc bundle-policy=max-bundle latency=%1")
                   .arg(m_latencyMs)))
        return false;
    if (!m_share && !addSound())
        return false;
    // The jitter buffers ask the relay again for lost packets while they can still be shown
    // (webrtcbin leaves that off with a bundle). Sound asked for in vain costs nothing.
    if (GstElement *rtp = rtpBin()) {
        g_signal_connect(
            rtp, "new-jitterbuffer",
            G_CALLBACK(+[](GstElement *bin, GstElement *buffer, guint session, guint, gpointer) {
                g_object_set(buffer, "do-retransmission", TRUE, "rtx-retry-timeout", retryAfterMs,
                             "rtx-max-retries", retries, nullptr);
                askPromptly(bin, session);
            }),
            nullptr);
        m_feedback.attach(rtp);
        gst_object_unref(rtp);
    }
    g_signal_connect(m_webrtc, "pad-added",
                     G_CALLBACK(+[](GstElement *, GstPad *pad, gpointer self) {
                         static_cast<Subscriber *>(self)->padAdded(pad);
                     }),
                     this);
    play();
    return true;
}

void Subscriber::setOffer(const QString &sdp)
{
    GstSDPMessage *offer = nullptr;
    const QByteArray text = sdp.toUtf8();
    if (gst_sdp_message_new_from_text(text.constData(), &offer) == GST_SDP_OK) {
        m_feedback.setVideoSources(RtcpFeedbackOrder::videoSourcesOf(offer));
        gst_sdp_message_free(offer);
    }
    answerOffer(sdp);
}

void Subscriber::setSpeakerMuted(bool muted)
{
    m_speakerMuted = muted; // for a pipeline still to be built
    setProperty("speaker", "mute", muted);
}

bool Subscriber::addSound()
{
    GstElement *sound =
        parsedBin(MediaPipeline::voice(m_voiceChannel, m_recordFile, m_speakerMuted));
    if (!sound)
        return false;
    gst_object_set_name(GST_OBJECT(sound), "sound");
    concealEachLossOnce(sound);
    gst_bin_add(GST_BIN(m_pipeline), sound);
    if (FrameStamp::enabled())
        noteFirstSound(sound);
    return true;
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
    if (!video)
        return linkSound(pad);
    // A picture with packets lost for good is dropped, and every one after it until a keyframe,
    // which is asked for: a damaged picture is never shown.
    GstElement *bin = parsedBin(
        QStringLiteral("rtpvp8depay name=videodepay wait-for-keyframe=true request-keyframe=true "
                       "! vp8dec name=videodec ! videoscale name=fit ! capsfilter name=fitsize "
                       "! videoconvert ! video/x-raw,format=BGRx "
                       "! appsink name=frames sync=false max-buffers=1 drop=true"));
    if (!bin)
        return fail(QStringLiteral("no video decoder"));
    watchFrames(
        "frames",
        [](WebRtcPeer *peer, const QImage &frame) {
            auto *self = static_cast<Subscriber *>(peer);
            if (FrameStamp::enabled() && !self->m_share) // a share's pictures carry no stamp
                FrameStamp::noteDecoded(frame);
            self->deliver(frame);
        },
        bin);
    m_fit = std::make_unique<PictureFit>(bin, "fit", "fitsize");
    GstElement *decoder = gst_bin_get_by_name(GST_BIN(bin), "videodec");
    countFrames(decoder);
    gst_object_unref(decoder);
    GstElement *depayloader = gst_bin_get_by_name(GST_BIN(bin), "videodepay");
    countDamaged(depayloader);
    gst_object_unref(depayloader);
    gst_bin_add(GST_BIN(m_pipeline), bin);
    gst_element_sync_state_with_parent(bin);
    GstPad *sinkPad = gst_element_get_static_pad(bin, "sink");
    const GstPadLinkReturn link = gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
    if (link != GST_PAD_LINK_OK)
        fail(QStringLiteral("the received video cannot be decoded (%1)")
                 .arg(QLatin1String(gst_pad_link_get_name(link))));
}

void Subscriber::linkSound(GstPad *pad)
{
    GstElement *sound = gst_bin_get_by_name(GST_BIN(m_pipeline), "sound");
    GstPad *in = sound ? gst_element_get_static_pad(sound, "sink") : nullptr;
    const GstPadLinkReturn link = in ? gst_pad_link(pad, in) : GST_PAD_LINK_NOFORMAT;
    if (in)
        gst_object_unref(in);
    if (sound)
        gst_object_unref(sound);
    if (link != GST_PAD_LINK_OK)
        fail(QStringLiteral("the received sound cannot be decoded (%1)")
                 .arg(QLatin1String(gst_pad_link_get_name(link))));
}

void Subscriber::followJitter(double roundTripMs)
{
    const int wanted =
        LinkStats::jitterBufferMs(link().receivedJitterMs(), roundTripMs) +
        m_repairWait.update(link().frames().damaged, QDeadlineTimer::current().deadline());
    // Small changes are not worth the jump in delay they make.
    if (!m_webrtc || std::abs(wanted - m_latencyMs) < latencyStepMs)
        return;
    m_latencyMs = wanted;
    g_object_set(m_webrtc, "latency", guint(wanted), nullptr);
}

void Subscriber::deliver(const QImage &frame)
{
    m_frames->put(frame, m_fit ? m_fit->adjust(m_frames->shownWidth()) : QSize());
    if (m_repaint)
        m_repaint();
}
