#include "engine/media/ParsedBin.h"

#include <gst/gst.h>

GstElement *parsedBin(const QString &description)
{
    GError *error = nullptr;
    GstElement *bin =
        gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
    if (error) {
        qWarning("media: %s: %s", bin ? "made with an error" : "not made", error->message);
        g_error_free(error);
    }
    return bin;
}
