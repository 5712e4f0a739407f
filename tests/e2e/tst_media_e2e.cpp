#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfClient.h"
#include "bridge/shared/ConfRecords.h"
#include "tests/support/ConferenceDetails.h"
#include "tests/support/InProcessCaller.h"
#include "tests/support/JanusProbe.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QPalette>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <csignal>

namespace CR = ConfRecords;

namespace {

const QColor pictureOfA(0xc0, 0x30, 0x20);
constexpr int toneOfA = 660;
constexpr double heard = 1500; // amplitude at A's tone; A sends about 9800
constexpr double silent = 150;
constexpr int noSuchSession = 458; // Janus's error code
constexpr double shown = 0.12; // A's tile is the small one beside the owner's: a fifth of the view

} // namespace

/// Two real engines in a call with real media through Janus: this process is B (alice) with
/// a video view, A (demo) is the engine driver in a process of its own.
class TestMediaEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void bSeesAndHearsA();
    void statesSilenceOrStopA_data();
    void statesSilenceOrStopA();
    void aLeavesAndRejoins();
    void aQuitsMidCall();
    void aSendingFailsAndRecovers();
    void aStreamsThatNeverConnectAreLost();
    void aConnectsOnlyThroughTurn();
    void strangerCannotSubscribe();
    void bWatchesTheShareOfA();
    void aClosesTheSharedWindow();
    void janusRestartsMidCall();
    void janusStopsMidCall();

private:
    /// Whether A is in the call, as B's roster shows it.
    bool aInRoster() { return TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size() == 2; }
    /// A in the call with B and its picture shown at B: A joins unless it is in the call.
    void aInCall();
    /// Whether the test runs on X11, where A can share this process's windows; else it fails or
    /// skips the case and the case returns.
    bool sharesOnX11();
    /// A window of one colour beside B's view, on the display A captures.
    std::unique_ptr<QWidget> windowToShare(const QColor &colour, const QRect &geometry);
    /// A shares one of this process's windows, and B's engine receives its pictures.
    void aShares(const QWidget &window);
    void startA();
    /// The number of A's current session at Janus, from its conference details.
    QString relaySessionOfA();
    /// The error code of Janus's answer to a new handle in `session`; 0 when it makes one.
    int janusRefuses(const QString &session);
    /// Kills the services' Janus.
    void killJanus();
    /// How many shares publish in the call's room at Janus.
    qsizetype sharesAtJanus();
    void tellA(const QString &line) { m_a.write((line + u'\n').toUtf8()); }
    QString fromA(const QString &prefix, int timeoutMs = 15000)
    {
        return m_aLines.startingWith(prefix, timeoutMs);
    }
    /// Drops what A has said so far, so that the next fromA() hears only what comes after.
    void forgetA() { m_aLines.forget(); }
    /// A leaves the call it is in, if any; false when it did not say that the call ended.
    bool aLeaves()
    {
        if (!aInRoster())
            return true;
        forgetA();
        tellA(QStringLiteral("leave"));
        return !fromA(QStringLiteral("endConference")).isEmpty();
    }
    /// A joins B's room with `settings` added to its own; false when it did not get in.
    bool aJoinsWith(const QByteArray &settings)
    {
        tellA(QStringLiteral("settings ") + settingsOfA(settings));
        forgetA();
        tellA(QStringLiteral("join 1002"));
        return !fromA(QStringLiteral("conference")).isEmpty();
    }
    /// The pictures of A's camera or share ("camera", "share") that B's engine has received,
    /// as its conference details say; -1 when it does not answer.
    qint64 picturesOfAAtB(const QString &kind);
    /// Whether B's engine says that A's media stopped; false when it does not answer.
    bool aInterruptedAtB();
    double pictureOfAShown() { return shareOf(m_view.grab().toImage(), pictureOfA); }
    double toneOfAHeard()
    {
        return levelAt(m_audio.filePath(QStringLiteral("u1001.s16")), toneOfA);
    }
    /// A's settings file: its picture and tone, and `more`.
    QString settingsOfA(const QByteArray &more = {});
    JanusProbe janus() const { return JanusProbe(m_services->dataPath()); }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    InProcessCaller m_b;
    RecordingDelegate &m_delegate = m_b.delegate;
    QWidget m_view;
    QTemporaryDir m_audio;
    QTemporaryDir m_settings;
    QProcess m_a;
    ProcessLines m_aLines{m_a};
    bool m_farEndMuted = false;
};

qint64 TestMediaEndToEnd::picturesOfAAtB(const QString &kind)
{
    const QString details =
        ConferenceDetails::ask([] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); });
    if (details.isEmpty())
        return -1;
    // A (demo) is "u1001" in the call's participant URIs.
    const auto count =
        QRegularExpression(kind + QStringLiteral(" of \\S*-u1001;\\S* (\\d+)")).match(details);
    return count.hasMatch() ? count.captured(1).toLongLong() : 0;
}

bool TestMediaEndToEnd::aInterruptedAtB()
{
    const QString details =
        ConferenceDetails::ask([] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); });
    return details.contains(QRegularExpression(QStringLiteral("音视频已中断 \\S*-u1001;")));
}

QString TestMediaEndToEnd::settingsOfA(const QByteArray &more)
{
    const QString path = m_settings.filePath(more.isEmpty() ? QStringLiteral("a.ecf")
                                                            : QStringLiteral("a-more.ecf"));
    InProcessCaller::writeSettings(path, QStringLiteral("pictureColour=%1\ntoneFrequency=%2\n")
                                                 .arg(pictureOfA.name())
                                                 .arg(toneOfA)
                                                 .toUtf8() +
                                             more);
    return path;
}

void TestMediaEndToEnd::initTestCase()
{
    if (const QString why = mediaUnavailable(); !why.isEmpty()) {
        // scripts/test installs Janus and runs where there is a network: there this is a failure.
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    m_home = std::make_unique<TestHome>();
    // The TURN server relays from the address Janus offers: Janus connects to no relay on
    // loopback.
    QString relayAddress;
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (relayAddress.isEmpty() && a.protocol() == QAbstractSocket::IPv4Protocol &&
            !a.isLoopback() && !a.isLinkLocal())
            relayAddress = a.toString();
    m_services = std::make_unique<ServicesProcess>(
        QStringLiteral(ORVALE_SERVICES), testHost(),
        QStringList{QStringLiteral("--turn-relay-ip"), relayAddress});
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));

    // B: this process, alice, in her own room, her received sound going into files.
    m_view.resize(640, 360);
    m_view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_view));
    ConferenceDetails::catchFromLog();
    QVERIFY(m_b.signIn(m_services->portal(), QStringLiteral("alice"), &m_view));
    const QString settingsOfB = m_settings.filePath(QStringLiteral("b.ecf"));
    InProcessCaller::writeSettings(settingsOfB,
                                   "audioRecordFolder=" + m_audio.path().toUtf8() + "\n");
    InProcessCaller::useSettings(settingsOfB);
    QVERIFY(m_b.join(m_services->portal(), 1002)); // her own room, where she is the owner

    startA();
}

/// A: demo, signed in, with its picture and tone chosen by its settings file.
void TestMediaEndToEnd::startA()
{
    forgetA();
    m_a.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_a.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(m_a.waitForStarted());
    QVERIFY(!fromA(QStringLiteral("ready")).isEmpty());
    tellA(QStringLiteral("login demo demo1234 ") + m_services->portal());
    QVERIFY(!fromA(QStringLiteral("loginSuccess")).isEmpty());
    tellA(QStringLiteral("settings ") + settingsOfA());
}

QString TestMediaEndToEnd::relaySessionOfA()
{
    // While A's sent stream is being made again, its details name no session: ask until they do.
    QString session;
    (void)QTest::qWaitFor(
        [&] {
            forgetA();
            tellA(QStringLiteral("details"));
            session = QRegularExpression(QStringLiteral("relay session (\\d+)"))
                          .match(fromA(QStringLiteral("details:"), 5000))
                          .captured(1);
            return !session.isEmpty();
        },
        15000);
    return session;
}

int TestMediaEndToEnd::janusRefuses(const QString &session)
{
    return janus()
        .request(u'/' + session, {{"janus", "attach"}, {"plugin", "janus.plugin.videoroom"}})
        .value("error")
        .toObject()
        .value("code")
        .toInt();
}

void TestMediaEndToEnd::cleanupTestCase()
{
    stopDriver(m_a);
    if (!m_b.started())
        return;
    QVERIFY(m_b.stop());
    // A stopped engine refuses what is sent to it afterwards.
    QVERIFY(!ConfClientSendEvent(CR::EventLeave, nullptr, 0));
}

void TestMediaEndToEnd::aInCall()
{
    if (!aInRoster()) {
        forgetA();
        tellA(QStringLiteral("join 1002"));
        QVERIFY(!fromA(QStringLiteral("conference")).isEmpty());
    }
    QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() > shown, 15000);
}

void TestMediaEndToEnd::bSeesAndHearsA()
{
    QVERIFY(aLeaves());
    QTRY_COMPARE(pictureOfAShown(), 0.0);
    forgetA();
    QElapsedTimer clock;
    clock.start();
    tellA(QStringLiteral("join 1002"));
    QVERIFY(!fromA(QStringLiteral("conference")).isEmpty());
    // A's tile fills with A's generated picture.
    QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() > shown, 15000);
    qInfo("first picture of A at B %lld ms after A joined", clock.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(toneOfAHeard() > heard, 10000);
    qInfo("tone of A at B: %.0f after %lld ms", toneOfAHeard(), clock.elapsed());
    QVERIFY(levelAt(m_audio.filePath(QStringLiteral("u1001.s16")), toneOfA + 200) < silent);
    m_view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-media-call.png")));
    // B's details name the candidates A's stream takes: on one machine, directly over UDP.
    const auto pairOfA = [] {
        return QRegularExpression(QStringLiteral("-u1001;[^;]*pair (\\S+ \\S+ to \\S+ [^\\s;]+)"))
            .match(ConferenceDetails::ask(
                [] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); }))
            .captured(1);
    };
    QTRY_COMPARE_WITH_TIMEOUT(pairOfA(), QStringLiteral("host udp to host udp"), 10000);
}

void TestMediaEndToEnd::statesSilenceOrStopA_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("stopsPicture"); // else it silences the tone
    QTest::newRow("A mutes the microphone") << QStringLiteral("mic") << false;
    QTest::newRow("B mutes the speaker") << QStringLiteral("speaker") << false;
    QTest::newRow("the owner B mutes A") << QStringLiteral("farEnd") << false;
    QTest::newRow("A switches the camera off") << QStringLiteral("camera") << true;
}

void TestMediaEndToEnd::statesSilenceOrStopA()
{
    QFETCH(QString, state);
    QFETCH(bool, stopsPicture);
    aInCall();
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY(toneOfAHeard() > heard);
    if (state == u"mic")
        tellA(QStringLiteral("mic 1"));
    else if (state == u"speaker")
        TRQClientInEvent::ClientSyncRequestMuteSpeaker(true);
    else if (state == u"farEnd")
        TRQClientInEvent::ClientAsyncRequestMuteAudioWithParticantID(
            QStringLiteral("u1001"), this, [this](bool ok) { m_farEndMuted = ok; });
    else
        tellA(QStringLiteral("camera 1"));
    if (stopsPicture) {
        QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() < 0.02, 5000);
        QTRY_VERIFY(toneOfAHeard() > heard); // the sound goes on
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(toneOfAHeard() < silent, 5000);
        QCOMPARE(m_farEndMuted, state == u"farEnd");
        QTRY_VERIFY(pictureOfAShown() > shown); // the picture goes on
    }
    // Back on: the media return.
    if (state == u"speaker")
        TRQClientInEvent::ClientSyncRequestMuteSpeaker(false);
    else if (state == u"camera")
        tellA(QStringLiteral("camera 0"));
    else
        tellA(QStringLiteral("mic 0"));
    QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() > shown, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(toneOfAHeard() > heard, 5000);
}

void TestMediaEndToEnd::aLeavesAndRejoins()
{
    aInCall();
    if (QTest::currentTestFailed())
        return;
    const QString session = relaySessionOfA();
    QVERIFY(!session.isEmpty());
    forgetA();
    tellA(QStringLiteral("leave"));
    QVERIFY(!fromA(QStringLiteral("endConference")).isEmpty());
    // A's engine ended its session at Janus rather than leaving it to time out: Janus knows it
    // no more.
    QTRY_COMPARE_WITH_TIMEOUT(janusRefuses(session), noSuchSession, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(pictureOfAShown(), 0.0, 5000);
    tellA(QStringLiteral("join 1002"));
    QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() > shown, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(toneOfAHeard() > heard, 5000);
}

void TestMediaEndToEnd::aQuitsMidCall()
{
    aInCall();
    if (QTest::currentTestFailed())
        return;
    const QString session = relaySessionOfA();
    QVERIFY(!session.isEmpty());
    tellA(QStringLiteral("logout-quit"));
    QVERIFY(m_a.waitForFinished(5000));
    // A's engine waited for Janus to end its session before the process ended.
    QCOMPARE(janusRefuses(session), noSuchSession);
    startA();
}

void TestMediaEndToEnd::aSendingFailsAndRecovers()
{
    QVERIFY(aLeaves());
    // A's next call starts with a source that fails, once, a few seconds in: B receives it first.
    QVERIFY(aJoinsWith("publisherFailsAfter=4\n"));
    QTRY_VERIFY_WITH_TIMEOUT(aInterruptedAtB(), 15000);
    m_view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-media-interrupted.png")));
    // A sends again in the same call: its picture returns and its tile is no longer interrupted.
    QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() > shown, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!aInterruptedAtB(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(toneOfAHeard() > heard, 5000);
    QVERIFY(aInRoster());
    tellA(QStringLiteral("settings ") + settingsOfA());
}

void TestMediaEndToEnd::aStreamsThatNeverConnectAreLost()
{
    QVERIFY(aLeaves());
    // A's next call gives each stream no time to connect: each one is lost and tried again,
    // and A's tiles of itself (demo, u1001) and of B (alice, u1002) say so.
    QVERIFY(aJoinsWith("connectTimeout=0.001\n"));
    QString details;
    const auto interrupted = [&] {
        forgetA();
        tellA(QStringLiteral("details"));
        details = fromA(QStringLiteral("details:"));
        return details.contains(QRegularExpression(QStringLiteral("音视频已中断 \\S*-u1001;"))) &&
               details.contains(QRegularExpression(QStringLiteral("音视频已中断 \\S*-u1002;")));
    };
    QVERIFY2(QTest::qWaitFor(interrupted, 15000), qPrintable(details));
    tellA(QStringLiteral("settings ") + settingsOfA());
    forgetA();
    tellA(QStringLiteral("leave"));
    QVERIFY(!fromA(QStringLiteral("endConference")).isEmpty());
}

/// A's streams may use no direct path: they go through the deployment's TURN server, with the
/// credentials of the media message, and both sides still see and hear each other.
void TestMediaEndToEnd::aConnectsOnlyThroughTurn()
{
    QVERIFY(aLeaves());
    QTRY_COMPARE(pictureOfAShown(), 0.0);
    QVERIFY(aJoinsWith("relayOnly=true\n"));
    QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() > shown, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(toneOfAHeard() > heard, 10000);
    // A's own stream and its subscription to B (alice, u1002) each name a relayed pair, over
    // whichever of TURN's UDP and TCP the engine settled on.
    QString details;
    const auto relayed = [&] {
        forgetA();
        tellA(QStringLiteral("details"));
        details = fromA(QStringLiteral("details:"));
        return details.contains(
                   QRegularExpression(QStringLiteral("own: [^;]*pair relay (udp|tcp) to "))) &&
               details.contains(
                   QRegularExpression(QStringLiteral("-u1002;[^;]*pair relay (udp|tcp) to ")));
    };
    QVERIFY2(QTest::qWaitFor(relayed, 15000), qPrintable(details));
    tellA(QStringLiteral("settings ") + settingsOfA());
}

void TestMediaEndToEnd::strangerCannotSubscribe()
{
    aInCall();
    if (QTest::currentTestFailed())
        return;
    // Someone who knows where Janus listens but was never admitted to the call.
    const JanusProbe probe = janus();
    const QString h = probe.attachToVideoRoom();
    QVERIFY(!h.isEmpty());
    // A's camera and sound, published under A's participant URI ("conf1002-u1001;ws"); a
    // participant that has just joined may not publish yet.
    QJsonArray people;
    qint64 feed = 0;
    const auto aPublishes = [&] {
        people = probe.roomRequest(h, {{"request", "listparticipants"}, {"room", 1002}})
                     .value("participants")
                     .toArray();
        for (const QJsonValue &p : std::as_const(people)) {
            const QString display = p.toObject().value("display").toString();
            if (p.toObject().value("publisher").toBool() && display.startsWith(u"conf") &&
                display.contains(u"-u1001;"))
                feed = p.toObject().value("id").toInteger();
        }
        return feed != 0;
    };
    QVERIFY2(QTest::qWaitFor(aPublishes, 10000), QJsonDocument(people).toJson().constData());
    for (const QString &token : {QString(), QStringLiteral("guessed")}) {
        QJsonObject join{{"request", "join"},
                         {"ptype", "subscriber"},
                         {"room", 1002},
                         {"streams", QJsonArray{QJsonObject{{"feed", feed}}}}};
        if (!token.isEmpty())
            join.insert("token", token);
        const QJsonObject data = probe.roomRequest(h, join);
        // 433: not authorised; A's feed itself exists.
        QVERIFY2(data.value("error_code").toInt() == 433, QJsonDocument(data).toJson().constData());
        QVERIFY(!data.contains("streams"));
    }
}

bool TestMediaEndToEnd::sharesOnX11()
{
    if (QGuiApplication::platformName() == u"xcb")
        return true;
    // CTest runs this program under Xvfb: there a missing X server is a failure.
    if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
        QTest::qFail("shares an X11 window, but the test does not run on X11", __FILE__, __LINE__);
    else
        QTest::qSkip("shares an X11 window: run the test under Xvfb (QT_QPA_PLATFORM=xcb xvfb-run)",
                     __FILE__, __LINE__);
    return false;
}

std::unique_ptr<QWidget> TestMediaEndToEnd::windowToShare(const QColor &colour,
                                                          const QRect &geometry)
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Orvale share picture"));
    QPalette palette;
    palette.setColor(QPalette::Window, colour);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->setGeometry(geometry);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    return window;
}

void TestMediaEndToEnd::aShares(const QWidget &window)
{
    aInCall();
    if (QTest::currentTestFailed())
        return;
    const QRect g = window.geometry();
    tellA(QStringLiteral("share %1 %2 %3 %4 %5")
              .arg(window.winId())
              .arg(g.x())
              .arg(g.y())
              .arg(g.width())
              .arg(g.height()));
    QVERIFY(!fromA(QStringLiteral("sharing:")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetShareInRoom().size() == 2,
                             10000);
    // B's engine receives the share whether or not B watches it.
    const qint64 arrived = picturesOfAAtB(QStringLiteral("share"));
    QVERIFY(arrived >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(picturesOfAAtB(QStringLiteral("share")) > arrived, 10000);
}

qsizetype TestMediaEndToEnd::sharesAtJanus()
{
    return janus().sharesIn(1002);
}

void TestMediaEndToEnd::bWatchesTheShareOfA()
{
    if (!sharesOnX11())
        return;
    const QColor colour(0x20, 0xa0, 0x50);
    const auto window = windowToShare(colour, QRect(700, 420, 320, 240));
    QVERIFY(window);
    const auto shareShown = [&] { return shareOf(m_view.grab().toImage(), colour); };
    QCOMPARE(shareShown(), 0.0);

    QElapsedTimer clock;
    clock.start();
    aShares(*window);
    if (QTest::currentTestFailed())
        return;
    // B watches nothing: A's pictures go on arriving at B's engine, but nothing draws them.
    TRQClientInEvent::ClientSyncRequestSetShareInRoom(1);
    const qint64 arrived = picturesOfAAtB(QStringLiteral("share"));
    QTRY_VERIFY_WITH_TIMEOUT(picturesOfAAtB(QStringLiteral("share")) > arrived, 10000);
    QCOMPARE(shareShown(), 0.0);
    // B selects the share: A's window fills the share area above the tiles.
    TRQClientInEvent::ClientSyncRequestSetShareInRoom(0);
    QTRY_VERIFY_WITH_TIMEOUT(shareShown() > 0.25, 15000);
    qInfo("share of A shown at B %lld ms after A shared", clock.elapsed());
    m_view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-media-share.png")));
    // A's tile stays, in the row below; a busy machine may hold back its camera for a moment.
    QTRY_VERIFY(pictureOfAShown() > 0.02);
    QCOMPARE(sharesAtJanus(), 1); // a publisher of its own beside A's camera and sound

    tellA(QStringLiteral("unshare"));
    QVERIFY(!fromA(QStringLiteral("sharing:")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(shareShown(), 0.0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetShareInRoom().size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(sharesAtJanus(), 0, 5000); // A stopped publishing the pictures
}

void TestMediaEndToEnd::aClosesTheSharedWindow()
{
    if (!sharesOnX11())
        return;
    auto window = windowToShare(QColor(0xa0, 0x20, 0x90), QRect(700, 420, 160, 120));
    QVERIFY(window);
    aShares(*window);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(sharesAtJanus(), 1);

    window.reset(); // the user closes the window A shows the others
    // A's share ends for everyone; A itself stays in the call with its camera and sound.
    QTRY_COMPARE_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetShareInRoom().size(), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(sharesAtJanus(), 0, 5000);
    QCOMPARE(m_a.state(), QProcess::Running);
    forgetA();
    tellA(QStringLiteral("shares"));
    QVERIFY(!fromA(QStringLiteral("shares:")).isEmpty()); // A still answers
    QTRY_VERIFY(pictureOfAShown() > shown);
}

void TestMediaEndToEnd::killJanus()
{
    // The services' child named janus.
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(m_services->processId()));
    QVERIFY(children.open(QIODevice::ReadOnly));
    qint64 janusPid = 0;
    for (const QByteArray &pid : children.readAll().split(' ')) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid.trimmed())));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "janus")
            janusPid = pid.trimmed().toLongLong();
    }
    QVERIFY(janusPid > 0);
    QVERIFY(::kill(pid_t(janusPid), SIGKILL) == 0);
}

void TestMediaEndToEnd::janusRestartsMidCall()
{
    if (!sharesOnX11())
        return;
    const auto window = windowToShare(QColor(0x30, 0x60, 0xb0), QRect(700, 420, 320, 240));
    QVERIFY(window);
    aShares(*window);
    if (QTest::currentTestFailed())
        return;
    killJanus();
    QTRY_COMPARE_WITH_TIMEOUT(pictureOfAShown(), 0.0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(picturesOfAAtB(QStringLiteral("share")), 0, 10000);
    // The services start Janus again; both engines make new sessions, join, publish and
    // subscribe again, and A's pictures flow at B without anyone leaving the call.
    const auto flowing = ConferenceDetails::picturesFlow(
        [] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); }, QStringLiteral("u1001"),
        true);
    QTRY_VERIFY_WITH_TIMEOUT(flowing(), 20000);
    // A's share comes back too: A never asked to stop it. A watched share takes the stage
    // again, and A's picture may be the small one beside it.
    QTRY_VERIFY_WITH_TIMEOUT(picturesOfAAtB(QStringLiteral("share")) > 0, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(pictureOfAShown() > 0.01, 5000);
    QVERIFY(!m_delegate.calls.contains(QStringLiteral("closeConference")));
}

/// Janus dies again within a minute: the services give it up.
void TestMediaEndToEnd::janusStopsMidCall()
{
    aInCall();
    if (QTest::currentTestFailed())
        return;
    killJanus();

    // The pictures stop, the call goes on: B stays in it and still follows the roster.
    QTRY_COMPARE_WITH_TIMEOUT(pictureOfAShown(), 0.0, 5000);
    const qsizetype rosterUpdates = m_delegate.calls.count(QStringLiteral("participants"));
    tellA(QStringLiteral("leave"));
    QVERIFY(!fromA(QStringLiteral("endConference")).isEmpty());
    QTRY_VERIFY(m_delegate.calls.count(QStringLiteral("participants")) > rosterUpdates);
    QVERIFY(!m_delegate.calls.contains(QStringLiteral("endConference")));
    // Joining without media works too. The service answers A's media before it sends the
    // roster, so A's first roster shows that A has read that the call carries none.
    forgetA();
    tellA(QStringLiteral("join 1002"));
    QVERIFY(!fromA(QStringLiteral("conference")).isEmpty());
    QVERIFY(!fromA(QStringLiteral("participants:")).isEmpty());
    // B's view has A's tile again, with no picture: none arrived at B's engine.
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 2);
    QCOMPARE(picturesOfAAtB(QStringLiteral("camera")), 0);
    QCOMPARE(pictureOfAShown(), 0.0);
    QCOMPARE(m_a.state(), QProcess::Running);
}

QTEST_MAIN(TestMediaEndToEnd)
#include "tst_media_e2e.moc"
