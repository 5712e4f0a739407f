#include "engine/media/PictureFit.h"

#include <QTest>

#include <gst/app/gstappsink.h>

/// Pictures scaled down, never up, to the width their tile shows them at, on a live pipeline.
class TestPictureFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }
    void widths_data();
    void widths();
};

namespace {

QSize sizeOf(GstSample *sample)
{
    int width = 0, height = 0;
    const GstStructure *format = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    gst_structure_get_int(format, "width", &width);
    gst_structure_get_int(format, "height", &height);
    return {width, height};
}

} // namespace

void TestPictureFit::widths_data()
{
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<QSize>("size");
    QTest::newRow("not drawn") << QList<int>{0} << QSize(640, 360);
    QTest::newRow("a smaller tile") << QList<int>{320} << QSize(320, 180);
    QTest::newRow("an odd width") << QList<int>{321} << QSize(320, 180);
    QTest::newRow("as wide") << QList<int>{640} << QSize(640, 360);
    QTest::newRow("a larger tile") << QList<int>{900} << QSize(640, 360);
    QTest::newRow("smaller, then larger") << QList<int>{320, 900} << QSize(640, 360);
    QTest::newRow("smaller, then no longer drawn") << QList<int>{320, 0} << QSize(640, 360);
    QTest::newRow("a pixel wider") << QList<int>{320, 322} << QSize(320, 180);
    QTest::newRow("resized") << QList<int>{320, 480} << QSize(480, 270);
}

void TestPictureFit::widths()
{
    QFETCH(QList<int>, shown);
    QFETCH(QSize, size);
    GstElement *pipeline = gst_parse_launch(
        "videotestsrc ! video/x-raw,width=640,height=360,format=I420,framerate=30/1 "
        "! videoscale name=fit ! capsfilter name=size ! videoconvert ! video/x-raw,format=BGRx "
        "! appsink name=out sync=false max-buffers=2",
        nullptr);
    QVERIFY(pipeline);
    PictureFit fit(pipeline, "fit", "size");
    GstElement *out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_object_unref(out); // the pipeline holds it
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    QSize last;
    for (int width : shown) {
        for (int i = 0; i < 8; ++i) { // the new caps reach the sink within a few pictures
            GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 5 * GST_SECOND);
            QVERIFY(sample);
            last = sizeOf(sample);
            gst_sample_unref(sample);
            QCOMPARE(fit.adjust(width), QSize(640, 360));
        }
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    QCOMPARE(last, size);
}

QTEST_GUILESS_MAIN(TestPictureFit)
#include "tst_picturefit.moc"
