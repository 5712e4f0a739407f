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

/// Leaves out the feedback about sources other than `video`, and turns each request for a new
/// picture into one PLI about the picture: the jitter buffers send a FIR, whose header names no
/// source, and the relay drops a compound it cannot file. The first video source asked about,
/// 0 when none is.
quint32 keepVideoFeedback(GstRTCPBuffer &rtcp, const QList<quint32> &video)
{
    quint32 asked = 0, requester = 0;
    bool newPicture = false;
    GstRTCPPacket packet;
    bool more = gst_rtcp_buffer_get_first_packet(&rtcp, &packet);
    while (more) {
        const GstRTCPType type = gst_rtcp_packet_get_type(&packet);
        if (type != GST_RTCP_TYPE_RTPFB && type != GST_RTCP_TYPE_PSFB) {
            more = gst_rtcp_packet_move_to_next(&packet);
            continue;
        }
        if (asksForPicture(packet)) {
            newPicture = true;
            requester = gst_rtcp_packet_fb_get_sender_ssrc(&packet);
            more = gst_rtcp_packet_remove(&packet);
            continue;
        }
        const quint32 media = gst_rtcp_packet_fb_get_media_ssrc(&packet);
        if (!video.contains(media)) {
            more = gst_rtcp_packet_remove(&packet);
            continue;
        }
        if (asked == 0)
            asked = media;
        more = gst_rtcp_packet_move_to_next(&packet);
    }
    if (newPicture && addPictureRequest(rtcp, requester, video.first()) && asked == 0)
        asked = video.first();
    return asked;
}

/// The compound's first packet when it is a report with blocks (a receiver's or a sender's).
bool firstReport(GstRTCPBuffer &rtcp, GstRTCPPacket *report)
{
    if (!gst_rtcp_buffer_get_first_packet(&rtcp, report))
        return false;
    const GstRTCPType type = gst_rtcp_packet_get_type(report);
    return type == GST_RTCP_TYPE_RR || type == GST_RTCP_TYPE_SR;
}

/// A report's block `index`, bytes as they are: GStreamer reads report blocks but cannot write
/// them.
guint8 *blockAt(GstRTCPPacket *report, guint index)
{
    constexpr gsize blockSize = 24;
    const gsize blocks = gst_rtcp_packet_get_type(report) == GST_RTCP_TYPE_SR ? 28 : 8;
    return report->rtcp->map.data + report->offset + blocks + index * blockSize;
}

/// Moves the block about `source` to the front of the compound's first report.
void reportFirst(GstRTCPBuffer &rtcp, quint32 source)
{
    GstRTCPPacket report;
    if (!firstReport(rtcp, &report))
        return;
    for (guint i = 1; i < gst_rtcp_packet_get_rb_count(&report); ++i) {
        if (GST_READ_UINT32_BE(blockAt(&report, i)) == source)
            return void(
                std::swap_ranges(blockAt(&report, 0), blockAt(&report, 1), blockAt(&report, i)));
    }
}

/// Reports the picture's round trip at least a millisecond long. The relay keeps the packets it
/// sends for retransmission only once it has measured a round trip that differs from 0 ms, in
/// whole milliseconds, from the report blocks about them: on a link faster than that (a LAN) it
/// never answers a request for a lost packet. The delay since the last sender report is told
/// a millisecond short, so the round trip reads that much longer.
void lengthenRoundTrip(GstRTCPBuffer &rtcp, quint32 picture)
{
    constexpr guint32 millisecond = 66; // in 1/65536 s, rounded up
    GstRTCPPacket report;
    if (!firstReport(rtcp, &report))
        return;
    for (guint i = 0; i < gst_rtcp_packet_get_rb_count(&report); ++i) {
        guint8 *block = blockAt(&report, i);
        if (GST_READ_UINT32_BE(block) != picture || GST_READ_UINT32_BE(block + 16) == 0)
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

bool RtcpFeedbackOrder::reorder(GstBuffer *buffer, const QList<quint32> &video, bool pictureFirst)
{
    GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
    if (!gst_rtcp_buffer_validate_reduced(buffer) ||
        !gst_rtcp_buffer_map(buffer, GST_MAP_READWRITE, &rtcp))
        return false;
    if (!video.isEmpty()) { // before the offer nothing is sure to be sound yet
        quint32 first = keepVideoFeedback(rtcp, video);
        if (first == 0 && pictureFirst)
            first = video.first();
        if (first != 0)
            reportFirst(rtcp, first);
        lengthenRoundTrip(rtcp, video.first());
    }
    gst_rtcp_buffer_unmap(&rtcp);
    return true;
}

GstPadProbeReturn RtcpFeedbackOrder::rewrite(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    const QList<quint32> video = static_cast<RtcpFeedbackOrder *>(self)->videoSources();
    if (video.isEmpty()) // not known before the offer: nothing is sure to be sound yet
        return GST_PAD_PROBE_OK;
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    auto *order = static_cast<RtcpFeedbackOrder *>(self);
    reorder(buffer, video, order->m_reports.fetch_add(1, std::memory_order_relaxed) % 2 == 0);
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
