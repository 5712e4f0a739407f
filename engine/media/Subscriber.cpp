#include "engine/media/Subscriber.h"

#include "engine/EngineState.h"
#include "engine/media/FrameStamp.h"
#include "engine/media/MediaPipeline.h"
#include "engine/media/ParsedBin.h"
#include "engine/media/PictureFit.h"
#include "engine/media/SoundMix.h"

#define GST_USE_UNSTABLE_API
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/video/video.h>
#include <gst/webrtc/webrtc.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QJsonObject>
#include <QMutexLocker>

#include <cstdio>
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

/// The mid of the media line a pad of webrtcbin belongs to; empty when it has none.
QString midOf(GstPad *pad)
{
    GstWebRTCRTPTransceiver *transceiver = nullptr;
    g_object_get(pad, "transceiver", &transceiver, nullptr);
    gchar *mid = nullptr;
    if (transceiver)
        g_object_get(transceiver, "mid", &mid, nullptr);
    const QString text = QString::fromUtf8(mid);
    g_free(mid);
    if (transceiver)
        gst_object_unref(transceiver);
    return text;
}

/// The RTP source that a pad of webrtcbin carries, from the name of rtpbin's pad behind it; 0
/// when it does not say.
quint32 sourceOf(GstPad *pad)
{
    GstPad *target = GST_IS_GHOST_PAD(pad) ? gst_ghost_pad_get_target(GST_GHOST_PAD(pad)) : nullptr;
    if (!target)
        return 0;
    guint session = 0, source = 0, type = 0;
    gchar *name = gst_pad_get_name(target);
    const bool named = std::sscanf(name, "recv_rtp_src_%u_%u_%u", &session, &source, &type) == 3;
    g_free(name);
    gst_object_unref(target);
    return named ? source : 0;
}

/// The RTP sources of each media line of the relay's offer, by mid.
QHash<quint32, QString> midsOfSources(const GstSDPMessage *sdp)
{
    QHash<quint32, QString> mids;
    for (guint m = 0; m < gst_sdp_message_medias_len(sdp); ++m) {
        const GstSDPMedia *media = gst_sdp_message_get_media(sdp, m);
        const QString mid = QString::fromUtf8(gst_sdp_media_get_attribute_val(media, "mid"));
        for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a) {
            const GstSDPAttribute *attribute = gst_sdp_media_get_attribute(media, a);
            if (g_strcmp0(attribute->key, "ssrc") == 0 && attribute->value)
                mids.insert(quint32(std::strtoul(attribute->value, nullptr, 10)), mid);
        }
    }
    return mids;
}

/// Replaces the direction `from` of the media lines named in `mids` (all when empty) with `to`;
/// the mids of the lines changed.
QSet<QString> redirect(GstSDPMessage *sdp, const char *from, const char *to,
                       const QSet<QString> &mids = {})
{
    QSet<QString> changed;
    for (guint m = 0; m < gst_sdp_message_medias_len(sdp); ++m) {
        auto *media = const_cast<GstSDPMedia *>(gst_sdp_message_get_media(sdp, m));
        const QString mid = QString::fromUtf8(gst_sdp_media_get_attribute_val(media, "mid"));
        if (!mids.isEmpty() && !mids.contains(mid))
            continue;
        for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a) {
            if (g_strcmp0(gst_sdp_media_get_attribute(media, a)->key, from) != 0)
                continue;
            GstSDPAttribute direction;
            gst_sdp_attribute_set(&direction, to, nullptr);
            gst_sdp_media_replace_attribute(media, a, &direction);
            changed.insert(mid);
        }
    }
    return changed;
}

QByteArray nameOf(const char *kind, const QString &mid)
{
    return QByteArray(kind) + '_' + mid.toUtf8();
}

/// A funnel named `name` in `pipeline` in front of `bin`: each pad of webrtcbin that a media
/// line's stream comes out of flows into it. A line gets a new pad for each new source on it
/// (the relay gives a free line to another feed), while the old one lingers.
bool funnelInto(GstElement *pipeline, GstElement *bin, const QByteArray &name)
{
    GstElement *funnel = gst_element_factory_make("funnel", name.constData());
    if (!funnel)
        return false;
    gst_bin_add(GST_BIN(pipeline), funnel);
    const bool linked = gst_element_link(funnel, bin);
    gst_element_sync_state_with_parent(funnel);
    return linked;
}

} // namespace

/// One media line's pictures: its decoder's bin, made with its first pad, and where the
/// pictures go now.
struct Subscriber::Pictures
{
    Subscriber *peer = nullptr;
    GstElement *bin = nullptr;         ///< set once, on a GStreamer thread
    std::unique_ptr<PictureFit> fit;   ///< likewise, before the pictures flow
    QMutex mutex;                      ///< guards what follows
    std::shared_ptr<FrameSlot> frames; ///< null while the line carries no picture
    bool share = false;

    void deliver(const QImage &frame);
};

void Subscriber::Pictures::deliver(const QImage &frame)
{
    std::shared_ptr<FrameSlot> slot;
    bool ofShare = false;
    {
        QMutexLocker lock(&mutex);
        slot = frames;
        ofShare = share;
    }
    if (!slot)
        return;
    if (FrameStamp::enabled() && !ofShare) // a share's pictures carry no stamp
        FrameStamp::noteDecoded(frame);
    slot->put(frame, fit ? fit->adjust(slot->shownWidth()) : QSize());
    if (peer->m_repaint)
        peer->m_repaint();
}

Subscriber::Subscriber(EngineState &state, SoundMix &mix, const QString &recordFolder,
                       QObject *parent)
    : WebRtcPeer(parent)
    , m_state(state)
    , m_mix(mix)
    , m_recordFolder(recordFolder)
{
    QMutexLocker lock(&m_state.mutex);
    m_repaint = m_state.repaint;
}

Subscriber::~Subscriber()
{
    stopPipeline(); // no picture may arrive once the tiles forget them
    const QList<QString> mids = m_targets.keys();
    for (const QString &mid : mids)
        retarget(mid, {});
    for (const QString &channel : std::as_const(m_voices))
        m_mix.removeVoice(channel);
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

void Subscriber::setStreams(const Streams &streams)
{
    const QList<QString> before = m_targets.keys();
    for (const QString &mid : before)
        if (!streams.contains(mid))
            retarget(mid, {});
    for (auto it = streams.cbegin(); it != streams.cend(); ++it)
        retarget(it.key(), it.value());
}

void Subscriber::dropFeed(qint64 feed)
{
    const QList<QString> mids = m_targets.keys();
    for (const QString &mid : mids)
        if (m_targets.value(mid).feed == feed)
            retarget(mid, {});
}

void Subscriber::retarget(const QString &mid, const Target &target)
{
    const Target old = m_targets.value(mid);
    if (old == target)
        return;
    if (target.feed == 0)
        m_targets.remove(mid);
    else
        m_targets.insert(mid, target);
    if (old.video || target.video) {
        const std::shared_ptr<Pictures> pictures = picturesOf(mid);
        std::shared_ptr<FrameSlot> slot = target.video ? std::make_shared<FrameSlot>() : nullptr;
        std::shared_ptr<FrameSlot> oldSlot;
        {
            QMutexLocker lock(&pictures->mutex);
            oldSlot = std::exchange(pictures->frames, slot);
            pictures->share = target.share;
        }
        QMutexLocker lock(&m_state.mutex);
        if (old.video) {
            auto &frames = old.share ? m_state.shareVideo : m_state.remoteVideo;
            if (frames.value(old.uri) == oldSlot) // not yet taken over by a newer stream
                frames.remove(old.uri);
        }
        if (target.video)
            (target.share ? m_state.shareVideo : m_state.remoteVideo).insert(target.uri, slot);
    } else if (target.feed != 0 && !target.share && !m_voices.contains(mid) &&
               !addSound(mid, target.uri)) {
        fail(QStringLiteral("no sound decoder"));
    }
    if (m_repaint)
        m_repaint();
}

std::shared_ptr<Subscriber::Pictures> Subscriber::picturesOf(const QString &mid)
{
    QMutexLocker lock(&m_mutex);
    std::shared_ptr<Pictures> &pictures = m_pictures[mid];
    if (!pictures) {
        pictures = std::make_shared<Pictures>();
        pictures->peer = this;
    }
    return pictures;
}

void Subscriber::setOffer(const QString &sdp)
{
    GstSDPMessage *offer = nullptr;
    const QByteArray text = sdp.toUtf8();
    if (gst_sdp_message_new_from_text(text.constData(), &offer) != GST_SDP_OK)
        return answerOffer(sdp); // refused there
    m_feedback.setVideoSources(RtcpFeedbackOrder::videoSourcesOf(offer));
    {
        QMutexLocker lock(&m_mutex);
        m_midOfSource = midsOfSources(offer);
    }
    // A media line the relay stops sending on (its feed gone) stays a receiving one here: the
    // relay gives a free line to the next feed of its kind, and webrtcbin cannot turn an
    // inactive line into a receiving one again.
    m_idleLines = redirect(offer, "inactive", "sendonly");
    gchar *kept = gst_sdp_message_as_text(offer);
    gst_sdp_message_free(offer);
    answerOffer(QString::fromUtf8(kept));
    g_free(kept);
}

QJsonObject Subscriber::answerForRelay(const QJsonObject &answer) const
{
    GstSDPMessage *sdp = nullptr;
    const QByteArray text = answer.value("sdp").toString().toUtf8();
    if (m_idleLines.isEmpty() ||
        gst_sdp_message_new_from_text(text.constData(), &sdp) != GST_SDP_OK)
        return answer;
    redirect(sdp, "recvonly", "inactive", m_idleLines);
    gchar *told = gst_sdp_message_as_text(sdp);
    gst_sdp_message_free(sdp);
    QJsonObject changed = answer;
    changed.insert("sdp", QString::fromUtf8(told));
    g_free(told);
    return changed;
}

void Subscriber::setSpeakerMuted(bool muted)
{
    m_speakerMuted = muted; // for sound still to come
    for (auto it = m_voices.cbegin(); it != m_voices.cend(); ++it) {
        GstElement *sound = element(nameOf("sound", it.key()).constData());
        GstElement *volume = sound ? gst_bin_get_by_name(GST_BIN(sound), "speaker") : nullptr;
        if (volume)
            g_object_set(volume, "mute", gboolean(muted), nullptr);
        for (GstElement *e : {volume, sound})
            if (e)
                gst_object_unref(e);
    }
}

bool Subscriber::addSound(const QString &mid, const QString &uri)
{
    QString record, channel;
    if (!m_recordFolder.isEmpty())
        record = QDir(m_recordFolder)
                     .filePath(uri.section(u'-', -1).section(u';', 0, 0) + QStringLiteral(".s16"));
    else
        channel = m_mix.addVoice();
    m_voices.insert(mid, channel);
    GstElement *sound = parsedBin(MediaPipeline::voice(channel, record, m_speakerMuted));
    if (!sound)
        return false;
    gst_object_set_name(GST_OBJECT(sound), nameOf("sound", mid).constData());
    concealEachLossOnce(sound);
    gst_bin_add(GST_BIN(m_pipeline), sound);
    if (FrameStamp::enabled())
        noteFirstSound(sound);
    gst_element_sync_state_with_parent(sound);
    return funnelInto(m_pipeline, sound, nameOf("lines", mid));
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
    // webrtcbin at times files a line's new source (a free line given to another feed) under
    // the first line: the relay's offer says which line the source is on.
    QString mid = midOf(pad);
    {
        QMutexLocker lock(&m_mutex);
        mid = m_midOfSource.value(sourceOf(pad), mid);
    }
    if (video)
        addVideo(mid, pad);
    else
        linkLine(mid, pad);
}

void Subscriber::addVideo(const QString &mid, GstPad *pad)
{
    const std::shared_ptr<Pictures> pictures = picturesOf(mid);
    if (!pictures->bin) {
        // A picture with packets lost for good is dropped, and every one after it until a
        // keyframe, which is asked for: a damaged picture is never shown.
        GstElement *bin = parsedBin(QStringLiteral(
            "rtpvp8depay name=videodepay wait-for-keyframe=true request-keyframe=true "
            "! vp8dec name=videodec ! videoscale name=fit ! capsfilter name=fitsize "
            "! videoconvert ! video/x-raw,format=BGRx "
            "! appsink name=frames sync=false max-buffers=1 drop=true"));
        if (!bin)
            return fail(QStringLiteral("no video decoder"));
        gst_object_set_name(GST_OBJECT(bin), nameOf("video", mid).constData());
        GstElement *frames = gst_bin_get_by_name(GST_BIN(bin), "frames");
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink *appSink, gpointer data) {
            if (GstSample *sample = gst_app_sink_pull_sample(appSink)) {
                const QImage image = imageOf(sample);
                gst_sample_unref(sample);
                if (!image.isNull())
                    static_cast<Pictures *>(data)->deliver(image);
            }
            return GST_FLOW_OK;
        };
        // The pictures live as long as the subscriber, whose pipeline stops first.
        gst_app_sink_set_callbacks(GST_APP_SINK(frames), &callbacks, pictures.get(), nullptr);
        gst_object_unref(frames);
        pictures->fit = std::make_unique<PictureFit>(bin, "fit", "fitsize");
        GstElement *decoder = gst_bin_get_by_name(GST_BIN(bin), "videodec");
        countFrames(decoder);
        gst_object_unref(decoder);
        GstElement *depayloader = gst_bin_get_by_name(GST_BIN(bin), "videodepay");
        countDamaged(depayloader);
        gst_object_unref(depayloader);
        gst_bin_add(GST_BIN(m_pipeline), bin);
        gst_element_sync_state_with_parent(bin);
        pictures->bin = bin;
        if (!funnelInto(m_pipeline, bin, nameOf("lines", mid)))
            return fail(QStringLiteral("the received video cannot be decoded"));
    }
    linkLine(mid, pad);
}

void Subscriber::linkLine(const QString &mid, GstPad *pad)
{
    GstElement *funnel = element(nameOf("lines", mid).constData());
    GstPad *in = funnel ? gst_element_request_pad_simple(funnel, "sink_%u") : nullptr;
    if (funnel)
        gst_object_unref(funnel);
    if (!in)
        return discard(pad); // a share's sound, or a line that carries no voice
    const GstPadLinkReturn link = gst_pad_link(pad, in);
    gst_object_unref(in);
    if (link != GST_PAD_LINK_OK)
        fail(QStringLiteral("the received media of line %1 cannot be decoded (%2)")
                 .arg(mid, QLatin1String(gst_pad_link_get_name(link))));
}

void Subscriber::discard(GstPad *pad)
{
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(m_pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad *in = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, in);
    gst_object_unref(in);
}

void Subscriber::streamsRead(qint64 nowMs, const QList<LinkStats::Counters> &streams)
{
    QHash<QString, QList<LinkStats::Counters>> byUri;
    for (const LinkStats::Counters &c : streams) {
        const Target target = m_targets.value(m_midOfSource.value(c.ssrc));
        if (target.feed != 0 && !target.share)
            byUri[target.uri].append(c);
    }
    for (auto it = byUri.cbegin(); it != byUri.cend(); ++it)
        m_links[it.key()].update(nowMs, it.value(), LinkStats::Frames());
    for (auto it = m_links.begin(); it != m_links.end();)
        it = byUri.contains(it.key()) ? std::next(it) : m_links.erase(it);
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
