#include "engine/FrameSlot.h"

#include <QMutexLocker>

#include <chrono>

qint64 FrameSlot::nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void FrameSlot::put(const QImage &image, QSize decoded)
{
    const qint64 now = nowMs();
    QImage old; // released after the lock: the last reference frees the pixels
    QMutexLocker lock(&m_lock);
    old = std::exchange(m_picture.image, image);
    m_picture.at = now;
    m_picture.decoded = decoded.isValid() ? decoded : image.size();
    ++m_picture.count;
}

FrameSlot::Picture FrameSlot::latest() const
{
    QMutexLocker lock(&m_lock);
    return m_picture;
}

QImage FrameSlot::fresh(qint64 maxAgeMs) const
{
    const Picture picture = latest();
    return nowMs() - picture.at < maxAgeMs ? picture.image : QImage();
}
