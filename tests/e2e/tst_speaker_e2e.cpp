#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfClient.h"
#include "engine/media/MediaPipeline.h"
#include "model/Preferences.h"
#include "tests/support/ConferenceDetails.h"
#include "tests/support/InProcessCaller.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <gst/gst.h>

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace {

// In the call's participant URIs demo is "u1001" and carol "u1004".
const QString a = QStringLiteral("-u1001;");
const QString c = QStringLiteral("-u1004;");
const QColor pictureOfA(0xc0, 0x30, 0x20);
const QColor pictureOfC(0x20, 0x40, 0xc0);
constexpr int toneOfA = 660, toneOfC = 440;
constexpr double heard = 1500; // the tones are sent at about 9800

/// Another participant: an engine driver in a process of its own.
struct Driver
{
    QProcess process;
    ProcessLines lines{process};

    void tell(const QString &line) { process.write((line + u'\n').toUtf8()); }
    QString said(const QString &prefix, int timeoutMs = 15000)
    {
        return lines.startingWith(prefix, timeoutMs);
    }
};

/// Settings of a generated picture and tone, and `more`; the sound received goes into files of
/// its own.
void writeSettings(const QString &path, const QColor &picture, int tone, const QString &more = {})
{
    const QString record = path + QStringLiteral(".heard");
    QVERIFY(QDir().mkpath(record));
    InProcessCaller::writeSettings(path, QStringLiteral("pictureColour=%1\ntoneFrequency=%2\n"
                                                        "audioRecordFolder=%3\n%4")
                                             .arg(picture.name())
                                             .arg(tone)
                                             .arg(record, more)
                                             .toUtf8());
}

/// What reaches this process's echo canceller: the sound its probe takes, written into a file
/// as it passes. The probe is found as it is added to its pipeline, wherever that is.
class HeardByCanceller
{
    Q_DISABLE_COPY_MOVE(HeardByCanceller)

public:
    explicit HeardByCanceller(const QString &path)
        : m_sink(std::make_shared<Sink>())
    {
        m_sink->file.setFileName(path);
        QVERIFY(m_sink->file.open(QIODevice::WriteOnly));
        gst_init(nullptr, nullptr);
        g_type_class_unref(g_type_class_ref(GST_TYPE_BIN));
        m_signal = g_signal_lookup("element-added", GST_TYPE_BIN);
        m_hook = g_signal_add_emission_hook(
            m_signal, 0, added, new std::shared_ptr<Sink>(m_sink),
            [](gpointer sink) { delete static_cast<std::shared_ptr<Sink> *>(sink); });
    }
    ~HeardByCanceller()
    {
        g_signal_remove_emission_hook(m_signal, m_hook);
        QMutexLocker lock(&m_sink->lock);
        m_sink->file.close(); // a probe that outlives the test writes nothing more
    }

private:
    struct Sink
    {
        QMutex lock;
        QFile file;
    };
    static gboolean added(GSignalInvocationHint *, guint, const GValue *values, gpointer sink)
    {
        auto *element = GST_ELEMENT(g_value_get_object(&values[1]));
        if (MediaPipeline::echoProbeName() != QLatin1String(GST_OBJECT_NAME(element)))
            return TRUE;
        GstPad *pad = gst_element_get_static_pad(element, "sink");
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad *, GstPadProbeInfo *info, gpointer data) {
                Sink &s = **static_cast<std::shared_ptr<Sink> *>(data);
                GstMapInfo map;
                GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                QMutexLocker lock(&s.lock);
                if (s.file.isOpen() && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                    s.file.write(reinterpret_cast<const char *>(map.data), qint64(map.size));
                    s.file.flush();
                    gst_buffer_unmap(buffer, &map);
                }
                return GST_PAD_PROBE_OK;
            },
            new std::shared_ptr<Sink>(*static_cast<std::shared_ptr<Sink> *>(sink)),
            [](gpointer data) { delete static_cast<std::shared_ptr<Sink> *>(data); });
        gst_object_unref(pad);
        return TRUE;
    }

    std::shared_ptr<Sink> m_sink;
    guint m_signal = 0;
    gulong m_hook = 0;
};

} // namespace

/// Three real engines in a call through Janus, each sending a generated tone: this process is
/// B (alice, the room's owner) with a video view, a muted microphone that cancels echo and a
/// speaker, on a sound server of the test's own; A (demo) and C (carol) are engine drivers that
/// speak in turn by switching their microphones on and off.
class TestSpeakerEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void stageFollowsTheSpeaker();
    void echoCancellerHearsEveryVoice();

private:
    /// Who B's engine says is speaking and who has its stage, from its conference details.
    struct Speaking
    {
        QString speaking, stage;
    };
    Speaking atB();
    void startDriver(Driver &driver, const QString &user, const QColor &picture, int tone,
                     const QString &settings = {});
    /// Until the engine of `details` has its publisher running.
    static bool publishing(const std::function<QString()> &details);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    InProcessCaller m_b;
    RecordingDelegate &m_delegate = m_b.delegate;
    QWidget m_view;
    QTemporaryDir m_files;
    SoundServer m_sound;
    std::unique_ptr<HeardByCanceller> m_heard;
    Driver m_a, m_c;
};

TestSpeakerEndToEnd::Speaking TestSpeakerEndToEnd::atB()
{
    const QString details =
        ConferenceDetails::ask([] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); });
    const auto match =
        QRegularExpression(QStringLiteral("speaking: (.*); stage: (.*?); (sending|pictures)"))
            .match(details);
    return {match.captured(1), match.captured(2)};
}

bool TestSpeakerEndToEnd::publishing(const std::function<QString()> &details)
{
    return QTest::qWaitFor([&] { return details().contains(u"sending from"); }, 15000);
}

void TestSpeakerEndToEnd::startDriver(Driver &driver, const QString &user, const QColor &picture,
                                      int tone, const QString &more)
{
    const QString settings = m_files.filePath(user + QStringLiteral(".ecf"));
    writeSettings(settings, picture, tone, more);
    driver.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.process.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(driver.process.waitForStarted());
    QVERIFY(!driver.said(QStringLiteral("ready")).isEmpty());
    driver.tell(QStringLiteral("login ") + user + u' ' + user + QStringLiteral("1234 ") +
                m_services->portal());
    QVERIFY(!driver.said(QStringLiteral("loginSuccess")).isEmpty());
    driver.tell(QStringLiteral("settings ") + settings);
    driver.tell(QStringLiteral("join 1002"));
    QVERIFY(!driver.said(QStringLiteral("conference")).isEmpty());
    QVERIFY(publishing([&driver] {
        driver.tell(QStringLiteral("details"));
        return driver.said(QStringLiteral("details:"), 5000);
    }));
}

void TestSpeakerEndToEnd::initTestCase()
{
    if (const QString why = mediaUnavailable(); !why.isEmpty()) {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    if (const QString why = SoundServer::unavailable(); !why.isEmpty()) {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    m_home = std::make_unique<TestHome>();
    // B's speaker, and a microphone that hears it, as a laptop's does.
    QVERIFY(
        m_sound.start({"module-null-sink sink_name=room sink_properties=device.description=Room",
                       "module-remap-source source_name=mic master=room.monitor "
                       "source_properties=device.description=Microphone"},
                      QStringLiteral("mic")));
    QVERIFY(SoundServer::pactl({"set-default-source", "mic"}));
    m_heard = std::make_unique<HeardByCanceller>(m_files.filePath(QStringLiteral("echo.s16")));
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));

    m_view.resize(960, 540);
    m_view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_view));
    Preferences().setEnableEchoCancellation(1); // as the settings windows store it
    ConferenceDetails::catchFromLog();
    QVERIFY(m_b.signIn(m_services->portal(), QStringLiteral("alice"), &m_view));
    // B's picture is generated; its sound comes from the microphone and is played, not recorded.
    const QString settings = m_files.filePath(QStringLiteral("alice.ecf"));
    InProcessCaller::writeSettings(settings, "pictureColour=#808080\n");
    InProcessCaller::useSettings(settings);
    QVERIFY(m_b.join(m_services->portal(), 1002));
    QVERIFY(publishing([] {
        return ConferenceDetails::ask(
            [] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); });
    }));
    TRQClientInEvent::ClientSyncRequestMuteMic(true);
    TRQClientInEvent::ClientSyncRequestSetPreview(1); // a large stage with a strip below

    startDriver(m_a, QStringLiteral("demo"), pictureOfA, toneOfA);
    startDriver(m_c, QStringLiteral("carol"), pictureOfC, toneOfC);
    m_c.tell(QStringLiteral("mic 1"));
    QTRY_COMPARE_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 3,
                              10000);
}

void TestSpeakerEndToEnd::cleanupTestCase()
{
    stopDriver(m_a.process);
    stopDriver(m_c.process);
    QVERIFY(m_b.stop());
}

/// B's engine names whoever speaks, outlines their tile and gives them the stage; when the
/// other starts speaking, the stage follows; a pin holds the stage whoever speaks.
void TestSpeakerEndToEnd::stageFollowsTheSpeaker()
{
    const auto shown = [this](const QColor &colour) {
        return shareOf(m_view.grab().toImage(), colour);
    };
    Speaking now;
    const auto speakingAlone = [&](const QString &who, const QString &staged) {
        now = atB();
        return now.speaking.contains(who) && !now.speaking.contains(who == a ? c : a) &&
               now.stage.contains(staged);
    };
    QVERIFY2(QTest::qWaitFor([&] { return speakingAlone(a, a); }, 20000),
             qPrintable(now.speaking + u" | " + now.stage));
    QTRY_VERIFY_WITH_TIMEOUT(shown(pictureOfA) > 3 * shown(pictureOfC), 15000);
    m_view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-speaker-a.png")));

    // A falls silent and C speaks: the stage moves to C once A's hold is over.
    m_a.tell(QStringLiteral("mic 1"));
    m_c.tell(QStringLiteral("mic 0"));
    QVERIFY2(QTest::qWaitFor([&] { return speakingAlone(c, c); }, 20000),
             qPrintable(now.speaking + u" | " + now.stage));
    QTRY_VERIFY_WITH_TIMEOUT(shown(pictureOfC) > 3 * shown(pictureOfA), 15000);

    // B pins A: A has the stage while C goes on speaking, until the pin is released.
    QString uriOfA;
    for (const auto &p : TRQClientInEvent::ClientSyncRequestGetCurrentContacts())
        if (p->uri.contains(a))
            uriOfA = p->uri;
    TRQClientInEvent::ClientSyncRequestSetSomeOnePin(uriOfA);
    QVERIFY2(QTest::qWaitFor([&] { return speakingAlone(c, a); }, 5000),
             qPrintable(now.speaking + u" | " + now.stage));
    QTRY_VERIFY_WITH_TIMEOUT(shown(pictureOfA) > 3 * shown(pictureOfC), 15000);
    TRQClientInEvent::ClientSyncRequestReleasePin(uriOfA);
    QVERIFY2(QTest::qWaitFor([&] { return speakingAlone(c, c); }, 5000),
             qPrintable(now.speaking + u" | " + now.stage));

    // Who joins while C speaks on learns it from the room, not at C's next pause.
    Driver d; // dave, whose sending fails a few seconds in, once
    startDriver(d, QStringLiteral("dave"), QColor(0x20, 0xa0, 0x40), 550,
                QStringLiteral("publisherFailsAfter=5\n"));
    QString details;
    const auto speakingAtD = [&](const QString &who) {
        d.tell(QStringLiteral("details"));
        details = d.said(QStringLiteral("details:"), 5000);
        return details.section(QStringLiteral("speaking: "), 1)
            .section(QStringLiteral("; stage"), 0, 0)
            .contains(who);
    };
    QVERIFY2(QTest::qWaitFor([&] { return speakingAtD(c); }, 5000), qPrintable(details));
    // Dave speaks too, until the stream that carried his voice fails: no mark outlives it.
    const QString self = QStringLiteral("-u1005;");
    QVERIFY2(QTest::qWaitFor([&] { return speakingAtD(self); }, 15000), qPrintable(details));
    QVERIFY2(QTest::qWaitFor([&] { return !speakingAtD(self); }, 15000), qPrintable(details));
    stopDriver(d.process);
}

/// B plays A's and C's voices through one stream, and its echo canceller hears both of them:
/// on a loudspeaker, neither hears themselves back.
void TestSpeakerEndToEnd::echoCancellerHearsEveryVoice()
{
    m_a.tell(QStringLiteral("mic 0"));
    m_c.tell(QStringLiteral("mic 0"));
    const QString heardFile = m_files.filePath(QStringLiteral("echo.s16"));
    const auto hears = [&heardFile](int tone) { return levelAt(heardFile, tone); };
    QTRY_VERIFY2_WITH_TIMEOUT(
        hears(toneOfA) > heard && hears(toneOfC) > heard,
        qPrintable(QStringLiteral("A %1, C %2").arg(hears(toneOfA)).arg(hears(toneOfC))), 15000);
    qInfo("the canceller hears A at %.0f, C at %.0f", hears(toneOfA), hears(toneOfC));
    const auto streamsPlayed = [] {
        QProcess list;
        list.start(QStringLiteral("pactl"), {"list", "short", "sink-inputs"});
        list.waitForFinished(5000);
        return list.readAllStandardOutput().count('\n');
    };
    QTRY_COMPARE(streamsPlayed(), 1);
}

QTEST_MAIN(TestSpeakerEndToEnd)
#include "tst_speaker_e2e.moc"
