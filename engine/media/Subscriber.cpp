#include "engine/media/Subscriber.h"

#include "engine/EngineState.h"
#include "engine/media/FrameStamp.h"
#include "engine/media/MediaPipeline.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QImage>
#include <QMutexLocker>

namespace {

/// Notes when the stream's first sound reaches the speaker, for the benchmarks.
void noteFirstSound(GstElement *speaker)
{
    GstPad *in = gst_element_get_static_pad(speaker, "sink");
    if (!in)
        return;
    gst_pad_add_probe(
        in, GST_PAD_PROBE_TYPE_BUFFER,
        +[](GstPad *, GstPadProbeInfo *, gpointer) {
            FrameStamp::noteSound();
            return GST_PAD_PROBE_REMOVE;
        },
        nullptr, nullptr);
    gst_object_unref(in);
}

} // namespace

bool Subscriber::speakerOpens(const QString &device)
{
    GError *error = nullptr;
    GstElement *probe =
        gst_parse_launch(MediaPipeline::speaker(device, false).toUtf8().constData(), &error);
    g_clear_error(&error);
    if (!probe)
        return false;
    const bool opens = gst_element_set_state(probe, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(probe, GST_STATE_NULL);
    gst_object_unref(probe);
    return opens;
}

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
        description = QStringLiteral(
            "rtpvp8depay ! vp8dec name=videodec ! videoscale name=fit ! capsfilter name=fitsize "
            "! videoconvert ! video/x-raw,format=BGRx "
            "! appsink name=frames sync=false max-buffers=1 drop=true");
    } else {
        description = QStringLiteral("rtpopusdepay ! opusdec ! audioconvert ! audioresample "
                                     "! volume name=speaker mute=%1")
                          .arg(m_speakerMuted ? QStringLiteral("true") : QStringLiteral("false"));
    }
    GError *error = nullptr;
    GstElement *bin =
        gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
    if (!bin) {
        const QString why = QString::fromUtf8(error ? error->message : "no decoder");
        g_clear_error(&error);
        return fail(why);
    }
    if (video) {
        watchFrames(
            "frames",
            [](WebRtcPeer *peer, const QImage &frame) {
                if (FrameStamp::enabled())
                    FrameStamp::noteDecoded(frame);
                static_cast<Subscriber *>(peer)->deliver(frame);
            },
            bin);
        m_fit = std::make_unique<PictureFit>(bin, "fit", "fitsize");
        GstElement *decoder = gst_bin_get_by_name(GST_BIN(bin), "videodec");
        countFrames(decoder);
        gst_object_unref(decoder);
    }
    gst_bin_add(GST_BIN(m_pipeline), bin);
    if (!video) {
        // The speaker in a bin of its own, so that another output can take its place.
        GstElement *out = speakerBin();
        gst_bin_add(GST_BIN(m_pipeline), out);
        gst_element_sync_state_with_parent(out);
        if (!gst_element_link(bin, out))
            return fail(QStringLiteral("the decoded sound cannot reach the speaker"));
        if (FrameStamp::enabled())
            noteFirstSound(out);
    }
    gst_element_sync_state_with_parent(bin);
    GstPad *sinkPad = gst_element_get_static_pad(bin, "sink");
    const GstPadLinkReturn link = gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
    if (link != GST_PAD_LINK_OK)
        fail(QStringLiteral("the received %1 cannot be decoded (%2)")
                 .arg(video ? QStringLiteral("video") : QStringLiteral("sound"),
                      QLatin1String(gst_pad_link_get_name(link))));
}

GstElement *Subscriber::speakerBin() const
{
    QString speaker;
    {
        QMutexLocker lock(&m_speakerLock);
        speaker = m_speakerOpens ? MediaPipeline::speaker(m_speakerDevice, m_echoReference)
                                 : QStringLiteral("fakesink sync=false");
    }
    const QString description =
        m_recordFile.isEmpty()
            ? speaker
            : QStringLiteral("audioconvert ! audio/x-raw,format=S16LE,channels=1,rate=48000 "
                             "! filesink sync=false buffer-mode=2 location=\"%1\"")
                  .arg(m_recordFile);
    GError *error = nullptr;
    GstElement *bin =
        gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
    g_clear_error(&error);
    if (!bin)
        bin = gst_parse_bin_from_description("fakesink sync=false", TRUE, nullptr);
    gst_object_set_name(GST_OBJECT(bin), "speakerout");
    // A sink that joins the playing pipeline plays at once, without making the whole pipeline
    // wait for it to preroll.
    GstIterator *it = gst_bin_iterate_sinks(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GObject *sink = G_OBJECT(g_value_get_object(&item));
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "async"))
            g_object_set(sink, "async", FALSE, nullptr);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return bin;
}

void Subscriber::changeSpeaker(const QString &device, bool opens, bool echoReference)
{
    {
        QMutexLocker lock(&m_speakerLock);
        if (device == m_speakerDevice && opens == m_speakerOpens &&
            echoReference == m_echoReference)
            return;
        m_speakerDevice = device;
        m_speakerOpens = opens;
        m_echoReference = echoReference;
    }
    GstElement *old = m_pipeline && m_recordFile.isEmpty()
                          ? gst_bin_get_by_name(GST_BIN(m_pipeline), "speakerout")
                          : nullptr;
    if (!old)
        return; // no sound yet: it will play as now chosen
    GstPad *in = gst_element_get_static_pad(old, "sink");
    GstPad *feed = in ? gst_pad_get_peer(in) : nullptr;
    gst_object_unref(in);
    if (!feed) {
        gst_object_unref(old);
        return;
    }
    // Swapped between two buffers, so that the stream never meets an unlinked or stopped
    // pad: pictures share its thread.
    struct Swap
    {
        Subscriber *subscriber;
        GstElement *pipeline, *old, *fresh;
    };
    auto *swap = new Swap{this, m_pipeline, old, speakerBin()};
    gst_object_ref_sink(swap->fresh);
    gst_pad_add_probe(
        feed, GST_PAD_PROBE_TYPE_IDLE,
        [](GstPad *pad, GstPadProbeInfo *, gpointer data) {
            auto *s = static_cast<Swap *>(data);
            if (!s->old)
                return GST_PAD_PROBE_REMOVE;
            GstPad *oldIn = gst_element_get_static_pad(s->old, "sink");
            gst_pad_unlink(pad, oldIn);
            gst_object_unref(oldIn);
            gst_element_set_locked_state(s->old, TRUE);
            gst_element_set_state(s->old, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(s->pipeline), s->old);
            gst_bin_add(GST_BIN(s->pipeline), s->fresh);
            GstPad *freshIn = gst_element_get_static_pad(s->fresh, "sink");
            if (const GstPadLinkReturn link = gst_pad_link(pad, freshIn); link != GST_PAD_LINK_OK)
                s->subscriber->fail(QStringLiteral("the new speaker cannot be linked (%1)")
                                        .arg(QLatin1String(gst_pad_link_get_name(link))));
            gst_object_unref(freshIn);
            gst_element_sync_state_with_parent(s->fresh);
            gst_object_unref(s->old);
            s->old = nullptr;
            return GST_PAD_PROBE_REMOVE;
        },
        swap,
        [](gpointer data) {
            auto *s = static_cast<Swap *>(data);
            if (s->old)
                gst_object_unref(s->old);
            gst_object_unref(s->fresh);
            delete s;
        });
    gst_object_unref(feed);
}

void Subscriber::deliver(const QImage &frame)
{
    m_frames->put(frame, m_fit ? m_fit->adjust(m_frames->shownWidth()) : QSize());
    if (m_repaint)
        m_repaint();
}
