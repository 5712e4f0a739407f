#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfClient.h"
#include "tests/support/InProcessCaller.h"
#include "tests/support/JanusProbe.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/PortalStandIn.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>

namespace {

/// The desktop's picture the stand-in portal casts: the generated camera of A is grey-blue, so
/// this colour is the share's alone.
const QColor castPicture(0x20, 0xc0, 0x30);
const QString castNode = QStringLiteral("orvale-cast-test");

/// Why the real PipeWire cannot run here, or empty.
QString pipeWireUnavailable()
{
    for (const char *tool : {"pipewire", "wireplumber", "pw-dump", "gst-launch-1.0"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
    return {};
}

/// A new connection to the PipeWire daemon's socket: the remote a portal hands over.
QDBusUnixFileDescriptor connectTo(const QString &socketPath)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    std::memcpy(address.sun_path, path.constData(),
                std::min<size_t>(size_t(path.size()), sizeof address.sun_path - 1));
    QDBusUnixFileDescriptor remote;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        remote.setFileDescriptor(fd); // a duplicate
    ::close(fd);
    return remote;
}

} // namespace

/// A shares from a Wayland session: the desktop's portal (a stand-in on the test's own bus)
/// hands over a stream of a real PipeWire, and B (this process, alice) watches it through Janus.
/// A (demo) is the engine driver in a process of its own.
class TestPortalShare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void bWatchesTheCastOfA();
    void desktopEndsTheCast_data();
    void desktopEndsTheCast();
    void dismissedChooserSharesNothing();
    void nextShareSendsTheRestoreToken();

private:
    void startPipeWire();
    /// The desktop's picture offered as a PipeWire stream; the stand-in hands over its node.
    void startProducer();
    /// The node id of the stream the test's producer offers; 0 until it is there.
    quint32 castNodeId();
    void tellA(const QString &line) { m_a.write((line + u'\n').toUtf8()); }
    /// A's next line that mentions `text`: its log lines say what the portal said.
    QString fromA(const QString &text, int timeoutMs = 15000)
    {
        return m_aLines.containing(text, timeoutMs);
    }
    /// A shares through the menu's first row, the screen; B's engine lists the share.
    void aShares();
    double castShown() { return shareOf(m_view.grab().toImage(), castPicture); }
    qsizetype sharesAtJanus() { return JanusProbe(m_services->dataPath()).sharesIn(1002); }

    QTemporaryDir m_runtime; // 0700, as PipeWire wants its runtime folder
    std::unique_ptr<PrivateBus> m_bus;
    QProcess m_pipeWire, m_wirePlumber, m_producer;
    PortalStandIn m_standIn;
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    InProcessCaller m_b;
    QWidget m_view;
    QTemporaryDir m_settings;
    QProcess m_a;
    ProcessLines m_aLines{m_a};
};

quint32 TestPortalShare::castNodeId()
{
    QProcess dump;
    dump.setProcessEnvironment(m_pipeWire.processEnvironment());
    dump.start(QStringLiteral("pw-dump"), {});
    if (!dump.waitForFinished(10000))
        return 0;
    for (const QJsonValue &o : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
        const QJsonObject props = o.toObject().value("info").toObject().value("props").toObject();
        if (props.value("node.name").toString() == castNode)
            return quint32(o.toObject().value("id").toInt());
    }
    return 0;
}

void TestPortalShare::startPipeWire()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
    env.remove(QStringLiteral("PIPEWIRE_REMOTE"));
    for (QProcess *p : {&m_pipeWire, &m_wirePlumber, &m_producer}) {
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
    }
    m_pipeWire.start(QStringLiteral("pipewire"), {});
    QVERIFY(m_pipeWire.waitForStarted());
    const QString socket = m_runtime.filePath(QStringLiteral("pipewire-0"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 15000);
    m_wirePlumber.start(QStringLiteral("wireplumber"), {});
    QVERIFY(m_wirePlumber.waitForStarted());
    m_standIn.openRemote = [socket] { return connectTo(socket); };
    startProducer();
}

void TestPortalShare::startProducer()
{
    // Without explicit raw caps the reading side waits for a format forever.
    m_producer.start(
        QStringLiteral("gst-launch-1.0"),
        {QStringLiteral("videotestsrc"), QStringLiteral("pattern=solid-color"),
         QStringLiteral("foreground-color=0xff%1")
             .arg(castPicture.rgb() & 0xffffff, 6, 16, QLatin1Char('0')),
         QStringLiteral("!"),
         QStringLiteral("video/x-raw,format=RGBx,width=640,height=360,framerate=10/1"),
         QStringLiteral("!"), QStringLiteral("pipewiresink"), QStringLiteral("mode=provide"),
         QStringLiteral("stream-properties=p,media.class=Video/Source,node.name=") + castNode});
    QVERIFY(m_producer.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(castNodeId() != 0, 30000);
    m_standIn.node = castNodeId();
    m_standIn.size = QSize(640, 360);
}

void TestPortalShare::initTestCase()
{
    for (const QString &why : {mediaUnavailable(), pipeWireUnavailable()}) {
        if (why.isEmpty())
            continue;
        // scripts/test installs them and runs where there is a network: there this is a failure.
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    m_bus = std::make_unique<PrivateBus>();
    QVERIFY2(!m_bus->address().isEmpty(), "dbus-daemon did not start");
    QVERIFY(m_standIn.serve(m_bus->connect(QStringLiteral("portal"))));
    startPipeWire();
    if (QTest::currentTestFailed())
        return;

    m_home = std::make_unique<TestHome>();
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));

    // B: this process, alice, in her own room.
    m_view.resize(640, 360);
    m_view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_view));
    const QString portal = m_services->portal();
    QVERIFY(m_b.signIn(portal, QStringLiteral("alice"), &m_view));
    QVERIFY(m_b.join(portal, 1002));

    // A: demo, in a Wayland session whose desktop portal is the stand-in.
    const QString settingsOfA = m_settings.filePath(QStringLiteral("a.ecf"));
    InProcessCaller::writeSettings(settingsOfA, "pictureColour=#203050\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-orvale-test"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
    // The camera's pictures stamped as the benchmarks stamp them: the share, which has no
    // camera, must go on all the same, and any GStreamer critical stops A.
    env.insert(QStringLiteral("ORVALE_FRAME_STAMPS"),
               m_settings.filePath(QStringLiteral("stamps")));
    env.insert(QStringLiteral("G_DEBUG"), QStringLiteral("fatal-criticals"));
    m_a.setProcessEnvironment(env);
    m_a.setProcessChannelMode(QProcess::MergedChannels); // its log tells what the portal said
    m_a.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(m_a.waitForStarted());
    QVERIFY(!fromA(QStringLiteral("ready")).isEmpty());
    tellA(QStringLiteral("login demo demo1234 ") + portal);
    QVERIFY(!fromA(QStringLiteral("loginSuccess")).isEmpty());
    tellA(QStringLiteral("settings ") + settingsOfA);
    tellA(QStringLiteral("join 1002"));
    QVERIFY(!fromA(QStringLiteral("conference")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 2,
                              15000);
}

void TestPortalShare::cleanupTestCase()
{
    stopDriver(m_a);
    const bool stopped = m_b.stop();
    for (QProcess *p : {&m_producer, &m_wirePlumber, &m_pipeWire}) {
        p->terminate();
        if (!p->waitForFinished(5000))
            p->kill();
    }
    QVERIFY(stopped);
}

void TestPortalShare::aShares()
{
    const int selections = m_standIn.selections;
    tellA(QStringLiteral("sharerow 0"));
    const QString list = fromA(QStringLiteral("sharelist:"));
    // The desktop's two kinds of source, each opening its chooser, then the row that ends a share.
    const QStringList rows = list.section(u':', 1).split(u'|');
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0), QStringLiteral("共享屏幕-全屏"));
    QCOMPARE(rows.at(1), QStringLiteral("共享窗口-选择窗口"));
    QTRY_VERIFY_WITH_TIMEOUT(m_standIn.selections > selections, 10000);
}

void TestPortalShare::bWatchesTheCastOfA()
{
    QCOMPARE(castShown(), 0.0);
    aShares();
    QVERIFY(!m_standIn.selected.contains(QStringLiteral("restore_token")));   // none kept yet
    QCOMPARE(m_standIn.selected.value(QStringLiteral("types")).toUInt(), 1u); // the screen
    QTRY_VERIFY_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetShareInRoom().size() == 2,
                             15000);
    TRQClientInEvent::ClientSyncRequestSetShareInRoom(0);
    QTRY_VERIFY_WITH_TIMEOUT(castShown() > 0.25, 20000);
    m_view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-portal-share.png")));
    QCOMPARE(sharesAtJanus(), 1);
}

void TestPortalShare::desktopEndsTheCast_data()
{
    QTest::addColumn<bool>("streamStops"); // else the desktop closes the session
    QTest::newRow("the desktop's own stop") << false;
    QTest::newRow("the PipeWire stream stops") << true;
}

void TestPortalShare::desktopEndsTheCast()
{
    QFETCH(bool, streamStops);
    if (sharesAtJanus() == 0) {
        aShares();
        QTRY_VERIFY_WITH_TIMEOUT(castShown() > 0.25, 20000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(sharesAtJanus(), 1, 20000);
    if (streamStops)
        m_producer.kill();
    else
        m_standIn.closeSession(); // the desktop's own "stop sharing"
    QTRY_COMPARE_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetShareInRoom().size(), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(castShown(), 0.0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(sharesAtJanus(), 0, 5000);
    if (streamStops) { // the desktop's picture for the next shares
        m_producer.waitForFinished();
        QTRY_COMPARE(castNodeId(), 0u);
        startProducer();
    }
}

void TestPortalShare::dismissedChooserSharesNothing()
{
    const int remotesOpened = m_standIn.remotesOpened;
    m_standIn.chooserResponse = 1;
    aShares();
    QVERIFY(!fromA(QStringLiteral("chooser was dismissed")).isEmpty());
    m_standIn.chooserResponse = 0;
    QCOMPARE(m_standIn.remotesOpened, remotesOpened);
    QCOMPARE(TRQClientInEvent::ClientSyncRequestGetShareInRoom().size(), 1);
    QCOMPARE(sharesAtJanus(), 0);
}

void TestPortalShare::nextShareSendsTheRestoreToken()
{
    aShares();
    QCOMPARE(m_standIn.selected.value(QStringLiteral("restore_token")).toString(),
             m_standIn.restoreToken);
    QTRY_VERIFY_WITH_TIMEOUT(TRQClientInEvent::ClientSyncRequestGetShareInRoom().size() == 2,
                             15000);
    QTRY_VERIFY_WITH_TIMEOUT(castShown() > 0.25, 20000);
}

QTEST_MAIN(TestPortalShare)
#include "tst_portalshare_e2e.moc"
