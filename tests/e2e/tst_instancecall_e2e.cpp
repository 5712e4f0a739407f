#include "tests/support/InProcessCaller.h"
#include "tests/support/JanusProbe.h"
#include "tests/support/LightPublisher.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/Needs.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "tests/support/TwoInstanceDeployment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <gst/gst.h>

#include <array>
#include <csignal>
#include <memory>

namespace {

constexpr qint64 reviewRoom = 2001; // PIN 1234 in the demo data
constexpr qint64 alice = 1002;
constexpr int toneOfAlice = 440, toneOfBob = 660;
constexpr double heard = 1500; // the tones are sent at about 9800

quint16 freePort(const QString &address)
{
    QTcpServer probe;
    return probe.listen(QHostAddress(address), 0) ? probe.serverPort() : 0;
}

/// A guest in the review room through an instance's conference WebSocket, with its URI and
/// media message, as an engine would be.
struct Guest
{
    QWebSocket socket;
    QJsonObject media;
    QString uri;

    void send(const QJsonObject &message)
    {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    bool join(const QString &portalHostPort, const QString &roomKey)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket,
                         [this](const QString &text) {
                             const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
                             if (m.value("type").toString() == u"conference")
                                 uri = m.value("uri").toString();
                             else if (m.value("type").toString() == u"media")
                                 media = m;
                         });
        socket.open(QUrl(QStringLiteral("ws://%1/conference").arg(portalHostPort)));
        if (!QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                             5000))
            return false;
        send({{"type", "guestJoin"}, {"roomKey", roomKey}, {"pin", "1234"}, {"name", "guest"}});
        return QTest::qWaitFor([this] { return media.value("available").toBool(); }, 10000);
    }
};

} // namespace

/// One call whose people are signed in to two instances of the deployment sharing a PostgreSQL
/// database, its media on one of two relays run elsewhere: alice's engine through instance 1
/// and bob's through instance 2 see and hear each other, and a share made through instance 1
/// reaches bob. The call's relay killed, both instances move their engines to the other one.
/// Instance 1 killed mid-call leaves bob in the call; alice shows offline and signs in again
/// at once through the TLS front, which balances over both instances.
class TestInstanceCallEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void picturesAndSoundCrossInstances();
    void pausedInstanceIsCountedAgain();
    void shareCrossesInstances();
    void callMovesOffAKilledRelay();
    void callAgainAfterEveryoneLeft();
    void killedInstanceLeavesTheCallToTheOther();

private:
    /// The pictures engine `driver` received of each participant's camera or share, by URI.
    QHash<QString, qint64> pictures(int driver, const QString &kind);
    bool camerasFlow(int driver, const QString &who);
    double soundAt(int driver, const QString &tag, int hz) const;
    void joinBoth();
    qsizetype inRoom(int relay) const
    {
        return JanusProbe(m_deployment->relay(relay).folder()).inRoom(reviewRoom).size();
    }
    void tell(int driver, const QString &line) { m_drivers[driver].write((line + u'\n').toUtf8()); }
    QString presence(qint64 entityId) const { return m_deployment->presence(entityId); }
    ServicesProcess &instance(int i) { return m_deployment->instance(i); }
    /// Runs `sql` on the database; its first value.
    qint64 query(const QString &sql)
    {
        QSqlQuery q(m_deployment->database().connection());
        return q.exec(sql) && q.next() ? q.value(0).toLongLong() : -1;
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<TwoInstanceDeployment> m_deployment;
    int m_relayInUse = 0; ///< the relay of the review room
    QTemporaryDir m_settings;
    std::array<QProcess, 3> m_drivers; ///< alice, bob, alice again through the front
    std::array<std::unique_ptr<ProcessLines>, 3> m_lines;
};

void TestInstanceCallEndToEnd::initTestCase()
{
    ORVALE_NEEDS(mediaUnavailable());
    ORVALE_NEEDS(PostgresServer::unavailable());
    gst_init(nullptr, nullptr);
    m_home = std::make_unique<TestHome>();
    // Side by side on loopback addresses of the test's own, the front's name the public one;
    // the relays on 127.0.0.1, as Janus binds only to an address an interface has.
    const TwoInstanceDeployment::Place here{testHost(), {}},
        loopback{QStringLiteral("127.0.0.1"), {}};
    m_deployment = std::make_unique<TwoInstanceDeployment>(TwoInstanceDeployment::Layout{
        here,
        {loopback, loopback},
        {TwoInstanceDeployment::Place{testHost(2), {}},
         TwoInstanceDeployment::Place{testHost(3), {}}},
        here,
        {freePort(testHost()), freePort(testHost()), 0, 0, freePort(QStringLiteral("127.0.0.1"))}});
    QString error;
    QVERIFY2(m_deployment->start(&error), qPrintable(error));

    const QList<std::pair<QString, int>> people{{QStringLiteral("alice"), toneOfAlice},
                                                {QStringLiteral("bob"), toneOfBob}};
    for (int i = 0; i < 2; ++i) {
        m_lines[i] = std::make_unique<ProcessLines>(m_drivers[i]);
        m_drivers[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_drivers[i].start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
        QVERIFY(m_drivers[i].waitForStarted());
        QVERIFY(!m_lines[i]->startingWith(QStringLiteral("ready"), 15000).isEmpty());
        tell(i, QStringLiteral("login %1 %1%2 %3")
                    .arg(people[i].first, QStringLiteral("1234"), instance(i).portal()));
        QVERIFY(!m_lines[i]->startingWith(QStringLiteral("loginSuccess"), 15000).isEmpty());
        const QString heardFolder = m_settings.filePath(QString::number(i));
        QVERIFY(QDir().mkpath(heardFolder));
        const QString path = m_settings.filePath(people[i].first + QStringLiteral(".ecf"));
        InProcessCaller::writeSettings(path, QStringLiteral("pictureColour=#%1\ntoneFrequency=%2\n"
                                                            "audioRecordFolder=%3\n")
                                                 .arg(i == 0 ? u"2050c0" : u"c03020")
                                                 .arg(people[i].second)
                                                 .arg(heardFolder)
                                                 .toUtf8());
        tell(i, QStringLiteral("settings ") + path);
    }
}

void TestInstanceCallEndToEnd::cleanupTestCase()
{
    for (QProcess &driver : m_drivers)
        stopDriver(driver);
    m_deployment.reset();
}

QHash<QString, qint64> TestInstanceCallEndToEnd::pictures(int driver, const QString &kind)
{
    m_lines[driver]->forget();
    tell(driver, QStringLiteral("details"));
    const QString details = m_lines[driver]->startingWith(QStringLiteral("details:"), 5000);
    QHash<QString, qint64> counts;
    auto it = QRegularExpression(kind + QStringLiteral(" of (\\S+) (\\d+)")).globalMatch(details);
    while (it.hasNext()) {
        const auto match = it.next();
        counts.insert(match.captured(1), match.captured(2).toLongLong());
    }
    return counts;
}

bool TestInstanceCallEndToEnd::camerasFlow(int driver, const QString &who)
{
    const auto of = [&](const QHash<QString, qint64> &counts) {
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (it.key().contains(u'-' + who + u';'))
                return it.value();
        }
        return qint64(-1);
    };
    // The count is read again as each look asks for the details: it has to grow from the first.
    qint64 first = -1;
    return QTest::qWaitFor(
        [&] {
            const qint64 now = of(pictures(driver, QStringLiteral("camera")));
            first = first < 0 ? now : first;
            return first >= 0 && now > first;
        },
        20000);
}

double TestInstanceCallEndToEnd::soundAt(int driver, const QString &tag, int hz) const
{
    return levelAt(m_settings.filePath(QStringLiteral("%1/%2.s16").arg(driver).arg(tag)), hz);
}

void TestInstanceCallEndToEnd::joinBoth()
{
    for (int i = 0; i < 2; ++i) {
        m_lines[i]->forget();
        tell(i, QStringLiteral("join %1 1234").arg(reviewRoom));
        QVERIFY(!m_lines[i]->startingWith(QStringLiteral("conference"), 15000).isEmpty());
    }
}

void TestInstanceCallEndToEnd::picturesAndSoundCrossInstances()
{
    joinBoth();
    // One room at the relay, both publishing in it, whichever instance admitted them.
    QTRY_COMPARE_WITH_TIMEOUT(inRoom(0) + inRoom(1), 2, 20000);
    m_relayInUse = inRoom(0) == 2 ? 0 : 1;
    QCOMPARE(inRoom(m_relayInUse), 2);
    // Their publisher ids, numbered in the database, each in its engine's session row.
    QCOMPARE(query(QStringLiteral("SELECT COUNT(DISTINCT publisherID) FROM sessions"
                                  " WHERE roomID = 2001 AND publisherID > 0")),
             2);
    QVERIFY(query(QStringLiteral("SELECT value FROM counters WHERE name = 'publisher'")) >= 4);
    // Each look takes a while: waited for by the clock, not by a count of looks.
    QVERIFY(camerasFlow(0, QStringLiteral("u1003")));
    QVERIFY(camerasFlow(1, QStringLiteral("u1002")));
    QTRY_VERIFY_WITH_TIMEOUT(soundAt(0, QStringLiteral("u1003"), toneOfBob) > heard, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(soundAt(1, QStringLiteral("u1002"), toneOfAlice) > heard, 20000);
}

/// Instance 1 held up past the heartbeat's bound is taken for stopped: alice is no longer
/// counted at the relay, nor her publishers known. Beating again, it brings back both.
void TestInstanceCallEndToEnd::pausedInstanceIsCountedAgain()
{
    const QString counted = QStringLiteral("SELECT participants FROM relayPlacements"
                                           " WHERE conference = 2001");
    const QString published = QStringLiteral("SELECT COUNT(*) FROM sessions"
                                             " WHERE roomID = 2001 AND publisherID > 0");
    QCOMPARE(query(counted), 2);
    const auto paused = pid_t(instance(0).processId());
    QVERIFY(::kill(paused, SIGSTOP) == 0);
    QTRY_COMPARE_WITH_TIMEOUT(query(published), 1, 15000);
    QCOMPARE(query(counted), 1);
    QVERIFY(::kill(paused, SIGCONT) == 0);
    QTRY_COMPARE_WITH_TIMEOUT(query(published), 2, 15000);
    QTRY_COMPARE(query(counted), 2);
}

/// A guest through instance 1 shares: bob's engine, through instance 2, receives the share.
void TestInstanceCallEndToEnd::shareCrossesInstances()
{
    Guest sharer;
    QVERIFY(sharer.join(QUrl(instance(0).portal()).authority(), instance(0).roomKey(reviewRoom)));
    sharer.send({{"type", "share"}, {"name", "window"}});
    LightPublisher share(sharer.media, sharer.media.value("shareId").toInteger(),
                         QStringLiteral("share:") + sharer.uri);
    share.start();
    QVERIFY(QTest::qWaitFor(
        [&] {
            return pictures(1, QStringLiteral("share")).value(sharer.uri) > 0 ||
                   !share.error().isEmpty();
        },
        20000));
    QVERIFY2(share.error().isEmpty(), qPrintable(share.error()));
}

/// The call's relay is killed: each instance moves its own engine to the other relay, where
/// they see each other again without leaving the call.
void TestInstanceCallEndToEnd::callMovesOffAKilledRelay()
{
    m_lines[0]->forget();
    m_lines[1]->forget();
    m_deployment->relay(m_relayInUse).kill();
    m_relayInUse = 1 - m_relayInUse;
    QTRY_COMPARE_WITH_TIMEOUT(inRoom(m_relayInUse), 2, 30000);
    QVERIFY(camerasFlow(0, QStringLiteral("u1003")));
    QVERIFY(camerasFlow(1, QStringLiteral("u1002")));
    for (int i = 0; i < 2; ++i)
        QVERIFY(m_lines[i]->startingWith(QStringLiteral("endConference"), 100).isEmpty());
}

/// Alice leaves, then bob, which ends the room at the relay: alice, back first through her
/// instance, gets a room there again, and bob joins her in it.
void TestInstanceCallEndToEnd::callAgainAfterEveryoneLeft()
{
    for (int i = 0; i < 2; ++i) {
        m_lines[i]->forget();
        tell(i, QStringLiteral("leave"));
        QVERIFY(!m_lines[i]->startingWith(QStringLiteral("endConference"), 15000).isEmpty());
    }
    QTRY_COMPARE_WITH_TIMEOUT(inRoom(m_relayInUse), 0, 20000);
    joinBoth();
    QTRY_COMPARE_WITH_TIMEOUT(inRoom(m_relayInUse), 2, 20000);
    QVERIFY(camerasFlow(0, QStringLiteral("u1003")));
    QVERIFY(camerasFlow(1, QStringLiteral("u1002")));
}

void TestInstanceCallEndToEnd::killedInstanceLeavesTheCallToTheOther()
{
    QCOMPARE(presence(alice), QStringLiteral("Busy"));
    m_lines[1]->forget();
    QVERIFY(m_deployment->killInstance(0));
    // Alice goes offline, and out of bob's call, which goes on.
    QTRY_COMPARE_WITH_TIMEOUT(presence(alice), QStringLiteral("Offline"), 15000);
    const auto people = [this] {
        m_lines[1]->forget();
        tell(1, QStringLiteral("participants"));
        return m_lines[1]->startingWith(QStringLiteral("people:"), 5000);
    };
    QVERIFY(QTest::qWaitFor([&] { return !people().contains(QStringLiteral("-u1002;")); }, 10000));
    QVERIFY(people().contains(QStringLiteral("-u1003;")));
    QVERIFY(m_lines[1]->startingWith(QStringLiteral("endConference"), 100).isEmpty());
    stopDriver(m_drivers[0]);

    // Alice signs in again at once through the front, which passes the dead instance over.
    const QString certificate = m_deployment->certificate();
    m_lines[2] = std::make_unique<ProcessLines>(m_drivers[2]);
    m_drivers[2].setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_drivers[2].start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(m_drivers[2].waitForStarted());
    QVERIFY(!m_lines[2]->startingWith(QStringLiteral("ready"), 15000).isEmpty());
    tell(2, QStringLiteral("trust ") + certificate);
    QVERIFY(!m_lines[2]->startingWith(QStringLiteral("trusting"), 15000).isEmpty());
    const QString path = m_settings.filePath(QStringLiteral("again.ecf"));
    InProcessCaller::writeSettings(path, "caFile=" + certificate.toUtf8() + "\n");
    tell(2, QStringLiteral("settings ") + path);
    tell(2, QStringLiteral("login alice alice1234 ") + m_deployment->front().base());
    QVERIFY(!m_lines[2]->startingWith(QStringLiteral("loginSuccess"), 15000).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(presence(alice), QStringLiteral("Online"), 10000);
    QVERIFY(m_lines[1]->startingWith(QStringLiteral("endConference"), 100).isEmpty());
    QVERIFY(people().contains(QStringLiteral("-u1003;")));
}

QTEST_MAIN(TestInstanceCallEndToEnd)
#include "tst_instancecall_e2e.moc"
