#include "engine/media/CameraFormat.h"
#include "engine/media/MediaPipeline.h"

#include <QTest>

namespace {

/// Capabilities as v4l2src reports them for cameras of each kind.
const char *const webcam = // a typical USB webcam: large sizes at full rate only as JPEG
    "image/jpeg, width=(int)1920, height=(int)1080, pixel-aspect-ratio=(fraction)1/1, "
    "framerate=(fraction){ 30/1, 15/1 }; "
    "image/jpeg, width=(int)1280, height=(int)720, pixel-aspect-ratio=(fraction)1/1, "
    "framerate=(fraction){ 30/1, 15/1 }; "
    "image/jpeg, width=(int)640, height=(int)480, pixel-aspect-ratio=(fraction)1/1, "
    "framerate=(fraction){ 30/1, 15/1 }; "
    "video/x-raw, format=(string)YUY2, width=(int)1280, height=(int)720, "
    "pixel-aspect-ratio=(fraction)1/1, framerate=(fraction){ 10/1, 5/1 }; "
    "video/x-raw, format=(string)YUY2, width=(int)640, height=(int)480, "
    "pixel-aspect-ratio=(fraction)1/1, framerate=(fraction){ 30/1, 15/1 }";
const char *const rawOnly =
    "video/x-raw, format=(string)YUY2, width=(int)1280, height=(int)720, "
    "pixel-aspect-ratio=(fraction)1/1, colorimetry=(string){ 2:4:5:1, 1:4:7:1 }, "
    "framerate=(fraction){ 10/1, 5/1 }; "
    "video/x-raw, format=(string)YUY2, width=(int)640, height=(int)480, "
    "pixel-aspect-ratio=(fraction)1/1, framerate=(fraction){ 30/1, 15/1 }";
const char *const jpegOnly =
    "image/jpeg, width=(int)1920, height=(int)1080, framerate=(fraction)30/1; "
    "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction)30/1; "
    "image/jpeg, width=(int)640, height=(int)480, framerate=(fraction)30/1";
const char *const continuous = // stepwise sizes and a rate range (some built-in cameras)
    "video/x-raw, format=(string){ NV12, YUY2 }, width=(int)[ 16, 1920, 8 ], "
    "height=(int)[ 8, 1080, 8 ], framerate=(fraction)[ 1/1, 30/1 ]";
const char *const slowRaw = // raw pictures of any size at up to 15 frames/s, JPEG at 30
    "video/x-raw, format=(string)YUY2, width=(int)[ 160, 1920 ], height=(int)[ 120, 1080 ], "
    "framerate=(fraction)[ 1/1, 15/1 ]; "
    "image/jpeg, width=(int)[ 160, 1920 ], height=(int)[ 120, 1080 ], "
    "framerate=(fraction)[ 1/1, 30/1 ]";

} // namespace

/// A camera is asked for the format that gives the chosen level's picture at its rate: raw where
/// raw pictures reach it, JPEG where only those do.
class TestCameraFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void choosesBestFormat_data();
    void choosesBestFormat();
    void unknownDeviceOffersNothing();
};

void TestCameraFormat::choosesBestFormat_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("asked"); // empty: nothing usable, the camera picks
    QTest::newRow("webcam, 640x360@15: raw, the lower rate")
        << webcam << 0 << "video/x-raw,format=YUY2,width=640,height=480,framerate=15/1";
    QTest::newRow("webcam, 480x270@30: raw")
        << webcam << 1 << "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1";
    QTest::newRow("webcam, 960x540@10: raw 720p")
        << webcam << 2 << "video/x-raw,format=YUY2,width=1280,height=720,framerate=10/1";
    QTest::newRow("webcam, 1280x720@15: raw is too slow")
        << webcam << 3 << "image/jpeg,width=1280,height=720,framerate=15/1";
    QTest::newRow("webcam, 1280x720@30: JPEG")
        << webcam << 4 << "image/jpeg,width=1280,height=720,framerate=30/1";
    QTest::newRow("webcam, 1920x1080@30: JPEG")
        << webcam << 5 << "image/jpeg,width=1920,height=1080,framerate=30/1";
    QTest::newRow("raw only, 1280x720@30: smaller at the full rate")
        << rawOnly << 4 << "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1";
    QTest::newRow("raw only, 960x540@10")
        << rawOnly << 2 << "video/x-raw,format=YUY2,width=1280,height=720,framerate=10/1";
    QTest::newRow("JPEG only, 640x360@15: the proportions kept")
        << jpegOnly << 0 << "image/jpeg,width=1280,height=720,framerate=30/1";
    QTest::newRow("JPEG only, 1920x1080@30")
        << jpegOnly << 5 << "image/jpeg,width=1920,height=1080,framerate=30/1";
    QTest::newRow("continuous sizes: the wanted one")
        << continuous << 4 << "video/x-raw,format=NV12,width=1280,height=720,framerate=30/1";
    QTest::newRow("continuous sizes: the step above")
        << continuous << 1 << "video/x-raw,format=NV12,width=480,height=272,framerate=30/1";
    QTest::newRow("ranges, raw fast enough")
        << slowRaw << 3 << "video/x-raw,format=YUY2,width=1280,height=720,framerate=15/1";
    QTest::newRow("ranges, raw too slow")
        << slowRaw << 4 << "image/jpeg,width=1280,height=720,framerate=30/1";
    QTest::newRow("a slower format listed first")
        << "video/x-raw, format=NV12, width=1280, height=720, framerate=10/1; "
           "video/x-raw, format=YUY2, width=1280, height=720, framerate=30/1"
        << 4 << "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1";
    QTest::newRow("29.97 counts as 30")
        << "video/x-raw, format=YUY2, width=640, height=480, "
           "framerate={ 30000/1001, 15000/1001 }"
        << 1 << "video/x-raw,format=YUY2,width=640,height=480,framerate=30000/1001";
    QTest::newRow("none fast enough: the fastest")
        << "video/x-raw, format=YUY2, width=1280, height=720, framerate=10/1; "
           "video/x-raw, format=YUY2, width=640, height=480, framerate=15/1"
        << 4 << "video/x-raw,format=YUY2,width=640,height=480,framerate=15/1";
    QTest::newRow("interlaced raw passed over")
        << "video/x-raw, format=UYVY, width=1280, height=720, interlace-mode=interleaved, "
           "framerate=30/1; image/jpeg, width=1280, height=720, framerate=30/1"
        << 4 << "image/jpeg,width=1280,height=720,framerate=30/1";
    QTest::newRow("only interlaced")
        << "video/x-raw, format=UYVY, width=720, height=576, interlace-mode=interleaved, "
           "framerate=25/1"
        << 0 << QString();
    QTest::newRow("encoded, Bayer and device memory only")
        << "video/x-h264, stream-format=byte-stream, width=1920, height=1080, framerate=30/1; "
           "video/x-bayer, format=rggb, width=1280, height=720, framerate=30/1; "
           "video/x-raw(memory:DMABuf), format=NV12, width=1280, height=720, framerate=30/1"
        << 4 << QString();
    QTest::newRow("an unknown pixel format")
        << "video/x-raw, format=Q10X, width=1280, height=720, framerate=30/1" << 4 << QString();
    QTest::newRow("no capabilities") << "" << 4 << QString();
    QTest::newRow("not caps") << "((not caps" << 4 << QString();
}

void TestCameraFormat::choosesBestFormat()
{
    QFETCH(QString, offered);
    QFETCH(int, level);
    QFETCH(QString, asked);
    const MediaPipeline::VideoFormat wanted = MediaPipeline::videoFormat(level);
    const CameraFormat chosen =
        CameraFormat::choose(offered, QSize(wanted.width, wanted.height), wanted.fps);
    QCOMPARE(chosen.caps(), asked);
    const CameraFormat::Kind kind = asked.isEmpty()                  ? CameraFormat::Kind::Unknown
                                    : asked.startsWith("image/jpeg") ? CameraFormat::Kind::Jpeg
                                                                     : CameraFormat::Kind::Raw;
    QCOMPARE(chosen.kind(), kind);
    // JPEG pictures are decoded before they are converted.
    QCOMPARE(chosen.launch().contains(QStringLiteral("jpegdec")), kind == CameraFormat::Kind::Jpeg);
}

void TestCameraFormat::unknownDeviceOffersNothing()
{
    QCOMPARE(CameraFormat::deviceCaps(QStringLiteral("/nonexistent/video0")), QString());
    QCOMPARE(CameraFormat::deviceCaps(QString()), QString());
}

QTEST_GUILESS_MAIN(TestCameraFormat)
#include "tst_cameraformat.moc"
