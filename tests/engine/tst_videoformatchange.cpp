#include "engine/media/MediaPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QTest>

/// The camera's part of a running pipeline (the generated picture) changes its size and frame
/// rate at its capsfilter, as a slow link makes it: the pictures keep coming, at the new size.
class TestVideoFormatChange : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { gst_init(nullptr, nullptr); }
    void keepsFlowing_data();
    void keepsFlowing();
};

namespace {

/// The format of the next picture the sink gets, "<width>x<height>@<fps>"; empty when none
/// comes within five seconds.
QString next(GstElement *sink)
{
    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
    if (!sample)
        return {};
    GstVideoInfo info;
    const bool read = gst_video_info_from_caps(&info, gst_sample_get_caps(sample));
    gst_sample_unref(sample);
    return read ? QStringLiteral("%1x%2@%3").arg(info.width).arg(info.height).arg(info.fps_n)
                : QString();
}

} // namespace

void TestVideoFormatChange::keepsFlowing_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("fps");
    QTest::newRow("full HD to 720p at 10") << 5 << QSize(1280, 720) << 10;
    QTest::newRow("720p at 15 to 10") << 3 << QSize(1280, 720) << 10;
    QTest::newRow("360p to 180p") << 0 << QSize(320, 180) << 10;
}

void TestVideoFormatChange::keepsFlowing()
{
    QFETCH(int, level);
    QFETCH(QSize, size);
    QFETCH(int, fps);
    MediaPipeline::Sending sending;
    sending.colour = Qt::green;
    sending.videoLevel = level;
    const QString launch = MediaPipeline::videoInput(sending) +
                           QStringLiteral("! appsink name=out max-buffers=2 drop=true sync=false");
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(launch.toUtf8().constData(), &error);
    QVERIFY2(pipeline, error ? error->message : "");
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    GstElement *format = gst_bin_get_by_name(GST_BIN(pipeline), "videoformat");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const MediaPipeline::VideoFormat top = MediaPipeline::videoFormat(level);
    QCOMPARE(next(sink), QStringLiteral("%1x%2@%3").arg(top.width).arg(top.height).arg(top.fps));
    GstCaps *caps = gst_caps_from_string(
        MediaPipeline::videoCaps(sending, size.width(), size.height(), fps).toUtf8().constData());
    g_object_set(format, "caps", caps, nullptr);
    gst_caps_unref(caps);
    const QString wanted = QStringLiteral("%1x%2@%3").arg(size.width()).arg(size.height()).arg(fps);
    QString seen;
    for (int i = 0; i < 30 && seen != wanted; ++i)
        seen = next(sink);
    QCOMPARE(seen, wanted);
    QCOMPARE(next(sink), wanted); // and on they come
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(format);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
}

QTEST_GUILESS_MAIN(TestVideoFormatChange)
#include "tst_videoformatchange.moc"
