#include "engine/media/SoundMix.h"

#include "engine/media/MediaPipeline.h"
#include "engine/media/ParsedBin.h"
#include "engine/media/PipelineTeardown.h"

#include <gst/gst.h>

#include <atomic>
#include <utility>

namespace {

/// Channels are named for the whole process: every mix's voices differ.
std::atomic<int> lastVoice{0};

} // namespace

SoundMix::SoundMix(QObject *parent)
    : QObject(parent)
{}

SoundMix::~SoundMix()
{
    stop();
}

bool SoundMix::opens(const QString &device)
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

void SoundMix::setOutput(const QString &device, bool echoReference)
{
    if (m_probed && device == m_device && echoReference == m_echoReference)
        return;
    if (!m_probed || device != m_device)
        m_opens = opens(device);
    m_probed = true;
    m_device = device;
    m_echoReference = echoReference;
    if (m_pipeline)
        build(); // the voices' channels outlive the mix that reads them
}

QString SoundMix::addVoice()
{
    const QString channel = MediaPipeline::voiceChannel(++lastVoice);
    m_channels.append(channel);
    if (m_pipeline)
        addInput(channel);
    else
        build();
    return channel;
}

void SoundMix::removeVoice(const QString &channel)
{
    if (!m_channels.removeOne(channel))
        return;
    if (m_channels.isEmpty())
        return stop();
    GstElement *input = m_pipeline
                            ? gst_bin_get_by_name(GST_BIN(m_pipeline), channel.toUtf8().constData())
                            : nullptr;
    if (!input)
        return;
    GstPad *out = gst_element_get_static_pad(input, "src");
    GstPad *in = out ? gst_pad_get_peer(out) : nullptr;
    // Stopped first: its thread leaves the mixer, which takes a piece of every input in turn,
    // and pushes nothing into a pad that is gone.
    gst_element_set_locked_state(input, TRUE);
    gst_element_set_state(input, GST_STATE_NULL);
    if (in) {
        gst_pad_unlink(out, in);
        gst_element_release_request_pad(m_mixer, in);
        gst_object_unref(in);
    }
    if (out)
        gst_object_unref(out);
    gst_bin_remove(GST_BIN(m_pipeline), input);
    gst_object_unref(input);
}

void SoundMix::clear()
{
    m_channels.clear();
    stop();
}

void SoundMix::build()
{
    stop();
    if (m_channels.isEmpty())
        return;
    GError *error = nullptr;
    const QString launch = MediaPipeline::soundMix(m_device, m_opens, m_echoReference);
    m_pipeline = gst_parse_launch(launch.toUtf8().constData(), &error);
    if (error) {
        qWarning("media: the sound's mix: %s", error->message);
        g_error_free(error);
    }
    if (!m_pipeline)
        return;
    m_mixer = gst_bin_get_by_name(GST_BIN(m_pipeline), "mix");
    if (!m_mixer) {
        qWarning("media: the sound's mix has no mixer");
        return stop();
    }
    watchBus();
    for (const QString &channel : std::as_const(m_channels))
        addInput(channel);
    gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

/// Errors hop to this object's thread, marked with the pipeline they came from.
void SoundMix::watchBus()
{
    struct Watch
    {
        SoundMix *mix; ///< lives on: the mix stops its pipeline first
        int generation;
    };
    GstBus *bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus *, GstMessage *message, gpointer data) {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                GError *error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                const QString why = QString::fromUtf8(error ? error->message : "an error");
                g_clear_error(&error);
                const Watch watch = *static_cast<Watch *>(data);
                QMetaObject::invokeMethod(
                    watch.mix, [watch, why] { watch.mix->failed(watch.generation, why); },
                    Qt::QueuedConnection);
            }
            gst_message_unref(message);
            return GST_BUS_DROP;
        },
        new Watch{this, ++m_generation}, [](gpointer data) { delete static_cast<Watch *>(data); });
    gst_object_unref(bus);
}

void SoundMix::addInput(const QString &channel)
{
    GstElement *input = parsedBin(MediaPipeline::mixInput(channel));
    if (!input)
        return;
    gst_object_set_name(GST_OBJECT(input), channel.toUtf8().constData());
    gst_bin_add(GST_BIN(m_pipeline), input);
    GstPad *out = gst_element_get_static_pad(input, "src");
    GstPad *in = gst_element_request_pad_simple(m_mixer, "sink_%u");
    const GstPadLinkReturn link = out && in ? gst_pad_link(out, in) : GST_PAD_LINK_REFUSED;
    if (link != GST_PAD_LINK_OK)
        qWarning("media: a voice cannot join the mix (%s)", gst_pad_link_get_name(link));
    for (GstPad *pad : {out, in})
        if (pad)
            gst_object_unref(pad);
    gst_element_sync_state_with_parent(input);
}

void SoundMix::stop()
{
    if (!m_pipeline)
        return;
    stopPipeline(m_pipeline);
    if (m_mixer)
        gst_object_unref(std::exchange(m_mixer, nullptr));
    gst_object_unref(std::exchange(m_pipeline, nullptr));
}

void SoundMix::failed(int generation, const QString &why)
{
    if (generation != m_generation || !m_pipeline)
        return;
    qWarning("media: the speaker failed (%s); the received sound is dropped until another "
             "output is chosen",
             qPrintable(why));
    if (!std::exchange(m_opens, false))
        return stop(); // not even dropping works: tried again with the next voice
    build();
}
