// The conference service as an engine meets it on its WebSocket. Messages, field names and codes
// are written out as services/ConferenceProtocol.md documents them, on purpose: a changed name
// among the shared definitions shows up here as a change of the wire format.

#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "tests/support/TcpRelay.h"
#include "tests/support/TestDeployment.h"
#include "tests/support/TestHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

/// One engine's connection to the conference service, as the test drives it.
class Engine final : public QObject
{
public:
    explicit Engine(const QString &url)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            received.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        socket.open(QUrl(url));
    }
    bool connected()
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                               5000);
    }
    void send(const QJsonObject &message)
    {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    /// The next message of `type`, waiting for it; an empty object when none comes.
    QJsonObject next(const QString &type, int timeout = 5000)
    {
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                for (qsizetype i = 0; i < received.size(); ++i) {
                    if (received[i].value(QStringLiteral("type")).toString() == type) {
                        found = received.takeAt(i);
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return found;
    }
    /// Whether a message of `type` has come. The service answers an unknown message with an
    /// error, and one socket's messages arrive in order: once that answer is in, everything the
    /// service sent before it is too.
    bool has(const QString &type)
    {
        send({{"type", "orvale-test-marker"}});
        if (next(QStringLiteral("error")).isEmpty())
            return false;
        for (const QJsonObject &m : received)
            if (m.value(QStringLiteral("type")).toString() == type)
                return true;
        return false;
    }

    QWebSocket socket;
    QList<QJsonObject> received;
};

class TestConferenceHub : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void signIn_data();
    void signIn();
    void secondSignInReplacesFirst();
    void guestJoin_data();
    void guestJoin();
    void roomChatAndShares();
    void callAndPortalMute();
    void presenceFollowsEngines();
    void silentEngineIsDropped();
    void badMessagesAreAnswered();

private:
    std::unique_ptr<Engine> engine(const QString &user = {}, const QString &password = {});
    bool portalJoin(const QString &user, const QString &password, qint64 room,
                    const QString &action = QStringLiteral("JoinConferenceRequest"),
                    const QString &body = {});
    QString url() const
    {
        return QStringLiteral("ws://127.0.0.1:%1/conference").arg(m_host->config().portalPort);
    }

    std::unique_ptr<TestHome> m_home;
    /// A room's key: the deployment makes them at random.
    QString keyOf(qint64 room) const { return m_host->database().entry(room)->roomKey; }

    std::unique_ptr<TestDeployment> m_deployment;
    ServiceHost *m_host = nullptr;
};

void TestConferenceHub::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    m_deployment = std::make_unique<TestDeployment>();
    m_host = m_deployment->host();
    QVERIFY(m_host);
    AppStatus::shareStatus()->setIsSignIn(true);
}

std::unique_ptr<Engine> TestConferenceHub::engine(const QString &user, const QString &password)
{
    auto e = std::make_unique<Engine>(url());
    if (!e->connected())
        return nullptr;
    if (!user.isEmpty()) {
        e->send({{"type", "signIn"}, {"user", user}, {"password", password}});
        if (e->next(QStringLiteral("signedIn")).isEmpty())
            return nullptr;
    }
    return e;
}

bool TestConferenceHub::portalJoin(const QString &user, const QString &password, qint64 room,
                                   const QString &action, const QString &body)
{
    const QString text = body.isEmpty()
                             ? QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>%1</"
                                              "ns1:conferenceID></ns1:JoinConferenceRequest>")
                                   .arg(room)
                             : body;
    NetWork *request = NetWork::initWithUrlString(
        m_host->config().portalBase() + QStringLiteral("/services/v1_1/PortalUserService"), text,
        action);
    request->setAuth(LoginRequest::authorization(user, password));
    bool done = false, ok = false;
    request->setSuccessBlock(QCoreApplication::instance(),
                             [&](const QVariant &) { done = ok = true; });
    request->setFailBlock(QCoreApplication::instance(), [&](const NetworkError &) { done = true; });
    request->startRequest();
    return QTest::qWaitFor([&] { return done; }, 10000) && ok;
}

void TestConferenceHub::signIn_data()
{
    TestDeployment::addSignInRows();
}

void TestConferenceHub::signIn()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    auto e = engine();
    QVERIFY(e);
    e->send({{"type", "signIn"}, {"user", user}, {"password", password}});
    if (accepted) {
        const QJsonObject reply = e->next(QStringLiteral("signedIn"));
        QVERIFY(reply.value("uri").toString().contains(QStringLiteral("-u1001;")));
        QCOMPARE(reply.value("displayName").toString(), QStringLiteral("演示用户"));
    } else {
        QCOMPARE(e->next(QStringLiteral("signInFailed")).value("code").toInt(), 401);
    }
}

void TestConferenceHub::secondSignInReplacesFirst()
{
    auto first = engine(QStringLiteral("dave"), QStringLiteral("dave1234"));
    QVERIFY(first);
    auto second = engine(QStringLiteral("dave"), QStringLiteral("dave1234"));
    QVERIFY(second);
    QCOMPARE(first->next(QStringLiteral("signedOut")).value("reason").toInt(), 2);
    QVERIFY(!second->has(QStringLiteral("signedOut")));
}

void TestConferenceHub::guestJoin_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("pin");
    QTest::addColumn<int>("result");
    QTest::newRow("open room") << keyOf(2002) << "" << 0;
    QTest::newRow("room with PIN") << keyOf(2001) << "1234" << 0;
    QTest::newRow("wrong PIN") << keyOf(2001) << "1" << 1007;
    QTest::newRow("unknown key") << QStringLiteral("NoSuchRoom") << "" << 1007;
    QTest::newRow("full room") << keyOf(2003) << "" << 1021;
}

void TestConferenceHub::guestJoin()
{
    QFETCH(QString, key);
    QFETCH(QString, pin);
    QFETCH(int, result);
    auto guest = engine();
    QVERIFY(guest);
    guest->send({{"type", "guestJoin"}, {"roomKey", key}, {"pin", pin}, {"name", "访客小王"}});
    QCOMPARE(guest->next(QStringLiteral("roomLink")).value("result").toInt(), result);
    if (result != 0)
        return;
    QVERIFY(!guest->next(QStringLiteral("conference")).isEmpty());
    const QJsonArray people =
        guest->next(QStringLiteral("participants")).value("participants").toArray();
    QCOMPARE(people.size(), 1);
    QCOMPARE(people[0].toObject().value("name").toString(), QStringLiteral("访客小王"));
    guest->send({{"type", "leave"}});
    QVERIFY(!guest->next(QStringLiteral("conferenceEnded")).isEmpty());
}

void TestConferenceHub::roomChatAndShares()
{
    auto demo = engine(QStringLiteral("demo"), QStringLiteral("demo1234"));
    QVERIFY(demo);
    QVERIFY(portalJoin(QStringLiteral("demo"), QStringLiteral("demo1234"), 2002));
    QCOMPARE(demo->next(QStringLiteral("conference")).value("roomID").toString(),
             QStringLiteral("2002"));
    auto guest = engine();
    guest->send({{"type", "guestJoin"}, {"roomKey", keyOf(2002)}, {"name", "Guest"}});
    const QJsonArray both =
        guest->next(QStringLiteral("participants")).value("participants").toArray();
    QCOMPARE(both.size(), 2);
    QString demoUri;
    for (const QJsonValue &p : both)
        if (p.toObject().value("participantID").toString() == u"u1001")
            demoUri = p.toObject().value("uri").toString();
    QVERIFY(!demoUri.isEmpty());

    guest->send({{"type", "chat"}, {"to", ""}, {"text", "大家好"}});
    QJsonObject chat = demo->next(QStringLiteral("chat"));
    QCOMPARE(chat.value("text").toString(), QStringLiteral("大家好"));
    QCOMPARE(chat.value("private").toBool(), false);
    const QString guestUri = chat.value("from").toString();
    demo->send(
        {{"type", "chat"}, {"to", guestUri}, {"text", "#TRQCOMMAND#u1001#3&BlockSpeakerStateOK"}});
    chat = guest->next(QStringLiteral("chat"));
    QVERIFY(chat.value("private").toBool());
    QCOMPARE(chat.value("from").toString(), demoUri);

    demo->send({{"type", "share"}, {"name", "屏幕 1"}});
    QJsonObject share = guest->next(QStringLiteral("shareStarted"));
    QCOMPARE(share.value("uri").toString(), demoUri);
    QCOMPARE(share.value("name").toString(), QStringLiteral("屏幕 1"));
    demo->send({{"type", "stopShare"}});
    QCOMPARE(guest->next(QStringLiteral("shareEnded")).value("uri").toString(), demoUri);

    demo->send({{"type", "leave"}});
    QVERIFY(!demo->next(QStringLiteral("conferenceEnded")).isEmpty());
    QCOMPARE(guest->next(QStringLiteral("participants")).value("participants").toArray().size(), 1);
}

void TestConferenceHub::callAndPortalMute()
{
    auto demo = engine(QStringLiteral("demo"), QStringLiteral("demo1234"));
    auto alice = engine(QStringLiteral("alice"), QStringLiteral("alice1234"));
    QVERIFY(demo && alice);
    QVERIFY(portalJoin(QStringLiteral("demo"), QStringLiteral("demo1234"), 1002)); // alice's room
    QVERIFY(!demo->next(QStringLiteral("conference")).isEmpty());
    QCOMPARE(alice->next(QStringLiteral("incomingCall")).value("caller").toString(),
             QStringLiteral("演示用户"));
    alice->send({{"type", "answer"}, {"accept", true}});
    QVERIFY(!alice->next(QStringLiteral("conference")).isEmpty());
    QTRY_COMPARE(m_host->database().entry(1002)->presence, QStringLiteral("Busy"));

    const QString mute =
        QStringLiteral("<ns1:MuteAudioRequest><ns1:conferenceID>1002</ns1:conferenceID>"
                       "<ns1:participantID>u1001</ns1:participantID></ns1:MuteAudioRequest>");
    QVERIFY(portalJoin(QStringLiteral("alice"), QStringLiteral("alice1234"), 0,
                       QStringLiteral("MuteAudioRequest"), mute));
    QCOMPARE(demo->next(QStringLiteral("farEndMute")).value("muted").toBool(), true);
}

void TestConferenceHub::presenceFollowsEngines()
{
    QCOMPARE(m_host->database().entry(1006)->presence, QStringLiteral("Offline"));
    auto erin = engine(QStringLiteral("erin"), QStringLiteral("erin1234"));
    QVERIFY(erin);
    QTRY_COMPARE(m_host->database().entry(1006)->presence, QStringLiteral("Online"));
    erin->send({{"type", "signOut"}});
    QVERIFY(!erin->next(QStringLiteral("signedOut")).isEmpty());
    QTRY_COMPARE(m_host->database().entry(1006)->presence, QStringLiteral("Offline"));
    auto again = engine(QStringLiteral("erin"), QStringLiteral("erin1234"));
    QTRY_COMPARE(m_host->database().entry(1006)->presence, QStringLiteral("Online"));
    again->socket.close();
    QTRY_COMPARE(m_host->database().entry(1006)->presence, QStringLiteral("Offline"));
}

void TestConferenceHub::silentEngineIsDropped()
{
    ConferenceHub &hub = m_host->conferenceHub();
    hub.setKeepAlive(200, 1500);
    const auto restore = qScopeGuard([&] {
        hub.setKeepAlive(m_host->config().pingIntervalMs, m_host->config().silenceLimitMs);
    });
    const auto rosterOf = [](Engine &e, qsizetype size) {
        return QTest::qWaitFor(
            [&] {
                return e.next(QStringLiteral("participants"), 200)
                           .value("participants")
                           .toArray()
                           .size() == size;
            },
            10000);
    };
    auto watcher = engine(); // a live engine in the room, answering every ping
    QVERIFY(watcher);
    watcher->send({{"type", "guestJoin"}, {"roomKey", keyOf(2002)}, {"name", "Watcher"}});
    QVERIFY(rosterOf(*watcher, 1));

    // Bob reaches the service through a relay that then goes silent, closing nothing.
    TcpRelay relay(m_host->config().portalPort);
    Engine bob(QStringLiteral("ws://127.0.0.1:%1/conference").arg(relay.port()));
    QVERIFY(bob.connected());
    bob.send({{"type", "signIn"}, {"user", "bob"}, {"password", "bob1234"}});
    QVERIFY(!bob.next(QStringLiteral("signedIn")).isEmpty());
    QVERIFY(portalJoin(QStringLiteral("bob"), QStringLiteral("bob1234"), 2002));
    QVERIFY(rosterOf(*watcher, 2));
    QCOMPARE(m_host->database().entry(1003)->presence, QStringLiteral("Busy"));

    relay.freeze();
    QVERIFY(rosterOf(*watcher, 1));
    QTRY_COMPARE(m_host->database().entry(1003)->presence, QStringLiteral("Offline"));
    QCOMPARE(bob.socket.state(), QAbstractSocket::ConnectedState); // never closed on its side
    QCOMPARE(hub.occupancy(2002), 1);                              // the live engine stays
    watcher->send({{"type", "leave"}});
    QVERIFY(!watcher->next(QStringLiteral("conferenceEnded")).isEmpty());
}

void TestConferenceHub::badMessagesAreAnswered()
{
    auto e = engine();
    QVERIFY(e);
    e->socket.sendTextMessage(QStringLiteral("not json"));
    QVERIFY(!e->next(QStringLiteral("error")).isEmpty());
    e->send({{"type", "chat"}, {"text", "x"}}); // before signing in
    QVERIFY(!e->next(QStringLiteral("error")).isEmpty());
    e->socket.sendTextMessage(QString(20000, u'x'));                    // beyond the message limit
    QTRY_COMPARE(e->socket.state(), QAbstractSocket::UnconnectedState); // turned away
    auto fresh = engine(QStringLiteral("demo"), QStringLiteral("demo1234"));
    QVERIFY(fresh); // the service is still there
}

QTEST_GUILESS_MAIN(TestConferenceHub)
#include "tst_conferencehub.moc"
