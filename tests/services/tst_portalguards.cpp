// What the deployment guards: room PINs and keys, password checks (their cost and their
// throttling), and answers that say when an operation found nothing to act on.

#include "services/PasswordHash.h"
#include "services/ServiceDatabase.h"
#include "services/ServiceHost.h"
#include "services/Throttle.h"
#include "tests/support/TestDeployment.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>
#include <QWebSocket>

namespace {

struct Answer
{
    int status = 0;
    QString body;
};

QByteArray envelope(const QString &operation)
{
    return QStringLiteral("<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
                          "xmlns:ns1=\"http://portal.orvale.example/\"><e:Body>%1</e:Body>"
                          "</e:Envelope>")
        .arg(operation)
        .toUtf8();
}

/// An engine's WebSocket as the test drives it; messages are kept in arrival order.
class Socket final : public QObject
{
public:
    explicit Socket(quint16 port)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            received.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/conference").arg(port)));
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
    /// Waits for the answer to a message the service does not know: everything it sent at
    /// once before that answer has arrived by then.
    bool settled()
    {
        const qsizetype before = received.size();
        send({{"type", "orvale-test-marker"}});
        return QTest::qWaitFor(
            [&] {
                for (qsizetype i = before; i < received.size(); ++i)
                    if (received[i].value("type").toString() == u"error")
                        return true;
                return false;
            },
            5000);
    }
    int count(const QString &type) const
    {
        int n = 0;
        for (const QJsonObject &m : received)
            n += m.value("type").toString() == type ? 1 : 0;
        return n;
    }
    QJsonObject last(const QString &type) const
    {
        for (qsizetype i = received.size() - 1; i >= 0; --i)
            if (received[i].value("type").toString() == type)
                return received[i];
        return {};
    }

    QWebSocket socket;
    QList<QJsonObject> received;
};

} // namespace

class TestPortalGuards : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void roomSecrets_data();
    void roomSecrets();
    void guessesAreSlowedThenLockedOut_data();
    void guessesAreSlowedThenLockedOut();
    void everyFailedNameCostsOneCheck_data();
    void everyFailedNameCostsOneCheck();
    void rememberedCredentialsFollowTheStoredHash();
    void answersSayWhatHappened_data();
    void answersSayWhatHappened();
    void roomStatusCountsWhoIsIn();
    void throttleCounts_data();
    void throttleCounts();
    void throttleMemoryIsBounded();
    void clientAddress_data();
    void clientAddress();

private:
    Answer portal(const QString &user, const QString &password, const QString &operation,
                  ServiceHost *host = nullptr);
    QString keyOf(qint64 room) const { return m_host->database().entry(room)->roomKey; }
    std::unique_ptr<Socket> signedIn(const QString &user, const QString &password);

    QNetworkAccessManager m_network;
    std::unique_ptr<TestDeployment> m_deployment;
    ServiceHost *m_host = nullptr;
};

void TestPortalGuards::initTestCase()
{
    m_deployment = std::make_unique<TestDeployment>();
    m_host = m_deployment->host();
    QVERIFY(m_host);
}

Answer TestPortalGuards::portal(const QString &user, const QString &password,
                                const QString &operation, ServiceHost *host)
{
    host = host ? host : m_host;
    QNetworkRequest request(
        QUrl(host->config().portalBase() + QStringLiteral("/services/v1_1/PortalUserService")));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/soap+xml; charset=utf-8"));
    request.setRawHeader("Authorization", "Basic " + (user + u':' + password).toUtf8().toBase64());
    QNetworkReply *reply = m_network.post(request, envelope(operation));
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    Answer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                  QString::fromUtf8(reply->readAll())};
    reply->deleteLater();
    return answer;
}

std::unique_ptr<Socket> TestPortalGuards::signedIn(const QString &user, const QString &password)
{
    auto socket = std::make_unique<Socket>(m_host->config().portalPort);
    if (!socket->connected())
        return nullptr;
    socket->send({{"type", "signIn"}, {"user", user}, {"password", password}});
    if (!QTest::qWaitFor([&] { return socket->count(QStringLiteral("signedIn")) == 1; }, 10000))
        return nullptr;
    return socket;
}

void TestPortalGuards::roomSecrets_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<qint64>("room");
    QTest::addColumn<QString>("pin"); // the PIN the invitation shows; empty: none is shown
    QTest::addColumn<bool>("invited");
    QTest::addColumn<bool>("keyShown");
    QTest::newRow("owner of a room with a PIN") << "demo" << qint64(2001) << "1234" << true << true;
    QTest::newRow("member, room with a PIN") << "alice" << qint64(2001) << "" << false << false;
    QTest::newRow("member, open room") << "alice" << qint64(2002) << "" << false << true;
    QTest::newRow("own room with a PIN") << "grace" << qint64(1008) << "2468" << true << true;
    QTest::newRow("another's room with a PIN") << "demo" << qint64(1008) << "" << false << false;
}

void TestPortalGuards::roomSecrets()
{
    QFETCH(QString, user);
    QFETCH(qint64, room);
    QFETCH(QString, pin);
    QFETCH(bool, invited);
    QFETCH(bool, keyShown);
    const QString password = user + QStringLiteral("1234");
    const Answer invitation =
        portal(user, password,
               QStringLiteral("<ns1:GetInviteContentRequest><ns1:roomID>%1</ns1:roomID>"
                              "</ns1:GetInviteContentRequest>")
                   .arg(room));
    QCOMPARE(invitation.status, invited ? 200 : 500);
    QCOMPARE(invitation.body.contains(QStringLiteral("Room PIN: ")), !pin.isEmpty());
    if (!pin.isEmpty())
        QVERIFY(invitation.body.contains(QStringLiteral("Room PIN: ") + pin));
    if (!invited)
        QVERIFY(invitation.body.contains(QStringLiteral("Not authorized")));

    const Answer details = portal(user, password,
                                  QStringLiteral("<ns1:SearchByEntityIDRequest><ns1:entityID>%1"
                                                 "</ns1:entityID></ns1:SearchByEntityIDRequest>")
                                      .arg(room));
    QCOMPARE(details.status, 200);
    QCOMPARE(details.body.contains(keyOf(room)), keyShown);
    QCOMPARE(details.body.contains(QStringLiteral("2468")) ||
                 details.body.contains(QStringLiteral(">1234<")),
             !pin.isEmpty());
}

void TestPortalGuards::guessesAreSlowedThenLockedOut_data()
{
    QTest::addColumn<QJsonObject>("guess");
    QTest::addColumn<QJsonObject>("right");
    QTest::addColumn<QString>("answer"); // the type of message that answers both
    QTest::newRow("sign-in") << QJsonObject{{"type", "signIn"}, {"user", "erin"}, {"password", "x"}}
                             << QJsonObject{{"type", "signIn"},
                                            {"user", "erin"},
                                            {"password", "erin1234"}}
                             << "signInFailed";
    QTest::newRow("guest join")
        << QJsonObject{{"type", "guestJoin"}, {"room", 2001}, {"pin", "0000"}, {"name", "猜"}}
        << QJsonObject{{"type", "guestJoin"}, {"room", 2001}, {"pin", "1234"}, {"name", "猜"}}
        << "roomLink";
}

void TestPortalGuards::guessesAreSlowedThenLockedOut()
{
    QFETCH(QJsonObject, guess);
    QFETCH(QJsonObject, right);
    QFETCH(QString, answer);
    TestDeployment deployment;
    ServiceHost *host = deployment.host();
    QVERIFY(host);
    for (QJsonObject *m : {&guess, &right})
        if (m->contains("room"))
            *m = QJsonObject{{"type", "guestJoin"},
                             {"roomKey", host->database().entry(2001)->roomKey},
                             {"pin", m->value("pin")},
                             {"name", m->value("name")}};
    // Two failures answered at once, the next ones held far longer than this test waits,
    // the fourth shuts attempts out.
    Throttle::Policy fast;
    fast.freeFailures = 2;
    fast.firstDelayMs = fast.maxDelayMs = 600000;
    fast.lockoutAfter = 4;
    host->signIns().throttle().setPolicies(fast, fast);
    host->guestJoins().setPolicies(fast, fast);

    Socket socket(host->config().portalPort);
    QVERIFY(socket.connected());
    for (int i = 0; i < 6; ++i)
        socket.send(guess);
    QVERIFY(socket.settled());
    // Two answered, two held; the last two came after the lockout: refused at once, unchecked.
    QCOMPARE(socket.count(answer), 4);
    const quint64 checks = PasswordHash::checksRun();
    socket.send(right);
    QVERIFY(socket.settled());
    QCOMPARE(socket.count(answer), 5);
    const QJsonObject refused = socket.last(answer);
    QVERIFY(refused.value("type").toString() == u"signInFailed" ||
            refused.value("result").toInt() == 1007);
    QCOMPARE(PasswordHash::checksRun(), checks);
}

void TestPortalGuards::everyFailedNameCostsOneCheck_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("unknown name") << "nobody"
                                  << "nobody1234";
    QTest::newRow("wrong password") << "frank"
                                    << "frank12345";
}

void TestPortalGuards::everyFailedNameCostsOneCheck()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    const quint64 before = PasswordHash::checksRun();
    QCOMPARE(portal(user, password, QStringLiteral("<ns1:MyAccountRequest/>")).status, 401);
    QCOMPARE(PasswordHash::checksRun(), before + 1);
}

void TestPortalGuards::rememberedCredentialsFollowTheStoredHash()
{
    const QString myAccount = QStringLiteral("<ns1:MyAccountRequest/>");
    auto costOf = [&](const QString &password, int status) {
        const quint64 before = PasswordHash::checksRun();
        const Answer answer = portal(QStringLiteral("carol"), password, myAccount);
        return answer.status == status ? int(PasswordHash::checksRun() - before) : -1;
    };
    QCOMPARE(costOf(QStringLiteral("carol1234"), 200), 1);
    QCOMPARE(costOf(QStringLiteral("carol1234"), 200), 0); // remembered

    // The account command changes passwords from another process: only the file is shared.
    ServiceDatabase other;
    QString error;
    QVERIFY2(other.open(m_host->config().dataDir + QStringLiteral("/orvale.sqlite"), false, &error),
             qPrintable(error));
    QVERIFY(other.setPassword(QStringLiteral("carol"), QStringLiteral("carol1234"))); // new salt
    QCOMPARE(costOf(QStringLiteral("carol1234"), 200), 1);
    QVERIFY(other.setPassword(QStringLiteral("carol"), QStringLiteral("新的密码 1")));
    QCOMPARE(costOf(QStringLiteral("carol1234"), 401), 1);
    QCOMPARE(costOf(QStringLiteral("新的密码 1"), 200), 1);

    m_host->signIns().cache().setLifetime(0); // every request checked in full
    QCOMPARE(costOf(QStringLiteral("新的密码 1"), 200), 1);
    QCOMPARE(costOf(QStringLiteral("新的密码 1"), 200), 1);
    m_host->signIns().cache().setLifetime(5 * 60 * 1000);
}

void TestPortalGuards::answersSayWhatHappened_data()
{
    QTest::addColumn<bool>("engine");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("fault"); // empty: OK
    const QString join = QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>%1"
                                        "</ns1:conferenceID>%2</ns1:JoinConferenceRequest>");
    const QString mute = QStringLiteral("<ns1:MuteAudioRequest><ns1:conferenceID>1005"
                                        "</ns1:conferenceID><ns1:participantID>%1"
                                        "</ns1:participantID></ns1:MuteAudioRequest>");
    const QString noSession = QStringLiteral("Not signed in to the conference service");
    QTest::newRow("join, no engine") << false << join.arg(2002).arg(QString()) << noSession;
    QTest::newRow("join with PIN, no engine")
        << false << join.arg(2001).arg(QStringLiteral("<ns1:PIN>1234</ns1:PIN>")) << noSession;
    QTest::newRow("join") << true << join.arg(2002).arg(QString()) << QString();
    QTest::newRow("join with PIN")
        << true << join.arg(2001).arg(QStringLiteral("<ns1:PIN>1234</ns1:PIN>")) << QString();
    QTest::newRow("join by extension")
        << true
        << QStringLiteral("<ns1:JoinIPCConferenceRequest><ns1:local-part>2002</ns1:local-part>"
                          "<ns1:domain>127.0.0.1</ns1:domain></ns1:JoinIPCConferenceRequest>")
        << QString();
    QTest::newRow("mute nobody") << true << mute.arg(QStringLiteral("u4242"))
                                 << "Participant is not in the conference";
    QTest::newRow("mute oneself in own room")
        << true << mute.arg(QStringLiteral("u1005")) << QString();
}

void TestPortalGuards::answersSayWhatHappened()
{
    QFETCH(bool, engine);
    QFETCH(QString, operation);
    QFETCH(QString, fault);
    std::unique_ptr<Socket> dave;
    if (engine) {
        dave = signedIn(QStringLiteral("dave"), QStringLiteral("dave1234"));
        QVERIFY(dave);
        // In its own room, so that there is someone to mute.
        QCOMPARE(portal(QStringLiteral("dave"), QStringLiteral("dave1234"),
                        QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>1005"
                                       "</ns1:conferenceID></ns1:JoinConferenceRequest>"))
                     .status,
                 200);
    }
    const Answer answer = portal(QStringLiteral("dave"), QStringLiteral("dave1234"), operation);
    QCOMPARE(answer.status, fault.isEmpty() ? 200 : 500);
    QVERIFY2(answer.body.contains(fault.isEmpty() ? QStringLiteral(">OK<") : fault),
             qPrintable(answer.body));
}

void TestPortalGuards::roomStatusCountsWhoIsIn()
{
    auto statusOf = [this](qint64 room) {
        const Answer answer =
            portal(QStringLiteral("alice"), QStringLiteral("alice1234"),
                   QStringLiteral("<ns1:SearchByEntityIDRequest><ns1:entityID>%1</ns1:entityID>"
                                  "</ns1:SearchByEntityIDRequest>")
                       .arg(room));
        const qsizetype at = answer.body.indexOf(QStringLiteral("RoomStatus>"));
        return at < 0 ? QString() : answer.body.mid(at + 11).section(u'<', 0, 0);
    };
    QCOMPARE(statusOf(2002), QStringLiteral("Empty"));
    QCOMPARE(statusOf(2003), QStringLiteral("Full")); // its two seats are held elsewhere
    Socket guest(m_host->config().portalPort);
    QVERIFY(guest.connected());
    guest.send({{"type", "guestJoin"}, {"roomKey", keyOf(2002)}, {"name", "访客"}});
    QTRY_COMPARE(m_host->conferenceHub().occupancy(2002), 1);
    QCOMPARE(statusOf(2002), QStringLiteral("Occupied"));
    guest.send({{"type", "leave"}});
    QTRY_COMPARE(m_host->conferenceHub().occupancy(2002), 0);
    QCOMPARE(statusOf(2002), QStringLiteral("Empty"));
}

void TestPortalGuards::throttleCounts_data()
{
    // Each step: "f" a failure, "s" a success, "F" a failure on another subject from the same
    // address; `holds` the answers' delays, -1 where the next step found attempts shut out.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QList<int>>("holds");
    QTest::newRow("delays grow to the cap") << "fffff" << QList<int>{0, 0, 100, 200, 400};
    QTest::newRow("then a lockout") << "ffffff" << QList<int>{0, 0, 100, 200, 400, 400, -1};
    QTest::newRow("a success clears") << "fffsf" << QList<int>{0, 0, 100, 0};
    QTest::newRow("an address counts across subjects") << "ffFF" << QList<int>{0, 0, 0, 100};
}

void TestPortalGuards::throttleCounts()
{
    QFETCH(QString, steps);
    QFETCH(QList<int>, holds);
    Throttle::Policy policy;
    policy.freeFailures = 2;
    policy.firstDelayMs = 100;
    policy.maxDelayMs = 400;
    policy.lockoutAfter = 6;
    Throttle::Policy address = policy;
    address.freeFailures = 3; // the address's count shows apart from the subject's
    Throttle throttle("test", address, policy);
    const QString from = QStringLiteral("192.0.2.1");
    QList<int> seen;
    for (const QChar step : steps) {
        const QString subject = step == u'F' ? QStringLiteral("b") : QStringLiteral("a");
        if (step == u's')
            throttle.succeeded(from, subject);
        else
            seen.append(throttle.failed(from, subject));
    }
    if (throttle.locked(from, QStringLiteral("a")))
        seen.append(-1);
    QCOMPARE(seen, holds);
}

void TestPortalGuards::throttleMemoryIsBounded()
{
    Throttle::Policy small;
    small.maxEntries = 100;
    Throttle throttle("test", small, small);
    for (int i = 0; i < 1000; ++i)
        throttle.failed(QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250),
                        QStringLiteral("name%1").arg(i));
    QVERIFY2(throttle.size() <= 100, qPrintable(QString::number(throttle.size())));
}

void TestPortalGuards::clientAddress_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QByteArray>("forwardedFor");
    QTest::addColumn<bool>("behindFront");
    QTest::addColumn<QString>("address");
    QTest::newRow("direct") << "198.51.100.7" << QByteArray("203.0.113.9") << false
                            << "198.51.100.7";
    QTest::newRow("mapped IPv4") << "::ffff:198.51.100.7" << QByteArray() << false
                                 << "198.51.100.7";
    QTest::newRow("through the front")
        << "127.0.0.1" << QByteArray("203.0.113.9") << true << "203.0.113.9";
    QTest::newRow("a client's own header is not believed")
        << "127.0.0.1" << QByteArray("10.9.9.9, 203.0.113.9") << true << "203.0.113.9";
    QTest::newRow("the header from elsewhere is not believed")
        << "198.51.100.7" << QByteArray("203.0.113.9") << true << "198.51.100.7";
}

void TestPortalGuards::clientAddress()
{
    QFETCH(QString, peer);
    QFETCH(QByteArray, forwardedFor);
    QFETCH(bool, behindFront);
    QFETCH(QString, address);
    QCOMPARE(Throttle::clientAddress(QHostAddress(peer), forwardedFor, behindFront), address);
}

QTEST_GUILESS_MAIN(TestPortalGuards)
#include "tst_portalguards.moc"
