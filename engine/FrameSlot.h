#pragma once

#include <QImage>
#include <QMutex>

#include <atomic>

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
        QSize decoded;    ///< as the stream carries it, before any scaling for the view
    };

    FrameSlot() = default;
    /// `decoded` is the picture's size in the stream; none for the image's own.
    void put(const QImage &image, QSize decoded = {});
    Picture latest() const;
    /// The picture older than `maxAgeMs` counts as none: the stream stopped.
    QImage fresh(qint64 maxAgeMs) const;

    /// The width the painter draws the pictures at, so that the stream need not make them
    /// larger; 0 while they are not drawn.
    void setShownWidth(int width) { m_shownWidth.store(width, std::memory_order_relaxed); }
    int shownWidth() const { return m_shownWidth.load(std::memory_order_relaxed); }

    /// While other streams keep the painter busy, this one's pictures are drawn with theirs
    /// and need not wake it each.
    void setRidesAlong(bool on) { m_ridesAlong.store(on, std::memory_order_relaxed); }
    bool ridesAlong() const { return m_ridesAlong.load(std::memory_order_relaxed); }

    static qint64 nowMs();

private:
    std::atomic<int> m_shownWidth{0};
    std::atomic<bool> m_ridesAlong{false};
    mutable QMutex m_lock;
    Picture m_picture;
};
