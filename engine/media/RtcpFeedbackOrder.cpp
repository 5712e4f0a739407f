#include "engine/media/RtcpFeedbackOrder.h"

#include <gst/rtp/rtp.h>

#include <algorithm>
#include <cstdlib>

namespace {

bool asksForPicture(GstRTCPPacket &packet)
{
    if (gst_rtcp_packet_get_type(&packet) != GST_RTCP_TYPE_PSFB)
        return false;
    const GstRTCPFBType type = gst_rtcp_packet_fb_get_type(&packet);
    return type == GST_RTCP_PSFB_TYPE_PLI || type == GST_RTCP_PSFB_TYPE_FIR;
}

/// Asks `picture`'s sender for a new picture, with a PLI at the compound's end.
bool addPictureRequest(GstRTCPBuffer &rtcp, quint32 sender, quint32 picture)
{
    GstRTCPPacket pli;
    if (!gst_rtcp_buffer_add_packet(&rtcp, GST_RTCP_TYPE_PSFB, &pli))
        return false;
    gst_rtcp_packet_fb_set_type(&pli, GST_RTCP_PSFB_TYPE_PLI);
    gst_rtcp_packet_fb_set_sender_ssrc(&pli, sender);
    gst_rtcp_packet_fb_set_media_ssrc(&pli, picture);
    return true;
}

/// The source a request for a new picture is about: a PLI names it in its header, a FIR (whose
/// header names none) in its first entry.
quint32 pictureAsked(GstRTCPPacket &packet)
{
    if (gst_rtcp_packet_fb_get_type(&packet) == GST_RTCP_PSFB_TYPE_PLI)
        return gst_rtcp_packet_fb_get_media_ssrc(&packet);
    if (gst_rtcp_packet_fb_get_fci_length(&packet) < 2)
        return 0;
    return GST_READ_UINT32_BE(gst_rtcp_packet_fb_get_fci(&packet));
}

/// The first of `sources` other than `last`, or the first when there is none.
quint32 nextTurn(const QList<quint32> &sources, quint32 last)
{
    for (const quint32 source : sources)
        if (source != last)
            return source;
    return sources.value(0);
}

/// The one video source a compound's feedback is kept for: the relay reads all of a
/// compound's requests against one source. A new picture comes first, as a stream stands still
/// until one comes; lost packets are asked for again in a later report. Pictures that wait
/// together take turns with `last`, the one kept before. 0 when none is asked.
quint32 sourceAsked(GstRTCPBuffer &rtcp, const QList<quint32> &video, quint32 last,
                    bool &newPicture, quint32 &requester)
{
    QList<quint32> lost, pictures;
    GstRTCPPacket packet;
    for (bool more = gst_rtcp_buffer_get_first_packet(&rtcp, &packet); more;
         more = gst_rtcp_packet_move_to_next(&packet)) {
        const GstRTCPType type = gst_rtcp_packet_get_type(&packet);
        if (type != GST_RTCP_TYPE_RTPFB && type != GST_RTCP_TYPE_PSFB)
            continue;
        if (asksForPicture(packet)) {
            requester = gst_rtcp_packet_fb_get_sender_ssrc(&packet);
            const quint32 asked = pictureAsked(packet);
            pictures.append(video.contains(asked) ? asked : video.first());
        } else if (const quint32 media = gst_rtcp_packet_fb_get_media_ssrc(&packet);
                   video.contains(media)) {
            lost.append(media);
        }
    }
    newPicture = !pictures.isEmpty();
    return nextTurn(newPicture ? pictures : lost, last);
}

/// Leaves out the feedback about sources other than the one asked about most (see
/// sourceAsked()), and turns each request for a new picture into one PLI about it: the jitter
/// buffers send a FIR, whose header names no source, and the relay drops a compound it cannot
/// file. The source asked about, 0 when none is.
quint32 keepVideoFeedback(GstRTCPBuffer &rtcp, const QList<quint32> &video, quint32 last)
{
    bool newPicture = false;
    quint32 requester = 0;
    const quint32 asked = sourceAsked(rtcp, video, last, newPicture, requester);
    GstRTCPPacket packet;
    bool more = gst_rtcp_buffer_get_first_packet(&rtcp, &packet);
    while (more) {
        const GstRTCPType type = gst_rtcp_packet_get_type(&packet);
        if (type != GST_RTCP_TYPE_RTPFB && type != GST_RTCP_TYPE_PSFB)
            more = gst_rtcp_packet_move_to_next(&packet);
        else if (asksForPicture(packet) || gst_rtcp_packet_fb_get_media_ssrc(&packet) != asked)
            more = gst_rtcp_packet_remove(&packet);
        else
            more = gst_rtcp_packet_move_to_next(&packet);
    }
    if (newPicture && !addPictureRequest(rtcp, requester, asked))
        return 0;
    return asked;
}

/// Swaps a report's first block with its block `other`, bytes as they are: GStreamer reads
/// report blocks but cannot write them.
/// Where a report's first block starts.
guint8 *firstBlock(GstRTCPPacket *report)
{
    const gsize blocks = gst_rtcp_packet_get_type(report) == GST_RTCP_TYPE_SR ? 28 : 8;
    return report->rtcp->map.data + report->offset + blocks;
}

void swapWithFirst(GstRTCPPacket *report, guint other)
{
    constexpr gsize blockSize = 24;
    guint8 *first = firstBlock(report);
    std::swap_ranges(first, first + blockSize, first + other * blockSize);
}

/// Moves the block about `source` to the front of the compound's first report. A source the
/// report has no block about yet (a line's new source) takes over the first block's name: the
/// relay files the compound, and with it the request, under that name.
void reportFirst(GstRTCPBuffer &rtcp, quint32 source)
{
    GstRTCPPacket packet;
    if (!gst_rtcp_buffer_get_first_packet(&rtcp, &packet))
        return;
    const GstRTCPType type = gst_rtcp_packet_get_type(&packet);
    if (type != GST_RTCP_TYPE_RR && type != GST_RTCP_TYPE_SR)
        return;
    const guint count = gst_rtcp_packet_get_rb_count(&packet);
    for (guint i = 0; i < count; ++i) {
        guint32 ssrc = 0;
        gst_rtcp_packet_get_rb(&packet, i, &ssrc, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr);
        if (ssrc == source)
            return i == 0 ? void() : swapWithFirst(&packet, i);
    }
    if (count > 0)
        GST_WRITE_UINT32_BE(firstBlock(&packet), source);
}

/// The sources of the report's blocks about `video` that answer a sender report, in order.
QList<quint32> pictureBlocks(GstRTCPPacket *report, const QList<quint32> &video)
{
    QList<quint32> pictures;
    for (guint i = 0; i < gst_rtcp_packet_get_rb_count(report); ++i) {
        const guint8 *block = firstBlock(report) + i * 24;
        if (video.contains(GST_READ_UINT32_BE(block)) && GST_READ_UINT32_BE(block + 16) != 0)
            pictures.append(GST_READ_UINT32_BE(block));
    }
    return pictures;
}

/// The block a report without feedback leads with after `led`: each picture that its sender
/// reported on in the order of `video`, then the first block about anything else (the sound).
/// 0 leaves the report as it is.
quint32 nextLead(GstRTCPBuffer &rtcp, const QList<quint32> &video, quint32 led)
{
    GstRTCPPacket report;
    if (!gst_rtcp_buffer_get_first_packet(&rtcp, &report))
        return 0;
    const GstRTCPType type = gst_rtcp_packet_get_type(&report);
    if (type != GST_RTCP_TYPE_RR && type != GST_RTCP_TYPE_SR)
        return 0;
    const QList<quint32> reported = pictureBlocks(&report, video);
    QList<quint32> pictures;
    for (const quint32 source : video)
        if (reported.contains(source))
            pictures.append(source);
    if (pictures.isEmpty())
        return 0;
    const qsizetype next = pictures.indexOf(led) + 1; // the first after no picture or the sound
    if (led == 0 || next < pictures.size())
        return pictures.at(led == 0 ? 0 : next);
    for (guint i = 0; i < gst_rtcp_packet_get_rb_count(&report); ++i)
        if (const quint32 source = GST_READ_UINT32_BE(firstBlock(&report) + i * 24);
            !video.contains(source))
            return source;
    return pictures.first();
}

/// Reports each picture's round trip at least a millisecond long: the relay measures it in
/// whole milliseconds, and on a link faster than that (a LAN) it would read 0 for good and never
/// answer a request for a lost packet. The delay since the last sender report is told a
/// millisecond short, so the round trip reads that much longer.
void measurePictures(GstRTCPBuffer &rtcp, const QList<quint32> &video)
{
    constexpr guint32 millisecond = 66; // in 1/65536 s, rounded up
    GstRTCPPacket report;
    if (!gst_rtcp_buffer_get_first_packet(&rtcp, &report))
        return;
    const GstRTCPType type = gst_rtcp_packet_get_type(&report);
    if (type != GST_RTCP_TYPE_RR && type != GST_RTCP_TYPE_SR)
        return;
    const QList<quint32> pictures = pictureBlocks(&report, video);
    for (guint i = 0; i < gst_rtcp_packet_get_rb_count(&report); ++i) {
        guint8 *block = firstBlock(&report) + i * 24;
        if (!pictures.contains(GST_READ_UINT32_BE(block)))
            continue;
        const guint32 delay = GST_READ_UINT32_BE(block + 20);
        GST_WRITE_UINT32_BE(block + 20, delay > millisecond ? delay - millisecond : 0);
    }
}

} // namespace

void RtcpFeedbackOrder::setVideoSources(const QList<quint32> &sources)
{
    QMutexLocker lock(&m_mutex);
    m_video = sources;
}

QList<quint32> RtcpFeedbackOrder::videoSources() const
{
    QMutexLocker lock(&m_mutex);
    return m_video;
}

QList<quint32> RtcpFeedbackOrder::videoSourcesOf(const GstSDPMessage *sdp)
{
    QList<quint32> sources;
    for (guint m = 0; sdp && m < gst_sdp_message_medias_len(sdp); ++m) {
        const GstSDPMedia *media = gst_sdp_message_get_media(sdp, m);
        if (g_strcmp0(gst_sdp_media_get_media(media), "video") != 0)
            continue;
        for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a) {
            const GstSDPAttribute *attribute = gst_sdp_media_get_attribute(media, a);
            const char *value = attribute->value ? attribute->value : "";
            // A retransmission group names the picture's source first.
            const bool group =
                g_strcmp0(attribute->key, "ssrc-group") == 0 && g_str_has_prefix(value, "FID ");
            const quint32 source = quint32(std::strtoul(group ? value + 4 : value, nullptr, 10));
            if ((group || g_strcmp0(attribute->key, "ssrc") == 0) && source &&
                !sources.contains(source))
                group ? sources.prepend(source) : sources.append(source);
        }
    }
    return sources;
}

bool RtcpFeedbackOrder::reorder(GstBuffer *buffer, const QList<quint32> &video, Turns *turns)
{
    GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
    if (!gst_rtcp_buffer_validate_reduced(buffer) ||
        !gst_rtcp_buffer_map(buffer, GST_MAP_READWRITE, &rtcp))
        return false;
    // Before the offer nothing is sure to be sound yet.
    const quint32 asked =
        video.isEmpty() ? 0 : keepVideoFeedback(rtcp, video, turns ? turns->asked : 0);
    if (asked != 0) {
        reportFirst(rtcp, asked);
        if (turns)
            turns->asked = asked;
    } else if (turns && !video.isEmpty()) {
        const quint32 lead = nextLead(rtcp, video, turns->led);
        if (lead != 0)
            reportFirst(rtcp, lead);
        turns->led = video.contains(lead) ? lead : 0;
    }
    if (!video.isEmpty())
        measurePictures(rtcp, video);
    gst_rtcp_buffer_unmap(&rtcp);
    return true;
}

GstPadProbeReturn RtcpFeedbackOrder::rewrite(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    auto *order = static_cast<RtcpFeedbackOrder *>(self);
    const QList<quint32> video = order->videoSources();
    if (video.isEmpty()) // not known before the offer: nothing is sure to be sound yet
        return GST_PAD_PROBE_OK;
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    reorder(buffer, video, &order->m_turns);
    return gst_buffer_get_size(buffer) > 0 ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

void RtcpFeedbackOrder::attach(GstElement *rtpBin)
{
    g_signal_connect(rtpBin, "pad-added", G_CALLBACK(+[](GstElement *, GstPad *pad, gpointer self) {
                         if (g_str_has_prefix(GST_PAD_NAME(pad), "send_rtcp_src"))
                             gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, rewrite, self,
                                               nullptr);
                     }),
                     this);
}
