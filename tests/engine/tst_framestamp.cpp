#include "engine/media/FrameStamp.h"

#include <QImage>
#include <QRandomGenerator>
#include <QTest>

#include <vector>

namespace {

constexpr int width = 640, height = 360;

/// A stamped 4:2:0 picture as the receiver gets it: grey RGB, with the encoder's noise.
QImage stamped(qint64 ms, int noise)
{
    std::vector<uchar> y(width * height), u(width * height / 4), v(width * height / 4);
    FrameStamp::mark(y.data(), width, u.data(), width / 2, v.data(), width / 2, width, height, ms);
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
            const int level = (y[row * width + x] - 16) * 255 / 219 +
                              (noise ? random.bounded(-noise, noise + 1) : 0);
            const int grey = qBound(0, level, 255);
            image.setPixel(x, row, qRgb(grey, grey, grey));
        }
    return image;
}

} // namespace

class TestFrameStamp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsBackTheSendingTime_data();
    void readsBackTheSendingTime();
};

void TestFrameStamp::readsBackTheSendingTime_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<qint64>("expected");
    const qint64 t = 5'000'000'123; // milliseconds of steady clock
    QTest::newRow("exact") << stamped(t, 0) << t + 40 << t;
    QTest::newRow("with noise") << stamped(t, 60) << t + 40 << t;
    QTest::newRow("read in the same millisecond") << stamped(t, 0) << t << t;
    // The stamp keeps only the low bits of the time; the reader puts back the rest.
    const qint64 wrap = (qint64(1) << 32) - 3;
    QTest::newRow("low bits wrapped since") << stamped(wrap, 0) << wrap + 90 << wrap;
    QImage black(width, height, QImage::Format_RGB32);
    black.fill(Qt::black);
    QTest::newRow("black picture") << black << t << qint64(-1);
    QImage white(width, height, QImage::Format_RGB32);
    white.fill(Qt::white);
    QTest::newRow("white picture") << white << t << qint64(-1);
    QImage broken = stamped(t, 0);
    const QRgb flipped = qGray(broken.pixel(40, 45)) > 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    for (int dy = -2; dy <= 2; ++dy) // the middle of the first block
        for (int dx = -2; dx <= 2; ++dx)
            broken.setPixel(40 + dx, 45 + dy, flipped);
    QTest::newRow("one block flipped") << broken << t + 40 << qint64(-1);
    QTest::newRow("too small") << QImage(16, 8, QImage::Format_RGB32) << t << qint64(-1);
}

void TestFrameStamp::readsBackTheSendingTime()
{
    QFETCH(QImage, picture);
    QFETCH(qint64, now);
    QFETCH(qint64, expected);
    QCOMPARE(FrameStamp::read(picture, now), expected);
}

QTEST_MAIN(TestFrameStamp)
#include "tst_framestamp.moc"
