#include "engine/media/SharePace.h"

#include <gst/video/video.h>

#include <cstring>

namespace {

/// Whether the visible pixels of two pictures of `format` differ. Rows are compared without
/// their padding, which a converter may leave unwritten.
bool differ(const GstVideoInfo &format, GstBuffer *a, GstBuffer *b)
{
    GstVideoFrame one, other;
    if (!gst_video_frame_map(&one, const_cast<GstVideoInfo *>(&format), a, GST_MAP_READ))
        return true;
    if (!gst_video_frame_map(&other, const_cast<GstVideoInfo *>(&format), b, GST_MAP_READ)) {
        gst_video_frame_unmap(&one);
        return true;
    }
    bool changed = false;
    for (guint plane = 0; !changed && plane < GST_VIDEO_FRAME_N_PLANES(&one); ++plane) {
        const auto *rowA = static_cast<const guint8 *>(GST_VIDEO_FRAME_PLANE_DATA(&one, plane));
        const auto *rowB = static_cast<const guint8 *>(GST_VIDEO_FRAME_PLANE_DATA(&other, plane));
        const int strideA = GST_VIDEO_FRAME_PLANE_STRIDE(&one, plane);
        const int strideB = GST_VIDEO_FRAME_PLANE_STRIDE(&other, plane);
        // The plane's first component tells its rows' size; packed formats have one plane.
        gint component[GST_VIDEO_MAX_COMPONENTS];
        gst_video_format_info_component(format.finfo, plane, component);
        const int rowBytes = GST_VIDEO_FRAME_COMP_WIDTH(&one, component[0]) *
                             GST_VIDEO_FRAME_COMP_PSTRIDE(&one, component[0]);
        const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&one, component[0]);
        for (int y = 0; !changed && y < rows; ++y, rowA += strideA, rowB += strideB)
            changed = std::memcmp(rowA, rowB, size_t(std::min(rowBytes, strideA))) != 0;
    }
    gst_video_frame_unmap(&other);
    gst_video_frame_unmap(&one);
    return changed;
}

} // namespace

SharePace::SharePace(GstClockTime stillGap)
    : m_stillGap(stillGap)
{}

SharePace::~SharePace()
{
    if (m_last)
        gst_buffer_unref(m_last);
}

void SharePace::attach(GstElement *element, int stillFps)
{
    GstPad *pad = gst_element_get_static_pad(element, "sink");
    if (!pad)
        return;
    // A little short of the gap: captured pictures come with some jitter.
    const GstClockTime gap = GST_SECOND / guint64(std::max(1, stillFps)) - 20 * GST_MSECOND;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &SharePace::probe, new SharePace(gap),
                      [](gpointer self) { delete static_cast<SharePace *>(self); });
    gst_object_unref(pad);
}

GstPadProbeReturn SharePace::probe(GstPad *pad, GstPadProbeInfo *info, gpointer self)
{
    return static_cast<SharePace *>(self)->passes(pad, GST_PAD_PROBE_INFO_BUFFER(info))
               ? GST_PAD_PROBE_OK
               : GST_PAD_PROBE_DROP;
}

bool SharePace::passes(GstPad *pad, GstBuffer *picture)
{
    const GstClockTime time = GST_BUFFER_PTS(picture);
    bool pass = !m_last || !GST_CLOCK_TIME_IS_VALID(time) || !GST_CLOCK_TIME_IS_VALID(m_lastTime) ||
                time < m_lastTime || time - m_lastTime >= m_stillGap;
    if (!pass) {
        GstVideoInfo format;
        GstCaps *caps = gst_pad_get_current_caps(pad);
        pass = !caps || !gst_video_info_from_caps(&format, caps) || differ(format, m_last, picture);
        if (caps)
            gst_caps_unref(caps);
    }
    if (pass) {
        gst_buffer_replace(&m_last, picture);
        m_lastTime = time;
    }
    return pass;
}
