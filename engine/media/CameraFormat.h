#pragma once

#include <QSize>
#include <QString>

/// What a camera is asked for: of the formats it offers, the one that gives the wanted picture
/// size at the wanted rate at the least cost. Cameras on USB 2 give large raw pictures only
/// slowly (720p raw at 5 to 10 frames/s) and reach the full rate at large sizes only as JPEG
/// pictures (MJPEG), which are decoded here.
///
/// The order: a rate that reaches the wanted one before any slower; then a size that covers
/// the wanted one; among those, raw before JPEG (no decoding), the wanted proportions, the
/// smallest; else the largest. When no offered rate reaches the wanted one, the fastest.
class CameraFormat final
{
public:
    enum class Kind { Unknown, Raw, Jpeg };

    /// The choice for a camera offering `caps` (GStreamer caps as the device reports them) when
    /// pictures of `wanted` size at `fps` frames/s are to be sent. Unknown when the caps are
    /// empty, do not parse or offer nothing usable (interlaced, encoded other than as JPEG,
    /// not in system memory).
    static CameraFormat choose(const QString &caps, QSize wanted, int fps);
    /// The capabilities of the camera at the V4L2 `node`, as GStreamer caps; empty when it
    /// cannot be opened. Opens the device for a moment.
    static QString deviceCaps(const QString &node);

    Kind kind() const { return m_kind; }
    /// The caps that ask the camera for this format; empty when Unknown.
    QString caps() const;
    /// The part of a launch line between the camera and the conversion: the format's caps, and
    /// the decoder for JPEG; empty when Unknown.
    QString launch() const;

private:
    Kind m_kind = Kind::Unknown;
    QString m_rawFormat; ///< "YUY2"; empty for JPEG or when the camera names none
    QSize m_size;
    int m_rateNum = 0;
    int m_rateDen = 1;
};
