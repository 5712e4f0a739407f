#pragma once

#include <QtGlobal>

class QByteArray;
class QImage;

/// Marks each generated picture with the moment it leaves the source and reads that moment
/// back from decoded pictures, so that the delay between two engines on one machine can be
/// measured. Only on when the environment variable ORVALE_FRAME_STAMPS names a file: the
/// receiving engine appends a line "<sent ms> <decoded ms>" there per stamped picture. Both
/// times are the steady clock, which all processes of a machine share.
class FrameStamp final
{
public:
    FrameStamp() = delete;

    static bool enabled();
    static qint64 nowMs();
    /// Writes the time into a planar 4:2:0 picture as dark and light blocks (grey, so that
    /// colour subsampling cannot blur them).
    static void mark(uchar *luma, int lumaStride, uchar *u, int uStride, uchar *v, int vStride,
                     int width, int height, qint64 ms);
    /// The time a decoded picture was marked with, or -1 when it carries none.
    static qint64 read(const QImage &frame, qint64 now);
    /// Records a decoded picture's stamp, or a line "unreadable picture <ms>" when it has none
    /// that can be read.
    static void noteDecoded(const QImage &frame);
    /// Records the moment a received stream's first sound reaches the speaker, as a line
    /// "sound <ms>".
    static void noteSound();

private:
    static void note(const QByteArray &line);
};
