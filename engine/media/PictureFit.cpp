#include "engine/media/PictureFit.h"

#include "engine/media/FrameStamp.h"

#include <cstdlib>

PictureFit::PictureFit(GstElement *bin, const char *scaler, const char *size)
    : m_size(gst_bin_get_by_name(GST_BIN(bin), size))
{
    if (GstElement *element = gst_bin_get_by_name(GST_BIN(bin), scaler)) {
        m_in = gst_element_get_static_pad(element, "sink");
        gst_object_unref(element);
    }
}

PictureFit::~PictureFit()
{
    if (m_in)
        gst_object_unref(m_in);
    if (m_size)
        gst_object_unref(m_size);
}

QSize PictureFit::adjust(int shownWidth)
{
    if (!m_in || !m_size)
        return {};
    QSize decoded;
    if (GstCaps *caps = gst_pad_get_current_caps(m_in)) {
        int width = 0, height = 0;
        const GstStructure *format = gst_caps_get_structure(caps, 0);
        if (gst_structure_get_int(format, "width", &width) &&
            gst_structure_get_int(format, "height", &height))
            decoded = QSize(width, height);
        gst_caps_unref(caps);
    }
    // Stamped pictures are read back pixel by pixel, at the size they were sent.
    int wanted = shownWidth > 0 && shownWidth < decoded.width() && !FrameStamp::enabled()
                     ? std::max(2, shownWidth & ~1)
                     : 0;
    if (wanted != 0 && m_applied != 0 && std::abs(wanted - m_applied) <= 2)
        wanted = m_applied; // a pixel either way is not worth new caps
    if (wanted != m_applied) {
        // The height follows from the picture's shape.
        GstCaps *caps = wanted == 0 ? gst_caps_new_empty_simple("video/x-raw")
                                    : gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT,
                                                          wanted, "pixel-aspect-ratio",
                                                          GST_TYPE_FRACTION, 1, 1, nullptr);
        g_object_set(m_size, "caps", caps, nullptr);
        gst_caps_unref(caps);
        m_applied = wanted;
    }
    return decoded;
}
