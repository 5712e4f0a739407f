#include "engine/ScreenCastPortal.h"
#include "engine/ScreenCastSources.h"
#include "tests/support/PortalStandIn.h"

#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

/// The portal handshake against a stand-in desktop portal on a bus of the test's own.
class TestScreenCastPortal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void castsTheChosenSource_data();
    void castsTheChosenSource();
    void restoreTokenSkipsTheChooserNextTime();
    void cursorIsEmbeddedOnlyWhereOffered();
    void dismissedChooserCastsNothing_data();
    void dismissedChooserCastsNothing();
    void desktopEndingTheCastIsReported();
    void sourceTypesAreThePortals();

private:
    PrivateBus m_bus;
    PortalStandIn *m_standIn = nullptr;
    ScreenCastPortal *m_portal = nullptr;
    int m_pipe[2] = {-1, -1};
    int m_connections = 0;
};

void TestScreenCastPortal::initTestCase()
{
    QVERIFY2(!m_bus.address().isEmpty(), "dbus-daemon did not start");
    QVERIFY(::pipe(m_pipe) == 0);
}

void TestScreenCastPortal::init()
{
    const QString name = QStringLiteral("c%1").arg(++m_connections);
    m_standIn = new PortalStandIn;
    QVERIFY(m_standIn->serve(m_bus.connect(QStringLiteral("portal") + name)));
    m_standIn->node = 42;
    m_standIn->size = QSize(640, 360);
    m_standIn->remote = QDBusUnixFileDescriptor(m_pipe[1]);
    m_portal = new ScreenCastPortal(m_bus.connect(QStringLiteral("client") + name));
}

void TestScreenCastPortal::cleanup()
{
    delete m_portal;
    const QString name = QStringLiteral("c%1").arg(m_connections);
    QDBusConnection::disconnectFromBus(QStringLiteral("client") + name);
    delete m_standIn;
    QDBusConnection::disconnectFromBus(QStringLiteral("portal") + name);
}

void TestScreenCastPortal::castsTheChosenSource_data()
{
    QTest::addColumn<ScreenCastPortal::SourceType>("type");
    QTest::newRow("screen") << ScreenCastPortal::Monitor;
    QTest::newRow("window") << ScreenCastPortal::Window;
}

void TestScreenCastPortal::castsTheChosenSource()
{
    QFETCH(ScreenCastPortal::SourceType, type);
    QSignalSpy started(m_portal, &ScreenCastPortal::started);
    QSignalSpy token(m_portal, &ScreenCastPortal::restoreTokenChanged);
    m_portal->start(type, QString());
    QVERIFY(started.wait());
    QCOMPARE(started.first().at(1).value<quint32>(), 42u);
    QCOMPARE(started.first().at(2).toSize(), QSize(640, 360));
    // The remote handed over is the stand-in's: the same open file.
    struct stat given
    {
    }, handed{};
    QVERIFY(::fstat(m_pipe[1], &given) == 0);
    QVERIFY(::fstat(started.first().at(0).value<QDBusUnixFileDescriptor>().fileDescriptor(),
                    &handed) == 0);
    QCOMPARE(handed.st_ino, given.st_ino);
    const QVariantMap &s = m_standIn->selected;
    QCOMPARE(s.value("types").toUInt(), uint(type));
    QCOMPARE(s.value("multiple").toBool(), false);
    QCOMPARE(s.value("persist_mode").toUInt(), 2u);
    QVERIFY(!s.contains("restore_token"));
    QCOMPARE(token.size(), 1);
    QCOMPARE(token.first().at(0).toString(), m_standIn->restoreToken);
}

void TestScreenCastPortal::restoreTokenSkipsTheChooserNextTime()
{
    QSignalSpy started(m_portal, &ScreenCastPortal::started);
    m_portal->start(ScreenCastPortal::Monitor, QStringLiteral("kept"));
    QVERIFY(started.wait());
    QCOMPARE(m_standIn->selected.value("restore_token").toString(), QStringLiteral("kept"));
}

void TestScreenCastPortal::cursorIsEmbeddedOnlyWhereOffered()
{
    QSignalSpy started(m_portal, &ScreenCastPortal::started);
    m_portal->start(ScreenCastPortal::Monitor, QString());
    QVERIFY(started.wait());
    QCOMPARE(m_standIn->selected.value("cursor_mode").toUInt(), 2u);
    m_standIn->cursorModes = 1; // hidden only
    m_portal->start(ScreenCastPortal::Monitor, QString());
    QVERIFY(started.wait());
    QVERIFY(!m_standIn->selected.contains("cursor_mode"));
}

void TestScreenCastPortal::dismissedChooserCastsNothing_data()
{
    QTest::addColumn<uint>("response");
    QTest::newRow("cancelled") << 1u;
    QTest::newRow("declined") << 2u;
}

void TestScreenCastPortal::dismissedChooserCastsNothing()
{
    QFETCH(uint, response);
    m_standIn->chooserResponse = response;
    QSignalSpy started(m_portal, &ScreenCastPortal::started);
    QSignalSpy cancelled(m_portal, &ScreenCastPortal::cancelled);
    m_portal->start(ScreenCastPortal::Window, QString());
    QVERIFY(cancelled.wait());
    QCOMPARE(started.size(), 0);
    QCOMPARE(m_standIn->remotesOpened, 0);
}

void TestScreenCastPortal::desktopEndingTheCastIsReported()
{
    QSignalSpy started(m_portal, &ScreenCastPortal::started);
    QSignalSpy closed(m_portal, &ScreenCastPortal::closed);
    m_portal->start(ScreenCastPortal::Monitor, QString());
    QVERIFY(started.wait());
    m_standIn->closeSession();
    QVERIFY(closed.wait());
}

/// The portal is asked without waiting: the stand-in, on this thread, can answer only once the
/// asking has returned. Its answer, a change it announces, and it leaving and coming back are
/// each heard.
void TestScreenCastPortal::sourceTypesAreThePortals()
{
    m_standIn->sourceTypes = ScreenCastPortal::Window;
    ScreenCastSources sources(m_bus.connect(QStringLiteral("asking")));
    QSignalSpy changed(&sources, &ScreenCastSources::changed);
    QCOMPARE(sources.types(), 0u); // not known yet
    QVERIFY(changed.wait());
    QCOMPARE(sources.types(), uint(ScreenCastPortal::Window));

    m_standIn->setSourceTypes(ScreenCastPortal::Monitor | ScreenCastPortal::Window);
    QVERIFY(changed.wait());
    QCOMPARE(sources.types(), uint(ScreenCastPortal::Monitor | ScreenCastPortal::Window));

    delete m_standIn; // no portal on the bus
    m_standIn = nullptr;
    QDBusConnection::disconnectFromBus(QStringLiteral("portalc%1").arg(m_connections));
    QVERIFY(changed.wait());
    QCOMPARE(sources.types(), 0u);

    m_standIn = new PortalStandIn; // a portal started again, offering less
    m_standIn->sourceTypes = ScreenCastPortal::Monitor;
    QVERIFY(m_standIn->serve(m_bus.connect(QStringLiteral("portalc%1").arg(m_connections))));
    QVERIFY(changed.wait());
    QCOMPARE(sources.types(), uint(ScreenCastPortal::Monitor));
    QDBusConnection::disconnectFromBus(QStringLiteral("asking"));
}

QTEST_GUILESS_MAIN(TestScreenCastPortal)
#include "tst_screencastportal.moc"
