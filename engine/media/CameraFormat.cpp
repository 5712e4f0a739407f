#include "engine/media/CameraFormat.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

using Kind = CameraFormat::Kind;

/// One format the camera offers, fixed at the size and rate it would be asked for.
struct Offer
{
    Kind kind = Kind::Unknown;
    QString rawFormat;
    QSize size;
    int rateNum = 0;
    int rateDen = 1;
};

/// A fixed value of an offered side: the offered one, or from a range the wanted one, else
/// the nearest the range allows, above the wanted one where it can be. 0 when unusable.
int pickSide(const GValue *value, int wanted)
{
    if (!value) // any
        return wanted;
    if (G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value);
    if (!GST_VALUE_HOLDS_INT_RANGE(value))
        return 0;
    const int low = gst_value_get_int_range_min(value);
    const int step = std::max(1, gst_value_get_int_range_step(value));
    const int high = low + (gst_value_get_int_range_max(value) - low) / step * step;
    if (wanted <= low)
        return low;
    if (wanted >= high)
        return high;
    return low + (wanted - low + step - 1) / step * step;
}

/// The offered rate, or from a range the wanted one, else the range's end nearest to it.
std::optional<std::pair<int, int>> pickRate(const GValue *value, int fps)
{
    if (!value)
        return std::pair(fps, 1);
    if (GST_VALUE_HOLDS_FRACTION(value))
        return std::pair(gst_value_get_fraction_numerator(value),
                         gst_value_get_fraction_denominator(value));
    if (!GST_VALUE_HOLDS_FRACTION_RANGE(value))
        return std::nullopt;
    const GValue *low = gst_value_get_fraction_range_min(value);
    const GValue *high = gst_value_get_fraction_range_max(value);
    const int lowNum = gst_value_get_fraction_numerator(low);
    const int lowDen = gst_value_get_fraction_denominator(low);
    const int highNum = gst_value_get_fraction_numerator(high);
    const int highDen = gst_value_get_fraction_denominator(high);
    if (gst_util_fraction_compare(highNum, highDen, fps, 1) < 0)
        return std::pair(highNum, highDen);
    if (gst_util_fraction_compare(lowNum, lowDen, fps, 1) > 0)
        return std::pair(lowNum, lowDen);
    return std::pair(fps, 1);
}

/// What the pipeline can take from the camera: progressive raw pictures of a known format, or
/// JPEG pictures, in ordinary memory.
bool usable(const GstStructure *s, const GstCapsFeatures *features)
{
    if (features && !gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY))
        return false;
    if (!gst_structure_has_name(s, "video/x-raw") && !gst_structure_has_name(s, "image/jpeg"))
        return false;
    // Interlaced pictures (capture cards) would need a deinterlacer.
    if (gst_structure_has_field(s, "interlace-mode")) {
        const char *mode = gst_structure_get_string(s, "interlace-mode");
        if (!mode || std::strcmp(mode, "progressive") != 0)
            return false;
    }
    if (gst_structure_has_name(s, "video/x-raw") && gst_structure_has_field(s, "format")) {
        const char *format = gst_structure_get_string(s, "format");
        const GstVideoFormat known =
            format ? gst_video_format_from_string(format) : GST_VIDEO_FORMAT_UNKNOWN;
        return known != GST_VIDEO_FORMAT_UNKNOWN && known != GST_VIDEO_FORMAT_ENCODED;
    }
    return true;
}

std::optional<Offer> offer(const GstStructure *s, const GstCapsFeatures *features, QSize wanted,
                           int fps)
{
    if (!usable(s, features))
        return std::nullopt;
    Offer o;
    o.kind = gst_structure_has_name(s, "image/jpeg") ? Kind::Jpeg : Kind::Raw;
    if (o.kind == Kind::Raw)
        o.rawFormat = QString::fromUtf8(gst_structure_get_string(s, "format"));
    o.size = QSize(pickSide(gst_structure_get_value(s, "width"), wanted.width()),
                   pickSide(gst_structure_get_value(s, "height"), wanted.height()));
    const auto rate = pickRate(gst_structure_get_value(s, "framerate"), fps);
    if (o.size.width() <= 0 || o.size.height() <= 0 || !rate || rate->first <= 0 ||
        rate->second <= 0)
        return std::nullopt;
    o.rateNum = rate->first;
    o.rateDen = rate->second;
    return o;
}

/// Reaching the wanted rate within 1 %: 30000/1001 frames/s counts as 30.
bool reaches(const Offer &o, int fps)
{
    return qint64(o.rateNum) * 100 >= qint64(fps) * 99 * o.rateDen;
}

bool covers(const Offer &o, QSize wanted)
{
    return o.size.width() >= wanted.width() && o.size.height() >= wanted.height();
}

/// Of the wanted proportions within 1 %: scaled without borders.
bool proportional(const Offer &o, QSize wanted)
{
    const qint64 across = qint64(o.size.width()) * wanted.height();
    return std::llabs(across - qint64(o.size.height()) * wanted.width()) * 100 <= across;
}

qint64 area(const Offer &o)
{
    return qint64(o.size.width()) * o.size.height();
}

/// Whether `a` serves better than `b`; offers alike keep the camera's own order.
bool better(const Offer &a, const Offer &b, QSize wanted, int fps)
{
    const int rate = gst_util_fraction_compare(a.rateNum, a.rateDen, b.rateNum, b.rateDen);
    if (reaches(a, fps) != reaches(b, fps))
        return reaches(a, fps);
    if (!reaches(a, fps) && rate != 0) // none is fast enough: the fastest
        return rate > 0;
    if (covers(a, wanted) != covers(b, wanted))
        return covers(a, wanted);
    if (covers(a, wanted)) {
        if (a.kind != b.kind) // raw pictures need no decoding
            return a.kind == Kind::Raw;
        if (proportional(a, wanted) != proportional(b, wanted))
            return proportional(a, wanted);
        if (area(a) != area(b))
            return area(a) < area(b);
    } else {
        if (area(a) != area(b))
            return area(a) > area(b);
        if (a.kind != b.kind)
            return a.kind == Kind::Raw;
    }
    return rate < 0; // the least work above the wanted rate
}

} // namespace

CameraFormat CameraFormat::choose(const QString &caps, QSize wanted, int fps)
{
    CameraFormat chosen;
    if (caps.isEmpty() || wanted.isEmpty() || fps <= 0 ||
        !gst_init_check(nullptr, nullptr, nullptr))
        return chosen;
    GstCaps *offered = gst_caps_from_string(caps.toUtf8().constData());
    if (!offered)
        return chosen;
    offered = gst_caps_normalize(offered); // one structure for each format, size and rate
    std::optional<Offer> best;
    for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
        const auto o = offer(gst_caps_get_structure(offered, i), gst_caps_get_features(offered, i),
                             wanted, fps);
        if (o && (!best || better(*o, *best, wanted, fps)))
            best = o;
    }
    gst_caps_unref(offered);
    if (best) {
        chosen.m_kind = best->kind;
        chosen.m_rawFormat = best->rawFormat;
        chosen.m_size = best->size;
        chosen.m_rateNum = best->rateNum;
        chosen.m_rateDen = best->rateDen;
    }
    return chosen;
}

QString CameraFormat::caps() const
{
    if (m_kind == Kind::Unknown)
        return {};
    QString caps =
        m_kind == Kind::Jpeg ? QStringLiteral("image/jpeg") : QStringLiteral("video/x-raw");
    if (!m_rawFormat.isEmpty())
        caps += QStringLiteral(",format=") + m_rawFormat;
    return caps + QStringLiteral(",width=%1,height=%2,framerate=%3/%4")
                      .arg(m_size.width())
                      .arg(m_size.height())
                      .arg(m_rateNum)
                      .arg(m_rateDen);
}

QString CameraFormat::launch() const
{
    if (m_kind == Kind::Unknown)
        return {};
    return caps() +
           (m_kind == Kind::Jpeg ? QStringLiteral(" ! jpegdec ! ") : QStringLiteral(" ! "));
}

QString CameraFormat::deviceCaps(const QString &node)
{
    if (node.isEmpty() || !gst_init_check(nullptr, nullptr, nullptr))
        return {};
    GstElement *camera = gst_element_factory_make("v4l2src", nullptr);
    if (!camera)
        return {};
    g_object_set(camera, "device", node.toUtf8().constData(), nullptr);
    QString caps;
    // Opened (READY), the source answers with what the device offers, not its template.
    if (gst_element_set_state(camera, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS) {
        GstPad *pad = gst_element_get_static_pad(camera, "src");
        GstCaps *offered = gst_pad_query_caps(pad, nullptr);
        if (!gst_caps_is_any(offered) && !gst_caps_is_empty(offered)) {
            gchar *text = gst_caps_to_string(offered);
            caps = QString::fromUtf8(text);
            g_free(text);
        }
        gst_caps_unref(offered);
        gst_object_unref(pad);
    }
    gst_element_set_state(camera, GST_STATE_NULL);
    gst_object_unref(camera);
    return caps;
}
