#pragma once

#include <QtGlobal>

#include <gst/gst.h>

/// Sends a share's pictures at the capture's pace while they change, and a still picture only a
/// few times a second: a document or a slide costs a third of the pictures, text being typed or
/// a video being played still moves smoothly. A picture counts as changed when any of its
/// pixels differs from the last one let through; comparing costs less than converting it, let
/// alone encoding it, so the pictures held back save more than the comparison costs. Runs on
/// the streaming thread of the element it is attached to, and only there.
class SharePace final
{
    Q_DISABLE_COPY_MOVE(SharePace)

public:
    /// Paces the pictures that enter `element` (by its sink pad): an unchanged one passes once
    /// 1/`stillFps` s has gone by since the last one that passed.
    static void attach(GstElement *element, int stillFps);

private:
    explicit SharePace(GstClockTime stillGap);
    ~SharePace();

    static GstPadProbeReturn probe(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    /// Whether `picture`, of the pad's current format, goes on to the encoder.
    bool passes(GstPad *pad, GstBuffer *picture);

    const GstClockTime m_stillGap;
    GstBuffer *m_last = nullptr; ///< the last picture let through, held rather than copied
    GstClockTime m_lastTime = GST_CLOCK_TIME_NONE;
};
