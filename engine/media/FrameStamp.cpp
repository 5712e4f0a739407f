#include "engine/media/FrameStamp.h"

#include <QFile>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>

#include <chrono>
#include <cstring>

namespace {

// 24 bits of time (about four and a half hours of milliseconds) and 8 check bits, one per
// block of an 8 × 4 grid: blocks of 80 × 90 pixels at 640 × 360 survive VP8 untouched.
constexpr int columns = 8, rows = 4, timeBits = 24;
constexpr quint32 timeMask = (1u << timeBits) - 1;

quint32 check(quint32 time)
{
    return ((time & 0xff) + ((time >> 8) & 0xff) + ((time >> 16) & 0xff) + 0x5a) & 0xff;
}

QString stampFile()
{
    static const QString path = qEnvironmentVariable("ORVALE_FRAME_STAMPS");
    return path;
}

} // namespace

bool FrameStamp::enabled()
{
    return !stampFile().isEmpty();
}

qint64 FrameStamp::nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void FrameStamp::mark(uchar *luma, int lumaStride, uchar *u, int uStride, uchar *v, int vStride,
                      int width, int height, qint64 ms)
{
    const quint32 time = quint32(ms) & timeMask;
    const quint64 word = time | quint64(check(time)) << timeBits;
    for (int y = 0; y < height; ++y) {
        const int row = y * rows / height;
        uchar *line = luma + qsizetype(y) * lumaStride;
        for (int x = 0; x < width; ++x) {
            const int bit = row * columns + x * columns / width;
            line[x] = (word >> bit) & 1 ? 235 : 16;
        }
    }
    for (int y = 0; y < (height + 1) / 2; ++y) {
        std::memset(u + qsizetype(y) * uStride, 128, size_t(width + 1) / 2);
        std::memset(v + qsizetype(y) * vStride, 128, size_t(width + 1) / 2);
    }
}

qint64 FrameStamp::read(const QImage &frame, qint64 now)
{
    if (frame.width() < columns * 4 || frame.height() < rows * 4)
        return -1;
    quint64 word = 0;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            // The middle of the block, away from the edges the encoder smears.
            const int cx = (2 * column + 1) * frame.width() / (2 * columns);
            const int cy = (2 * row + 1) * frame.height() / (2 * rows);
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += qGray(frame.pixel(cx + dx, cy + dy));
            if (sum / 9 > 128)
                word |= quint64(1) << (row * columns + column);
        }
    const quint32 time = quint32(word) & timeMask;
    if (quint32(word >> timeBits) != check(time))
        return -1;
    // The latest moment before `now` whose low bits are the stamp.
    return now - ((quint32(now) - time) & timeMask);
}

void FrameStamp::noteDecoded(const QImage &frame)
{
    const qint64 now = nowMs();
    const qint64 sent = read(frame, now);
    // A picture shown without a readable stamp was shown damaged.
    if (sent >= 0)
        note(QByteArray::number(sent) + ' ' + QByteArray::number(now) + '\n');
    else
        note("unreadable picture " + QByteArray::number(now) + '\n');
}

void FrameStamp::noteSound()
{
    note("sound " + QByteArray::number(nowMs()) + '\n');
}

void FrameStamp::note(const QByteArray &line)
{
    static QMutex mutex;
    static QFile file(stampFile());
    QMutexLocker lock(&mutex);
    if (!file.isOpen() && !file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(line);
    file.flush();
}
