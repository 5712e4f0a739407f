#include "tests/support/InProcessCaller.h"
#include "tests/support/JanusProbe.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/Needs.h"
#include "tests/support/OutsideRelay.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <array>
#include <csignal>
#include <memory>

namespace {

constexpr qint64 reviewRoom = 2001; // PIN 1234 in the demo data
constexpr qint64 allHands = 2002;   // no PIN
constexpr int relayTimeoutMs = 1500;

/// A guest in a room through the conference service's WebSocket, with its media message.
struct Guest
{
    QWebSocket socket;
    QJsonObject media; ///< the last one
    int mediaMessages = 0;

    /// False when the service gave it no media within the time.
    bool join(const QString &portalHostPort, const QString &roomKey, const QString &pin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket,
                         [this](const QString &text) {
                             const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
                             if (m.value("type").toString() == u"media") {
                                 media = m;
                                 ++mediaMessages;
                             }
                         });
        socket.open(QUrl(QStringLiteral("ws://%1/conference").arg(portalHostPort)));
        if (!QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                             5000))
            return false;
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(QJsonObject{{"type", "guestJoin"},
                                                                           {"roomKey", roomKey},
                                                                           {"pin", pin},
                                                                           {"name", "g"}})
                                                     .toJson()));
        return QTest::qWaitFor([this] { return media.value("available").toBool(); }, 10000);
    }
};

} // namespace

/// A deployment whose calls go to two relays run elsewhere (two Janus processes on loopback,
/// none of its own): conferences spread over them by load, and a call on a relay that is
/// killed comes back on the other without anyone leaving it.
class TestRelaysEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void conferencesGoWhereFewestAre_data();
    void conferencesGoWhereFewestAre();
    void callMovesOffAKilledRelay();
    void silentRelayGetsNoNewConference();
    void onlyRelayKeepsItsCallsWhileSilent();

private:
    /// The relay URL a new guest of `room` is handed, its socket kept in m_guests.
    QString relayOfNewGuest(qint64 room);
    /// Whether `driver`'s engine receives the pictures of `who` ("u1002"): their count grows.
    bool picturesFlow(int driver, const QString &who);
    qint64 pictures(int driver, const QString &who);
    void tell(int driver, const QString &line) { m_drivers[driver].write((line + u'\n').toUtf8()); }

    std::unique_ptr<TestHome> m_home;
    std::array<std::unique_ptr<OutsideRelay>, 2> m_relays;
    std::array<QString, 2> m_urls;
    int m_killed = -1; ///< the relay stopped mid-call
    std::unique_ptr<ServicesProcess> m_services;
    std::vector<std::unique_ptr<Guest>> m_guests;
    QTemporaryDir m_settings;
    std::array<QProcess, 2> m_drivers;
    std::array<std::unique_ptr<ProcessLines>, 2> m_lines;
};

void TestRelaysEndToEnd::initTestCase()
{
    ORVALE_NEEDS(mediaUnavailable());
    m_home = std::make_unique<TestHome>();
    QStringList entries;
    for (int i = 0; i < 2; ++i) {
        m_relays[i] = std::make_unique<OutsideRelay>(QStringLiteral("127.0.0.1"));
        QString why;
        QVERIFY2(m_relays[i]->start(&why), qPrintable(why));
        m_urls[i] = m_relays[i]->url();
        entries.append(m_relays[i]->entry());
    }
    m_services = std::make_unique<ServicesProcess>(
        QStringLiteral(ORVALE_SERVICES), testHost(),
        QStringList{QStringLiteral("--no-local-relay"), QStringLiteral("--relays"),
                    entries.join(u' '), QStringLiteral("--relay-timeout"),
                    QString::number(relayTimeoutMs)});
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));
    const QList<std::pair<QString, QByteArray>> people{
        {QStringLiteral("alice"), "pictureColour=#2050c0\ntoneFrequency=440\n"},
        {QStringLiteral("bob"), "pictureColour=#c03020\ntoneFrequency=660\n"}};
    for (int i = 0; i < 2; ++i) {
        m_lines[i] = std::make_unique<ProcessLines>(m_drivers[i]);
        m_drivers[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_drivers[i].start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
        QVERIFY(m_drivers[i].waitForStarted());
        QVERIFY(!m_lines[i]->startingWith(QStringLiteral("ready"), 15000).isEmpty());
        tell(i, QStringLiteral("login %1 %1%2 %3")
                    .arg(people[i].first, QStringLiteral("1234"), m_services->portal()));
        QVERIFY(!m_lines[i]->startingWith(QStringLiteral("loginSuccess"), 15000).isEmpty());
        const QString settings = m_settings.filePath(people[i].first + QStringLiteral(".ecf"));
        InProcessCaller::writeSettings(settings, people[i].second);
        tell(i, QStringLiteral("settings ") + settings);
    }
}

void TestRelaysEndToEnd::cleanupTestCase()
{
    for (QProcess &driver : m_drivers)
        stopDriver(driver);
    m_guests.clear();
    m_services.reset();
    for (auto &relay : m_relays)
        relay.reset();
}

QString TestRelaysEndToEnd::relayOfNewGuest(qint64 room)
{
    m_guests.push_back(std::make_unique<Guest>());
    const bool pin = room == reviewRoom;
    if (!m_guests.back()->join(QUrl(m_services->portal()).authority(), m_services->roomKey(room),
                               pin ? QStringLiteral("1234") : QString()))
        return {};
    return m_guests.back()->media.value("url").toString();
}

qint64 TestRelaysEndToEnd::pictures(int driver, const QString &who)
{
    m_lines[driver]->forget();
    tell(driver, QStringLiteral("details"));
    const QString details = m_lines[driver]->startingWith(QStringLiteral("details:"), 5000);
    const auto match =
        QRegularExpression(QStringLiteral("camera of \\S*-%1;\\S* (\\d+)").arg(who)).match(details);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

bool TestRelaysEndToEnd::picturesFlow(int driver, const QString &who)
{
    // The count has to grow from the first one read.
    qint64 first = -1;
    return QTest::qWaitFor(
        [&] {
            const qint64 now = pictures(driver, who);
            first = first < 0 ? now : first;
            return first >= 0 && now > first;
        },
        20000);
}

void TestRelaysEndToEnd::conferencesGoWhereFewestAre_data()
{
    QTest::addColumn<qint64>("room");
    QTest::addColumn<int>("relay");
    // Both relays empty: the first named takes the first conference; the next conference goes
    // to the other, emptier one; a newcomer follows its conference, whatever the load.
    QTest::newRow("first conference") << allHands << 0;
    QTest::newRow("second conference") << reviewRoom << 1;
    QTest::newRow("into the second again") << reviewRoom << 1;
}

void TestRelaysEndToEnd::conferencesGoWhereFewestAre()
{
    QFETCH(qint64, room);
    QFETCH(int, relay);
    QCOMPARE(relayOfNewGuest(room), m_urls[relay]);
    if (QTest::currentDataTag() == QByteArray("into the second again"))
        m_guests.clear(); // the conferences end
}

void TestRelaysEndToEnd::callMovesOffAKilledRelay()
{
    for (int i = 0; i < 2; ++i) {
        m_lines[i]->forget();
        tell(i, QStringLiteral("join %1 1234").arg(reviewRoom));
        QVERIFY(!m_lines[i]->startingWith(QStringLiteral("conference"), 15000).isEmpty());
    }
    const auto inRoom = [this](int relay) {
        return JanusProbe(m_relays[relay]->folder()).inRoom(reviewRoom).size();
    };
    QTRY_COMPARE_WITH_TIMEOUT(inRoom(0) + inRoom(1), 2, 20000);
    m_killed = inRoom(0) == 2 ? 0 : 1;
    QCOMPARE(inRoom(m_killed), 2);
    QVERIFY(picturesFlow(0, QStringLiteral("u1003")));
    QVERIFY(picturesFlow(1, QStringLiteral("u1002")));

    m_relays[m_killed]->kill();
    // Both engines are told of the room on the other relay, join it and publish there, and
    // each other's pictures flow again; neither left the call.
    QTRY_COMPARE_WITH_TIMEOUT(inRoom(1 - m_killed), 2, 30000);
    QVERIFY(picturesFlow(0, QStringLiteral("u1003")));
    QVERIFY(picturesFlow(1, QStringLiteral("u1002")));
    for (int i = 0; i < 2; ++i)
        QVERIFY(m_lines[i]->startingWith(QStringLiteral("endConference"), 100).isEmpty());
}

/// The relay killed above is the emptier one but gets no new conference.
void TestRelaysEndToEnd::silentRelayGetsNoNewConference()
{
    QVERIFY(m_killed >= 0);
    QCOMPARE(relayOfNewGuest(allHands), m_urls[1 - m_killed]);
}

/// The relay left is stopped for longer than the deployment waits for its answers: with no other
/// to go to, its calls stay on it, and go on once it answers again.
void TestRelaysEndToEnd::onlyRelayKeepsItsCallsWhileSilent()
{
    QVERIFY(m_killed >= 0 && !m_guests.empty());
    const Guest &guest = *m_guests.back(); // in a conference on the relay left
    const int mediaMessages = guest.mediaMessages;
    const pid_t janus = pid_t(m_relays[1 - m_killed]->janusPid());
    const auto silences = [this] {
        return m_services->output().count(QStringLiteral("does not answer"));
    };
    const qsizetype before = silences();
    QVERIFY(::kill(janus, SIGSTOP) == 0);
    // Stopped until the deployment takes it for silent: its calls have nowhere else to go.
    QTRY_VERIFY_WITH_TIMEOUT(silences() > before, 10 * relayTimeoutMs);
    QVERIFY(::kill(janus, SIGCONT) == 0);
    QVERIFY(picturesFlow(0, QStringLiteral("u1003")));
    QVERIFY(picturesFlow(1, QStringLiteral("u1002")));
    QCOMPARE(guest.mediaMessages, mediaMessages); // never told of another relay, nor of none
}

QTEST_MAIN(TestRelaysEndToEnd)
#include "tst_relays_e2e.moc"
