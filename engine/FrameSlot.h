#pragma once

#include <QImage>
#include <QMutex>

/// The latest picture of one stream, written by its streaming thread and read by the painter.
/// Its own small lock, held only to swap an implicitly shared image, so that a busy decoder
/// stalls neither another stream nor the painter, and nothing is called while it is held.
class FrameSlot final
{
    Q_DISABLE_COPY_MOVE(FrameSlot)

public:
    struct Picture
    {
        QImage image;
        qint64 at = 0;    ///< steady clock, milliseconds; 0 before the first picture
        qint64 count = 0; ///< pictures put since the slot was made
    };

    FrameSlot() = default;
    void put(const QImage &image);
    Picture latest() const;
    /// The picture older than `maxAgeMs` counts as none: the stream stopped.
    QImage fresh(qint64 maxAgeMs) const;

    static qint64 nowMs();

private:
    mutable QMutex m_lock;
    Picture m_picture;
};
