#include "engine/media/MediaPipeline.h"

#include <gst/gst.h>

#include <QTest>

#include <memory>

namespace {

struct Unref
{
    void operator()(GstElement *e) const { gst_object_unref(e); }
};
using Element = std::unique_ptr<GstElement, Unref>;

/// The launch line as GStreamer builds it: a syntax slip or a missing plugin fails here.
Element parse(const QString &launch)
{
    GError *error = nullptr;
    Element pipeline(gst_parse_launch(launch.toUtf8().constData(), &error));
    if (error) {
        qWarning("%s", error->message);
        g_error_free(error);
        return {};
    }
    return pipeline;
}

Element child(const Element &pipeline, const char *name)
{
    return Element(gst_bin_get_by_name(GST_BIN(pipeline.get()), name));
}

/// The factory names of the pipeline's elements, webrtcbin's insides left out.
QStringList factories(const Element &pipeline)
{
    QStringList names;
    GstIterator *it = gst_bin_iterate_recurse(GST_BIN(pipeline.get()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto *e = GST_ELEMENT(g_value_get_object(&item));
        names.append(QString::fromUtf8(GST_OBJECT_NAME(gst_element_get_factory(e))));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return names;
}

} // namespace

/// The launch lines of the call's media follow the user's choices: devices, voice processing
/// and the video preference level.
class TestMediaPipeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(gst_init_check(nullptr, nullptr, nullptr)); }
    void videoLevelSetsPicture_data();
    void videoLevelSetsPicture();
    void devicesAndProcessing_data();
    void devicesAndProcessing();
    void cameraAskedForItsFormat_data();
    void cameraAskedForItsFormat();
    void cameraReopenedForAnotherFormat_data();
    void cameraReopenedForAnotherFormat();
    void shareCapturesItsSource_data();
    void shareCapturesItsSource();
    void portalShareCapturesItsStream();
    void speakerPlaysChosenOutput_data();
    void speakerPlaysChosenOutput();
    void chosenDevice_data();
    void chosenDevice();
    void receivedSoundGoesThroughOneMix_data();
    void receivedSoundGoesThroughOneMix();
};

void TestMediaPipeline::videoLevelSetsPicture_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("caps");
    QTest::addColumn<int>("bitrate");
    QTest::newRow("0 automatic") << 0 << "width=640,height=360,framerate=15/1" << 500000;
    QTest::newRow("1 smoothness") << 1 << "width=480,height=270,framerate=30/1" << 400000;
    QTest::newRow("2 sharpness") << 2 << "width=960,height=540,framerate=10/1" << 700000;
    QTest::newRow("3 high") << 3 << "width=1280,height=720,framerate=15/1" << 1000000;
    QTest::newRow("4 extra") << 4 << "width=1280,height=720,framerate=30/1" << 1500000;
    QTest::newRow("5 best") << 5 << "width=1920,height=1080,framerate=30/1" << 2500000;
    QTest::newRow("unknown sends as 0") << 77 << "width=640,height=360,framerate=15/1" << 500000;
    QTest::newRow("negative sends as 0") << -1 << "width=640,height=360,framerate=15/1" << 500000;
}

void TestMediaPipeline::videoLevelSetsPicture()
{
    QFETCH(int, level);
    QFETCH(QString, caps);
    QFETCH(int, bitrate);
    for (const QString &camera : {QString(), QStringLiteral("/dev/video0")}) {
        MediaPipeline::Sending sending;
        sending.videoLevel = level;
        sending.camera = camera;
        const QString launch = MediaPipeline::publisher(sending);
        QVERIFY2(launch.contains(QStringLiteral("video/x-raw,") + caps), qPrintable(launch));
        const Element pipeline = parse(launch);
        QVERIFY(pipeline);
        int target = 0;
        GstElement *encoder = nullptr;
        GstIterator *it =
            gst_bin_iterate_all_by_element_factory_name(GST_BIN(pipeline.get()), "vp8enc");
        GValue item = G_VALUE_INIT;
        if (gst_iterator_next(it, &item) == GST_ITERATOR_OK)
            encoder = GST_ELEMENT(g_value_get_object(&item));
        QVERIFY(encoder);
        g_object_get(encoder, "target-bitrate", &target, nullptr);
        g_value_unset(&item);
        gst_iterator_free(it);
        QCOMPARE(target, bitrate);
    }
}

void TestMediaPipeline::devicesAndProcessing_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QString>("microphone");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("gain");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    // The own tile shows what is sent, generated or not: the self view is always there.
    const QStringList generated{QStringLiteral("videotestsrc"), QStringLiteral("audiotestsrc"),
                                QStringLiteral("appsink")};
    QTest::newRow("generated, no processing")
        << QString() << QString() << false << false << generated
        << QStringList{"webrtcdsp", "v4l2src", "pulsesrc"};
    QTest::newRow("a tone is never processed") << QString() << QString() << true << true
                                               << generated << QStringList{"webrtcdsp", "pulsesrc"};
    QTest::newRow("camera and microphone, no processing")
        << "/dev/video2"
        << "alsa_input.usb-mic" << false << false << QStringList{"v4l2src", "pulsesrc", "appsink"}
        << QStringList{"webrtcdsp", "videotestsrc", "audiotestsrc"};
    QTest::newRow("automatic gain only")
        << QString() << "alsa_input.usb-mic" << false << true
        << QStringList{"pulsesrc", "webrtcdsp", "videotestsrc"} << QStringList{"audiotestsrc"};
    QTest::newRow("echo cancellation only")
        << QString() << "alsa_input.usb-mic" << true << false
        << QStringList{"pulsesrc", "webrtcdsp"} << QStringList{"audiotestsrc"};
    QTest::newRow("both, through ALSA")
        << QString() << "hw:1,0" << true << true << QStringList{"alsasrc", "webrtcdsp"}
        << QStringList{"pulsesrc", "audiotestsrc"};
}

void TestMediaPipeline::devicesAndProcessing()
{
    QFETCH(QString, camera);
    QFETCH(QString, microphone);
    QFETCH(bool, echo);
    QFETCH(bool, gain);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    MediaPipeline::Sending sending;
    sending.camera = camera;
    sending.microphone = microphone;
    sending.echoCancellation = echo;
    sending.automaticGain = gain;
    const Element pipeline = parse(MediaPipeline::publisher(sending));
    QVERIFY(pipeline);
    const QStringList made = factories(pipeline);
    for (const QString &name : present)
        QVERIFY2(made.contains(name), qPrintable(name));
    for (const QString &name : absent)
        QVERIFY2(!made.contains(name), qPrintable(name));
    // The canceller's probe, fed with what the speaker plays, exists before the processor.
    const bool probed = echo && !microphone.isEmpty();
    QCOMPARE(made.contains(QStringLiteral("webrtcechoprobe")), probed);
    QCOMPARE(made.contains(QStringLiteral("interaudiosrc")), probed);
    if (probed)
        QVERIFY(child(pipeline, MediaPipeline::echoProbeName().toUtf8().constData()));
    // The chosen devices are the ones opened.
    if (!camera.isEmpty()) {
        gchar *device = nullptr;
        GstElement *source = nullptr;
        GstIterator *it =
            gst_bin_iterate_all_by_element_factory_name(GST_BIN(pipeline.get()), "v4l2src");
        GValue item = G_VALUE_INIT;
        QCOMPARE(gst_iterator_next(it, &item), GST_ITERATOR_OK);
        source = GST_ELEMENT(g_value_get_object(&item));
        g_object_get(source, "device", &device, nullptr);
        QCOMPARE(QString::fromUtf8(device), camera);
        g_free(device);
        g_value_unset(&item);
        gst_iterator_free(it);
    }
    if (const Element dsp = child(pipeline, "dsp")) {
        gboolean echoCancel = false, gainControl = false;
        gchar *probe = nullptr;
        g_object_get(dsp.get(), "echo-cancel", &echoCancel, "gain-control", &gainControl, "probe",
                     &probe, nullptr);
        QCOMPARE(bool(echoCancel), echo);
        QCOMPARE(bool(gainControl), gain);
        if (echo)
            QCOMPARE(QString::fromUtf8(probe), MediaPipeline::echoProbeName());
        g_free(probe);
    }
    QVERIFY(child(pipeline, "microphone"));
    QVERIFY(child(pipeline, "camera"));
    // The own tile's pictures are scaled behind a queue that keeps the newest one only: the
    // camera's thread, which feeds the encoder too, never waits for them.
    const Element fit = child(pipeline, "selffit");
    QVERIFY(fit);
    GstPad *in = gst_element_get_static_pad(fit.get(), "sink");
    GstPad *feed = gst_pad_get_peer(in);
    const Element before(feed ? gst_pad_get_parent_element(feed) : nullptr);
    for (GstPad *pad : {in, feed})
        if (pad)
            gst_object_unref(pad);
    QVERIFY(before);
    QCOMPARE(QString::fromUtf8(GST_OBJECT_NAME(gst_element_get_factory(before.get()))), "queue");
    guint buffers = 0;
    int leaky = 0;
    g_object_get(before.get(), "max-size-buffers", &buffers, "leaky", &leaky, nullptr);
    QCOMPARE(buffers, 1u);
    QCOMPARE(leaky, 2); // downstream: the older picture goes
}

void TestMediaPipeline::cameraAskedForItsFormat_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("asked");   // right after the camera
    QTest::addColumn<QString>("standIn"); // for the camera, when the line runs
    const QString webcam = QStringLiteral(
        "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction){ 30/1, 15/1 }; "
        "video/x-raw, format=(string)YUY2, width=(int)1280, height=(int)720, "
        "framerate=(fraction){ 10/1, 5/1 }; "
        "video/x-raw, format=(string)YUY2, width=(int)640, height=(int)480, "
        "framerate=(fraction){ 30/1, 15/1 }");
    QTest::newRow("JPEG, decoded")
        << webcam << 4 << "image/jpeg,width=1280,height=720,framerate=30/1 ! jpegdec "
        << "videotestsrc num-buffers=3 ! jpegenc";
    QTest::newRow("raw") << webcam << 0
                         << "video/x-raw,format=YUY2,width=640,height=480,framerate=15/1 ! "
                         << "videotestsrc num-buffers=3";
    QTest::newRow("offers unknown: any raw") << QString() << 4 << "videoconvert "
                                             << "videotestsrc num-buffers=3";
}

/// The camera is asked for the format that reaches the level's rate at its size; the launch
/// line negotiates it with a generated picture in the camera's place.
void TestMediaPipeline::cameraAskedForItsFormat()
{
    QFETCH(QString, offered);
    QFETCH(int, level);
    QFETCH(QString, asked);
    QFETCH(QString, standIn);
    MediaPipeline::Sending sending;
    sending.camera = QStringLiteral("/dev/video9");
    sending.cameraCaps = offered;
    sending.videoLevel = level;
    const QString camera = QStringLiteral("v4l2src device=\"/dev/video9\" ! ");
    const QString input = MediaPipeline::videoInput(sending);
    QVERIFY2(input.startsWith(camera + asked), qPrintable(input));
    QVERIFY(parse(MediaPipeline::publisher(sending)));
    const Element pipeline =
        parse(QString(input).replace(camera, standIn + QStringLiteral(" ! ")) + "! fakesink");
    QVERIFY(pipeline);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline.get());
    GstMessage *end = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    QString error;
    if (end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_ERROR) {
        GError *e = nullptr;
        gst_message_parse_error(end, &e, nullptr);
        error = QString::fromUtf8(e->message);
        g_error_free(e);
    }
    const bool ended = end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end)
        gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    QVERIFY2(ended, qPrintable(error));
}

void TestMediaPipeline::cameraReopenedForAnotherFormat_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("reopened");
    const QString webcam =
        QStringLiteral("image/jpeg, width=1280, height=720, framerate={ 30/1, 15/1 }; "
                       "video/x-raw, format=YUY2, width=640, height=480, framerate={ 30/1, 15/1 }");
    const QString raw =
        QStringLiteral("video/x-raw, format=YUY2, width=640, height=480, framerate=30/1");
    QTest::newRow("generated picture") << QString() << QString() << 0 << 4 << false;
    QTest::newRow("offers unknown") << "/dev/video0" << QString() << 0 << 4 << false;
    QTest::newRow("raw to JPEG") << "/dev/video0" << webcam << 0 << 4 << true;
    QTest::newRow("JPEG at another rate") << "/dev/video0" << webcam << 3 << 4 << true;
    QTest::newRow("the same raw format") << "/dev/video0" << raw << 1 << 4 << false;
}

/// A new level reopens the camera only when it asks the camera for another format; else the
/// pictures are scaled and paced anew as they come.
void TestMediaPipeline::cameraReopenedForAnotherFormat()
{
    QFETCH(QString, camera);
    QFETCH(QString, offered);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, reopened);
    MediaPipeline::Sending before;
    before.camera = camera;
    before.cameraCaps = offered;
    before.videoLevel = from;
    MediaPipeline::Sending after = before;
    after.videoLevel = to;
    QCOMPARE(MediaPipeline::cameraSource(before) != MediaPipeline::cameraSource(after), reopened);
}

void TestMediaPipeline::shareCapturesItsSource_data()
{
    QTest::addColumn<quint32>("window");
    QTest::addColumn<QRect>("region");
    QTest::addColumn<QSize>("sent");
    QTest::addColumn<int>("bitrate");
    QTest::newRow("a window") << 0x2a00007u << QRect(10, 20, 800, 600) << QSize(800, 600) << 600000;
    QTest::newRow("a large window is scaled down")
        << 0x2a00007u << QRect(0, 0, 2560, 1600) << QSize(1920, 1200) << 2304000;
    QTest::newRow("the second screen")
        << 0u << QRect(1920, 0, 1920, 1080) << QSize(1920, 1080) << 2073000;
    QTest::newRow("a tall window is kept")
        << 0x2a00007u << QRect(0, 0, 1080, 1920) << QSize(1080, 1920) << 2073000;
    QTest::newRow("a 4K screen") << 0u << QRect(0, 0, 3840, 2160) << QSize(1920, 1080) << 2073000;
    QTest::newRow("odd sides are made even")
        << 0x99u << QRect(0, 0, 321, 241) << QSize(320, 240) << 600000;
}

void TestMediaPipeline::shareCapturesItsSource()
{
    QFETCH(quint32, window);
    QFETCH(QRect, region);
    QFETCH(QSize, sent);
    QFETCH(int, bitrate);
    const MediaEngine::ShareSource source{window, region.x(), region.y(), region.width(),
                                          region.height()};
    const QString launch = MediaPipeline::share(source);
    QVERIFY2(
        launch.contains(QStringLiteral("width=%1,height=%2,").arg(sent.width()).arg(sent.height())),
        qPrintable(launch));
    const Element pipeline = parse(launch);
    QVERIFY(pipeline);
    GstIterator *it =
        gst_bin_iterate_all_by_element_factory_name(GST_BIN(pipeline.get()), "ximagesrc");
    GValue item = G_VALUE_INIT;
    QCOMPARE(gst_iterator_next(it, &item), GST_ITERATOR_OK);
    GstElement *capture = GST_ELEMENT(g_value_get_object(&item));
    gulong xid = 0;
    guint startx = 0, endx = 0, endy = 0;
    g_object_get(capture, "xid", &xid, "startx", &startx, "endx", &endx, "endy", &endy, nullptr);
    g_value_unset(&item);
    gst_iterator_free(it);
    QCOMPARE(quint32(xid), window);
    // Text stays whole pixels: the encoder never sends a smaller picture of its own accord.
    const Element encoder = child(pipeline, "videoenc");
    int targetBitrate = 0;
    gboolean resizes = true;
    g_object_get(encoder.get(), "target-bitrate", &targetBitrate, "resize-allowed", &resizes,
                 nullptr);
    QCOMPARE(targetBitrate, bitrate);
    QVERIFY(!resizes);
    if (window == 0) { // the screen's region of the X display
        QCOMPARE(int(startx), region.x());
        QCOMPARE(int(endx), region.right());
        QCOMPARE(int(endy), region.bottom());
    }
}

/// The portal's stream: read from the remote it handed over, sized by the portal's answer.
void TestMediaPipeline::portalShareCapturesItsStream()
{
    MediaEngine::ShareSource source;
    source.width = 2560;
    source.height = 1440;
    source.pipeWireRemote = 7;
    source.pipeWireNode = 51;
    const QString launch = MediaPipeline::share(source);
    QVERIFY2(launch.contains(QStringLiteral("width=1920,height=1080,")), qPrintable(launch));
    const Element pipeline = parse(launch);
    QVERIFY(pipeline);
    GstIterator *it =
        gst_bin_iterate_all_by_element_factory_name(GST_BIN(pipeline.get()), "pipewiresrc");
    GValue item = G_VALUE_INIT;
    QCOMPARE(gst_iterator_next(it, &item), GST_ITERATOR_OK);
    gint fd = -1;
    gchar *path = nullptr;
    g_object_get(g_value_get_object(&item), "fd", &fd, "path", &path, nullptr);
    const QString node = QString::fromUtf8(path);
    g_free(path);
    g_value_unset(&item);
    gst_iterator_free(it);
    QCOMPARE(fd, 7);
    QCOMPARE(node, QStringLiteral("51"));
    QVERIFY(!factories(pipeline).contains(QStringLiteral("ximagesrc")));
}

void TestMediaPipeline::speakerPlaysChosenOutput_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("probe");
    QTest::addColumn<QString>("sink");
    QTest::newRow("default output") << QString() << false << "autoaudiosink";
    QTest::newRow("a PulseAudio output") << "alsa_output.pci-analog" << false << "pulsesink";
    QTest::newRow("an ALSA output, echo reference") << "hw:0,0" << true << "alsasink";
    QTest::newRow("default output, echo reference") << QString() << true << "autoaudiosink";
}

void TestMediaPipeline::speakerPlaysChosenOutput()
{
    QFETCH(QString, device);
    QFETCH(bool, probe);
    QFETCH(QString, sink);
    const Element pipeline =
        parse(QStringLiteral("audiotestsrc ! ") + MediaPipeline::speaker(device, probe));
    QVERIFY(pipeline);
    const QStringList made = factories(pipeline);
    QVERIFY2(made.contains(sink), qPrintable(made.join(u' ')));
    // The played sound also goes where the echo canceller's probe listens.
    QCOMPARE(made.contains(QStringLiteral("interaudiosink")), probe);
    if (probe) {
        const Element heard = child(pipeline, "heard");
        QVERIFY(heard);
        GstIterator *inter =
            gst_bin_iterate_all_by_element_factory_name(GST_BIN(pipeline.get()), "interaudiosink");
        GValue found = G_VALUE_INIT;
        QCOMPARE(gst_iterator_next(inter, &found), GST_ITERATOR_OK);
        gchar *channel = nullptr;
        g_object_get(g_value_get_object(&found), "channel", &channel, nullptr);
        QCOMPARE(QString::fromUtf8(channel), MediaPipeline::echoChannel());
        g_free(channel);
        g_value_unset(&found);
        gst_iterator_free(inter);
    }
    if (!device.isEmpty()) {
        GstIterator *it = gst_bin_iterate_all_by_element_factory_name(GST_BIN(pipeline.get()),
                                                                      sink.toUtf8().constData());
        GValue item = G_VALUE_INIT;
        QCOMPARE(gst_iterator_next(it, &item), GST_ITERATOR_OK);
        gchar *chosen = nullptr;
        g_object_get(g_value_get_object(&item), "device", &chosen, nullptr);
        QCOMPARE(QString::fromUtf8(chosen), device);
        g_free(chosen);
        g_value_unset(&item);
        gst_iterator_free(it);
    }
}

void TestMediaPipeline::chosenDevice_data()
{
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<uint>("index");
    QTest::addColumn<QString>("opened");
    const QStringList mics{"mic1", "mic2"};
    QTest::newRow("listed") << mics << 1u << "mic2";
    QTest::newRow("unplugged: the default") << mics << 2u << "default-mic";
    QTest::newRow("far past the list") << mics << 4000000000u << "default-mic";
    QTest::newRow("a listed generated camera") << QStringList{"/dev/video0", ""} << 1u << "";
}

void TestMediaPipeline::chosenDevice()
{
    QFETCH(QStringList, ids);
    QFETCH(uint, index);
    QFETCH(QString, opened);
    QCOMPARE(MediaPipeline::chosenDevice(ids, index, QStringLiteral("default-mic")), opened);
}

void TestMediaPipeline::receivedSoundGoesThroughOneMix_data()
{
    QTest::addColumn<QString>("launch");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QString>("channel"); // of the interaudio element, if any
    QTest::addColumn<bool>("muted");
    const QString voice = MediaPipeline::voiceChannel(3);
    // The mix plays, and feeds the canceller with what it plays.
    QTest::newRow("mix, echo reference")
        << MediaPipeline::soundMix(QStringLiteral("alsa_output.pci-analog"), true, true)
        << QStringList{"audiomixer", "pulsesink", "interaudiosink"} << QStringList{"fakesink"}
        << MediaPipeline::echoChannel() << false;
    QTest::newRow("mix into an output that does not open")
        << MediaPipeline::soundMix(QString(), false, true) << QStringList{"audiomixer", "fakesink"}
        << QStringList{"interaudiosink", "autoaudiosink"} << QString() << false;
    QTest::newRow("a voice's way into the mix")
        << MediaPipeline::mixInput(voice) << QStringList{"interaudiosrc"} << QStringList{} << voice
        << false;
    // A voice is decoded and muted by the subscriber, and played into the mix or recorded.
    QTest::newRow("a voice played") << MediaPipeline::voice(voice, QString(), true)
                                    << QStringList{"opusdec", "volume", "interaudiosink"}
                                    << QStringList{"filesink"} << voice << true;
    QTest::newRow("a voice recorded")
        << MediaPipeline::voice(QString(), QStringLiteral("/tmp/a b.s16"), false)
        << QStringList{"opusdec", "volume", "filesink"} << QStringList{"interaudiosink"}
        << QString() << false;
}

void TestMediaPipeline::receivedSoundGoesThroughOneMix()
{
    QFETCH(QString, launch);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QFETCH(QString, channel);
    QFETCH(bool, muted);
    const Element pipeline = parse(launch);
    QVERIFY(pipeline);
    const QStringList made = factories(pipeline);
    for (const QString &name : present)
        QVERIFY2(made.contains(name), qPrintable(name));
    for (const QString &name : absent)
        QVERIFY2(!made.contains(name), qPrintable(name));
    for (const char *factory : {"interaudiosink", "interaudiosrc"}) {
        GstIterator *it =
            gst_bin_iterate_all_by_element_factory_name(GST_BIN(pipeline.get()), factory);
        GValue item = G_VALUE_INIT;
        if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            gchar *named = nullptr;
            g_object_get(g_value_get_object(&item), "channel", &named, nullptr);
            QCOMPARE(QString::fromUtf8(named), channel);
            g_free(named);
            g_value_unset(&item);
        }
        gst_iterator_free(it);
    }
    if (const Element volume = child(pipeline, "speaker")) {
        gboolean mute = false;
        g_object_get(volume.get(), "mute", &mute, nullptr);
        QCOMPARE(bool(mute), muted);
    }
}

QTEST_GUILESS_MAIN(TestMediaPipeline)
#include "tst_mediapipeline.moc"
