#include "bridge/ConfigurationPusher.h"
#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfClient.h"
#include "engine/media/BitrateAdapter.h"
#include "model/Preferences.h"
#include "tests/support/ConferenceDetails.h"
#include "tests/support/InProcessCaller.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// The two microphones of the sound server play these; each reaches the others as it is.
constexpr int lowTone = 440, highTone = 880;
constexpr double heard = 1500; // the microphones play at about 16000
constexpr double silent = 300;
// Switches take 0.1-0.5 s (the median is reported); the wait leaves room for a loaded machine.
constexpr int switchWaitMs = 20000;

/// Why this test cannot run on this machine, or empty.
QString unavailable()
{
    for (const char *program : {"janus", "pulseaudio", "pactl", "parec"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QLatin1String(program));
    return iceUnavailable();
}

/// The sound server's modules of a microphone that hears a tone: the tone plays into a sink
/// of its own, whose monitor the microphone offers. Not module-sine-source: that one delivers
/// its sound in blocks of two seconds, which every switch would wait for.
QStringList microphone(int number, int hz)
{
    const QString tone = QStringLiteral("tone%1").arg(number);
    return {QStringLiteral("-L"),
            QStringLiteral("module-null-sink sink_name=%1 sink_properties=device.description=%1")
                .arg(tone),
            QStringLiteral("-L"),
            QStringLiteral("module-sine sink=%1 frequency=%2").arg(tone).arg(hz),
            QStringLiteral("-L"),
            QStringLiteral("module-remap-source source_name=mic%1 master=%2.monitor "
                           "source_properties=device.description=Microphone%3")
                .arg(number)
                .arg(tone)
                .arg(hz)};
}

/// The index of the first name containing `part` and not naming a monitor, or -1.
int indexOf(const QStringList &names, const QString &part)
{
    for (int i = 0; i < names.size(); ++i)
        if (names[i].contains(part) && !names[i].contains(u"Monitor", Qt::CaseInsensitive))
            return i;
    return -1;
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

} // namespace

/// The user's settings drive a real call: two engines in a call through Janus, with a sound
/// server of their own whose microphones play tones and whose speakers can be recorded. This
/// process is B (alice), who plays what she receives on a speaker; A (demo) is the engine
/// driver in a process of its own, sending from a microphone.
class TestMediaSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void firstCallUsesStoredChoices();
    void aSwitchesMicrophone();
    void bSwitchesSpeaker();
    void aSwitchesVideoQuality();
    void aSwitchesCamera();
    void voiceProcessingFollows();
    void microphoneUnplugged();
    void linkStatistics();
    void lossLowersRate();
    void lossShrinksPicture();

private:
    bool startSoundServer();
    void pactl(const QStringList &arguments, QByteArray *output = nullptr);
    void record(QProcess &recorder, const QString &monitor, const QString &file);
    QString speakerFile(int speaker) const
    {
        return m_runtime.filePath(QStringLiteral("spk%1.s16").arg(speaker));
    }
    /// Whether speaker `speaker` of B plays `tone` of A and not `other`.
    bool plays(int speaker, int tone, int other)
    {
        return levelAt(speakerFile(speaker), tone) > heard &&
               levelAt(speakerFile(speaker), other) < silent;
    }
    void tellA(const QString &line) { m_a.write((line + u'\n').toUtf8()); }
    QString fromA(const QString &prefix, int timeoutMs = 15000)
    {
        return m_aLines.startingWith(prefix, timeoutMs);
    }
    /// B's engine's conference details, or empty.
    QString detailsOfB();
    /// The size of A's pictures as B's engine last received them ("640x360"), from its details.
    QString pictureOfAAtB();
    /// Whether A's pictures arrive at B, or have stood still for a second and a half: a
    /// condition to wait for, which compares each reading with the ones before.
    std::function<bool()> picturesOfAFlow(bool flowing);
    /// What A's engine sends from, from its conference details.
    QString sendingOfA();
    /// Writes A's engine settings file and has A's engine read it again.
    void settingsOfA(const QByteArray &lines);
    /// The video encoder's rate at A, from its conference details; 0 when not found.
    int rateOfA();
    /// Waits for `done` after a switch and notes how long it took.
    bool switched(const char *what, const std::function<bool()> &done);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    InProcessCaller m_b;
    QTemporaryDir m_runtime; ///< the sound server's runtime folder and the recordings
    QTemporaryDir m_homeOfA;
    QTemporaryDir m_settings;
    QString m_settingsOfA;
    QProcess m_sound;
    QProcess m_recorders[4];
    QProcess m_a;
    ProcessLines m_aLines{m_a};
    QElapsedTimer m_switchClock;
    QList<qint64> m_switchTimes;
    int m_micOfA[2] = {-1, -1};     ///< indices of the 440 Hz and 880 Hz microphones at A
    int m_speakerOfB[2] = {-1, -1}; ///< indices of speakers 1 and 2 at B
};

QString TestMediaSettings::detailsOfB()
{
    return ConferenceDetails::ask([] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); });
}

QString TestMediaSettings::pictureOfAAtB()
{
    // A (demo) is "u1001" in the call's participant URIs.
    return QRegularExpression(QStringLiteral("camera of \\S*-u1001;\\S* [1-9]\\d* (\\d+x\\d+)"))
        .match(detailsOfB())
        .captured(1);
}

std::function<bool()> TestMediaSettings::picturesOfAFlow(bool flowing)
{
    return ConferenceDetails::picturesFlow(
        [] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); }, QStringLiteral("u1001"),
        flowing);
}

QString TestMediaSettings::sendingOfA()
{
    tellA(QStringLiteral("details"));
    return fromA(QStringLiteral("details:"), 5000).section(QStringLiteral("sending from "), 1);
}

void TestMediaSettings::settingsOfA(const QByteArray &lines)
{
    InProcessCaller::writeSettings(m_settingsOfA, "testCamera=true\n" + lines);
    tellA(QStringLiteral("settings ") + m_settingsOfA);
}

int TestMediaSettings::rateOfA()
{
    return QRegularExpression(QStringLiteral("vp8enc bitrate=(\\d+)"))
        .match(sendingOfA())
        .captured(1)
        .toInt();
}

bool TestMediaSettings::switched(const char *what, const std::function<bool()> &done)
{
    if (!QTest::qWaitFor(done, switchWaitMs))
        return false;
    const qint64 took = m_switchClock.elapsed();
    m_switchTimes.append(took);
    qInfo("%s: in effect at the other participant after %lld ms", what, took);
    return true;
}

void TestMediaSettings::pactl(const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    QVERIFY(process.waitForFinished(10000));
    if (output)
        *output = process.readAllStandardOutput();
    QCOMPARE(process.exitCode(), 0);
}

bool TestMediaSettings::startSoundServer()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    // Off the session bus: two sound servers of tests that run side by side would both claim
    // org.PulseAudio1 there, and the second would stop.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    m_sound.setProcessEnvironment(env);
    m_sound.setProcessChannelMode(QProcess::ForwardedChannels);
    // No system instance, no configuration of the machine's: exactly these devices. The sinks
    // are loaded first, so that the microphones come last in every list.
    m_sound.start(
        QStringLiteral("pulseaudio"),
        QStringList{
            "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no", "--high-priority=no",
            // Shared memory off: with it, this server aborted once while importing a client's
            // block under load.
            "--log-level=error", "--disable-shm=yes", "-L",
            "module-native-protocol-unix auth-anonymous=1", "-L",
            "module-null-sink sink_name=spk1 sink_properties=device.description=Speaker1", "-L",
            "module-null-sink sink_name=spk2 sink_properties=device.description=Speaker2"} +
            microphone(1, lowTone) + microphone(2, highTone));
    if (!m_sound.waitForStarted())
        return false;
    // Everything here, A included, talks to this server only.
    qputenv("PULSE_SERVER", "unix:" + m_runtime.filePath(QStringLiteral("pulse/native")).toUtf8());
    return QTest::qWaitFor(
        [this] {
            QProcess list;
            list.start(QStringLiteral("pactl"), {"list", "short", "sources"});
            return list.waitForFinished(5000) && list.readAllStandardOutput().contains("mic2");
        },
        15000);
}

void TestMediaSettings::record(QProcess &recorder, const QString &monitor, const QString &file)
{
    recorder.setStandardOutputFile(file);
    recorder.start(QStringLiteral("parec"), {"-d", monitor, "--rate=48000", "--channels=1",
                                             "--format=s16le", "--latency-msec=20"});
    QVERIFY(recorder.waitForStarted());
}

void TestMediaSettings::initTestCase()
{
    if (const QString why = unavailable(); !why.isEmpty()) {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    m_home = std::make_unique<TestHome>();
    QVERIFY(startSoundServer());
    record(m_recorders[0], QStringLiteral("spk1.monitor"), speakerFile(1));
    record(m_recorders[1], QStringLiteral("spk2.monitor"), speakerFile(2));
    // An unheard tone sink renders in blocks of two seconds; one that is listened to renders
    // as the listener asks, so that a microphone taken in the call sounds at once, as a real
    // one does.
    record(m_recorders[2], QStringLiteral("tone1.monitor"), QProcess::nullDevice());
    record(m_recorders[3], QStringLiteral("tone2.monitor"), QProcess::nullDevice());
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));

    // B: this process, alice, in her own room, hearing the call on a speaker of her choice.
    ConferenceDetails::catchFromLog();
    m_b.start(nullptr);
    const QList<QStringList> devicesOfB = TRQClientInEvent::ClientSyncRequestGetDevice();
    m_speakerOfB[0] = indexOf(devicesOfB.value(1), QStringLiteral("Speaker1"));
    m_speakerOfB[1] = indexOf(devicesOfB.value(1), QStringLiteral("Speaker2"));
    QVERIFY2(m_speakerOfB[0] >= 0 && m_speakerOfB[1] >= 0,
             qPrintable(devicesOfB.value(1).join(u',')));
    {
        Preferences prefs; // as the settings windows store it, with no call yet
        prefs.setSelectedSpeakerDeviceNumber(uint(m_speakerOfB[0]));
        prefs.setEnableEchoCancellation(0);
        prefs.setEnableAudioAGC(0);
    }
    const QString portal = m_services->portal();
    QVERIFY(m_b.signIn(portal, QStringLiteral("alice")));
    // B sends a tone of its own, far from A's.
    const QString settingsOfB = m_settings.filePath(QStringLiteral("b.ecf"));
    InProcessCaller::writeSettings(settingsOfB, "toneFrequency=1500\n");
    InProcessCaller::useSettings(settingsOfB);
    QVERIFY(m_b.join(portal, 1002));

    // A: demo, with a home (and settings) of its own, its camera generated.
    m_settingsOfA = m_settings.filePath(QStringLiteral("a.ecf"));
    // The camera list holds the generated camera; the sent video can be made lossy.
    InProcessCaller::writeSettings(m_settingsOfA, "testCamera=true\ntestSendLoss=0\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_homeOfA.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_homeOfA.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_homeOfA.filePath(QStringLiteral(".local")));
    m_a.setProcessEnvironment(env);
    m_a.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_a.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(m_a.waitForStarted());
    QVERIFY(!fromA(QStringLiteral("ready")).isEmpty());
    tellA(QStringLiteral("devices"));
    const QStringList micsOfA =
        fromA(QStringLiteral("devices:")).section(u':', 1).section(u';', 0, 0).split(u'|');
    m_micOfA[0] = indexOf(micsOfA, QString::number(lowTone));
    m_micOfA[1] = indexOf(micsOfA, QString::number(highTone));
    QVERIFY2(m_micOfA[0] >= 0 && m_micOfA[1] >= 0, qPrintable(micsOfA.join(u',')));
    tellA(QStringLiteral("login demo demo1234 ") + portal);
    QVERIFY(!fromA(QStringLiteral("loginSuccess")).isEmpty());
    tellA(QStringLiteral("settings ") + m_settingsOfA);
    // A's stored choices, before any call.
    tellA(QStringLiteral("choose mic %1").arg(m_micOfA[0]));
    tellA(QStringLiteral("choose video 1"));
    tellA(QStringLiteral("choose echo 0"));
    tellA(QStringLiteral("choose gain 0"));
}

void TestMediaSettings::cleanupTestCase()
{
    if (!m_switchTimes.isEmpty())
        qInfo("a change in the settings took effect at the other participant after %lld ms "
              "(median of %lld switches)",
              median(m_switchTimes), qint64(m_switchTimes.size()));
    stopDriver(m_a);
    (void)m_b.stop();
    for (QProcess &recorder : m_recorders) {
        recorder.terminate();
        recorder.waitForFinished(5000);
    }
    m_sound.terminate();
    if (!m_sound.waitForFinished(5000))
        m_sound.kill();
}

void TestMediaSettings::firstCallUsesStoredChoices()
{
    tellA(QStringLiteral("join 1002"));
    QVERIFY(!fromA(QStringLiteral("conference")).isEmpty());
    // The stored microphone, heard on the stored speaker, the picture at the stored level.
    QTRY_VERIFY_WITH_TIMEOUT(plays(1, lowTone, highTone), 20000);
    QVERIFY(levelAt(speakerFile(2), lowTone) < silent);
    QTRY_COMPARE_WITH_TIMEOUT(pictureOfAAtB(), QStringLiteral("480x270"), 15000);
}

void TestMediaSettings::aSwitchesMicrophone()
{
    QTRY_VERIFY_WITH_TIMEOUT(plays(1, lowTone, highTone), 10000);
    for (const int tone : {highTone, lowTone, highTone}) {
        const int other = tone == lowTone ? highTone : lowTone;
        m_switchClock.start();
        tellA(QStringLiteral("choose mic %1").arg(m_micOfA[tone == lowTone ? 0 : 1]));
        QVERIFY2(switched("microphone", [&] { return plays(1, tone, other); }),
                 qPrintable(sendingOfA()));
    }
}

void TestMediaSettings::bSwitchesSpeaker()
{
    QTRY_VERIFY_WITH_TIMEOUT(levelAt(speakerFile(1), highTone) > heard, 10000);
    for (const int speaker : {2, 1, 2}) {
        m_switchClock.start();
        // As the device page does in a call.
        Preferences().setSelectedSpeakerDeviceNumber(uint(m_speakerOfB[speaker - 1]));
        ConfigurationPusher::push();
        QVERIFY(switched("speaker", [&] {
            return levelAt(speakerFile(speaker), highTone) > heard &&
                   levelAt(speakerFile(3 - speaker), highTone) < silent;
        }));
    }
}

void TestMediaSettings::aSwitchesVideoQuality()
{
    QTRY_VERIFY_WITH_TIMEOUT(!pictureOfAAtB().isEmpty(), 10000);
    // Janus's VideoRoom API lists publishers without their bit rate, and its admin API is
    // off: the rate is read from A's running encoder.
    const struct
    {
        int level;
        const char *size;
        int bitrate;
    } levels[] = {{2, "960x540", 700000}, {0, "640x360", 500000}, {1, "480x270", 400000}};
    for (const auto &level : levels) {
        m_switchClock.start();
        tellA(QStringLiteral("choose video %1").arg(level.level));
        QVERIFY2(
            switched("video quality", [&] { return pictureOfAAtB() == QLatin1String(level.size); }),
            qPrintable(pictureOfAAtB()));
        const QString encoder = QStringLiteral("vp8enc bitrate=%1").arg(level.bitrate);
        QTRY_VERIFY2_WITH_TIMEOUT(sendingOfA().contains(encoder), qPrintable(sendingOfA()), 5000);
    }
}

void TestMediaSettings::aSwitchesCamera()
{
    // A's camera list holds the generated camera only; the row past it is a camera that is
    // gone, which sends no pictures rather than a generated one.
    const auto arriving = picturesOfAFlow(true);
    QTRY_VERIFY_WITH_TIMEOUT(arriving(), 10000);
    for (const int camera : {1, 0, 1, 0}) {
        tellA(QStringLiteral("choose camera %1").arg(camera));
        const auto flow = picturesOfAFlow(camera == 0);
        QTRY_VERIFY2_WITH_TIMEOUT(flow(), qPrintable(detailsOfB()), 10000);
        // Still the same call, still heard.
        QTRY_VERIFY_WITH_TIMEOUT(levelAt(speakerFile(2), highTone) > heard, 5000);
    }
}

void TestMediaSettings::voiceProcessingFollows()
{
    const struct
    {
        int echo, gain;
        const char *shown; // in the running pipeline
    } steps[] = {{1, 0, "webrtcdsp echo=1 gain=0"},
                 {1, 1, "webrtcdsp echo=1 gain=1"},
                 {0, 1, "webrtcdsp echo=0 gain=1"},
                 {0, 0, nullptr}};
    for (const auto &step : steps) {
        tellA(QStringLiteral("choose echo %1").arg(step.echo));
        tellA(QStringLiteral("choose gain %1").arg(step.gain));
        if (step.shown)
            QTRY_VERIFY_WITH_TIMEOUT(sendingOfA().contains(QLatin1String(step.shown)), 8000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!sendingOfA().contains(u"webrtcdsp"), 8000);
    }
    // Still the same call, still heard.
    QTRY_VERIFY_WITH_TIMEOUT(levelAt(speakerFile(2), highTone) > heard, 8000);
}

void TestMediaSettings::microphoneUnplugged()
{
    tellA(QStringLiteral("choose mic %1").arg(m_micOfA[1]));
    QTRY_VERIFY_WITH_TIMEOUT(plays(2, highTone, lowTone), 10000);
    QByteArray modules;
    pactl({"list", "short", "modules"}, &modules);
    QString module;
    for (const QByteArray &line : modules.split('\n'))
        if (line.contains("source_name=mic2"))
            module = QString::fromUtf8(line.split('\t').value(0));
    QVERIFY(!module.isEmpty());
    pactl({"unload-module", module});
    // A goes on from the sound server's default microphone, never from a generated tone.
    QTRY_VERIFY_WITH_TIMEOUT(plays(2, lowTone, highTone), 15000);
    // The sound server moves the stream to its default at once; A still reads a device.
    const QString sending = sendingOfA();
    QVERIFY2(sending.contains(u"pulsesrc=") && !sending.contains(u"audiotestsrc"),
             qPrintable(sending));
    // The record kept its size: what lies past the device lists is still there.
    tellA(QStringLiteral("configuration"));
    const QString configuration = fromA(QStringLiteral("configuration:"));
    QVERIFY2(configuration.endsWith(u"startup=1,2"), qPrintable(configuration));
}

/// Both engines read their connections: every stream of the call, sent and received, carries
/// bits, and each video stream's pictures are counted.
void TestMediaSettings::linkStatistics()
{
    const auto flowing = [](const QString &details) {
        const QStringList links = details.section(QStringLiteral("links: "), 1)
                                      .section(QStringLiteral("; pictures received"), 0, 0)
                                      .section(QStringLiteral("; ice servers"), 0, 0)
                                      .split(QStringLiteral("; "));
        if (links.size() < 2) // this participant's own and the other's
            return false;
        return std::all_of(links.cbegin(), links.cend(), [](const QString &link) {
            static const QRegularExpression video(QStringLiteral(
                "(sent|received) video [1-9]\\d* kbit/s[^,]* frames [1-9]\\d* \\w+ \\d+ dropped"));
            static const QRegularExpression audio(
                QStringLiteral("(sent|received) audio [1-9]\\d* kbit/s"));
            return link.contains(video) && link.contains(audio);
        });
    };
    QTRY_VERIFY2_WITH_TIMEOUT(flowing(detailsOfB()), qPrintable(detailsOfB()), 10000);
    QTRY_VERIFY2_WITH_TIMEOUT(flowing(sendingOfA()), qPrintable(sendingOfA()), 10000);
}

/// A's sent video loses packets on the way (no link here can be made lossy, so A's engine
/// drops them itself): Janus reports the slow link and the receiver reports the loss, A's
/// encoder's rate goes down while the loss lasts, never below the floor, and climbs again once
/// the link is clean.
void TestMediaSettings::lossLowersRate()
{
    QTRY_VERIFY_WITH_TIMEOUT(rateOfA() > 0, 5000);
    const int levelRate = rateOfA();
    settingsOfA("testSendLoss=30\n");
    QTRY_VERIFY2_WITH_TIMEOUT(rateOfA() < levelRate * 0.6, qPrintable(sendingOfA()), 20000);
    // B sees the loss of A's pictures: packets lost for good, or, with the lost packets sent
    // again too late or lost again, pictures dropped as damaged.
    const QRegularExpression lossOfA(QStringLiteral(
        "-u1001;[^:]*: [^;]*received video [^,;]* loss ([\\d.]+) %[^,;]* (\\d+) damaged"));
    const auto seenLost = [&lossOfA](const QString &details) {
        const auto match = lossOfA.match(details);
        return match.captured(1).toDouble() > 5 || match.captured(2).toLongLong() > 0;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(seenLost(detailsOfB()), qPrintable(detailsOfB()), 10000);
    settingsOfA("testSendLoss=0\n");
    const QString sending = sendingOfA(); // the rate and the picture of one reading
    const int lowered = QRegularExpression(QStringLiteral("vp8enc bitrate=(\\d+)"))
                            .match(sending)
                            .captured(1)
                            .toInt();
    // Never under what the picture sent needs: where the rate would go lower, the picture did.
    const QRegularExpressionMatch picture =
        QRegularExpression(QStringLiteral("picture (\\d+)x(\\d+)@(\\d+)")).match(sending);
    QVERIFY2(picture.hasMatch(), qPrintable(sending));
    const BitrateAdapter::Format format{picture.captured(1).toInt(), picture.captured(2).toInt(),
                                        picture.captured(3).toInt()};
    QVERIFY2(lowered >= BitrateAdapter(format, 0, BitrateAdapter::camera()).floorOf(format),
             qPrintable(sending));
    QTRY_VERIFY2_WITH_TIMEOUT(rateOfA() > lowered, qPrintable(sendingOfA()), 30000);
    // Still the same call, A's pictures still arriving.
    const auto arriving = picturesOfAFlow(true);
    QTRY_VERIFY_WITH_TIMEOUT(arriving(), 10000);
}

/// Loss that goes on takes A's rate down to the floor of its picture, then its frame rate, then
/// its size: B receives a smaller picture, in the same call. Once the link is clean the picture
/// grows back to the level's size.
void TestMediaSettings::lossShrinksPicture()
{
    const QString picture = QStringLiteral("picture (\\d+)x(\\d+)@");
    const QRegularExpressionMatch level = QRegularExpression(picture).match(sendingOfA());
    QVERIFY2(level.hasMatch(), qPrintable(sendingOfA()));
    const QString levelSize = level.captured(1) + u'x' + level.captured(2);
    QTRY_COMPARE_WITH_TIMEOUT(pictureOfAAtB(), levelSize, 10000);
    // Heavy enough that the packets sent again are lost often too: the loss goes on at any rate.
    settingsOfA("testSendLoss=60\n");
    const auto smaller = [this, &level] {
        const QStringList size = pictureOfAAtB().split(u'x');
        return size.size() == 2 && size[1].toInt() > 0 &&
               size[1].toInt() < level.captured(2).toInt();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(smaller(), qPrintable(sendingOfA()), 60000);
    settingsOfA("testSendLoss=0\n");
    // From the smallest picture, nine steps up (one at each reading of the link, every two
    // seconds, later on a loaded machine) after a calm spell of four seconds.
    QTRY_VERIFY2_WITH_TIMEOUT(pictureOfAAtB() == levelSize,
                              qPrintable(sendingOfA() + u'\n' + detailsOfB()), 45000);
    const auto arriving = picturesOfAFlow(true);
    QTRY_VERIFY_WITH_TIMEOUT(arriving(), 10000);
}

QTEST_MAIN(TestMediaSettings)
#include "tst_mediasettings_e2e.moc"
