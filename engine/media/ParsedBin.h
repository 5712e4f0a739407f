#pragma once

#include <QString>

typedef struct _GstElement GstElement;

/// A bin made from a launch line, with ghost pads for its unlinked pads; null when GStreamer
/// cannot make it. GStreamer's error is logged and freed, also when it comes with a bin (which
/// is then returned).
GstElement *parsedBin(const QString &description);
