// Two orvale-services instances on one PostgreSQL database, as one deployment: engines signed in
// to either see each other's presence, meet in one room, chat, share and mute across them, and
// the people of an instance that stops are shown offline and may sign in again elsewhere.

#include "model/AppStatus.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "services/ServiceDatabase.h"
#include "services/SessionRegistry.h"
#include "services/Throttle.h"
#include "tests/support/Needs.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTest>
#include <QWebSocket>

#include <csignal>

namespace {

/// One engine's connection to an instance's conference service.
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
    void send(const QJsonObject &message)
    {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    /// The next message of `type` for which `accept` holds, waiting for it; empty when none.
    QJsonObject next(const QString &type,
                     const std::function<bool(const QJsonObject &)> &accept = {})
    {
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                for (qsizetype i = 0; i < received.size(); ++i) {
                    if (received[i].value(QStringLiteral("type")).toString() == type &&
                        (!accept || accept(received[i]))) {
                        found = received.takeAt(i);
                        return true;
                    }
                }
                return false;
            },
            10000);
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
        return std::any_of(received.cbegin(), received.cend(), [&type](const QJsonObject &m) {
            return m.value(QStringLiteral("type")).toString() == type;
        });
    }
    /// The next roster of `count` people.
    QJsonArray roster(qsizetype count)
    {
        return next(QStringLiteral("participants"),
                    [count](const QJsonObject &m) {
                        return m.value("participants").toArray().size() == count;
                    })
            .value("participants")
            .toArray();
    }

    QWebSocket socket;
    QList<QJsonObject> received;
};

const QString sharedName = QStringLiteral("orvale");

} // namespace

class TestInstances : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void presenceAcrossInstances_data();
    void presenceAcrossInstances();
    void oneEnginePerAccount();
    void roomAcrossInstances();
    void roomCapacityCountsEveryInstance();
    void callRingsAcrossInstances();
    void lostListenerListensAgain();
    void pausedInstanceComesBack();
    void stoppedInstanceEndsItsSessions();
    void stoppedInstanceLeavesItsRelays();
    void throttleCountsAcrossInstances_data();
    void throttleCountsAcrossInstances();

private:
    std::unique_ptr<Engine> signedIn(int instance, const QString &user);
    std::unique_ptr<Engine> connected(int instance);
    /// A guest's answer to joining by the room's key on an instance: 0, or why it was refused.
    int guestJoin(Engine &guest, int instance, qint64 roomId);
    bool portal(int instance, const QString &user, const QString &action, const QString &body);
    /// The portal's JoinConference on an instance.
    bool join(int instance, const QString &user, qint64 roomId);
    QString presence(qint64 entityId) const { return m_db.entry(entityId)->presence; }
    /// Runs `sql` on the database; its first value.
    int query(const QString &sql);

    std::unique_ptr<TestHome> m_home;
    PostgresServer m_postgres;
    ServiceDatabase m_db; ///< what both instances read and write
    std::unique_ptr<ServicesProcess> m_instances[2];
};

void TestInstances::initTestCase()
{
    ORVALE_NEEDS(PostgresServer::unavailable());
    m_home = std::make_unique<TestHome>();
    AppStatus::shareStatus()->setIsSignIn(true);
    QString error;
    QVERIFY2(m_postgres.start(&error, testHost()), qPrintable(error));
    QVERIFY2(m_postgres.createDatabase(sharedName, &error), qPrintable(error));
    for (int i = 0; i < 2; ++i) {
        // A heartbeat bound of 8 × 250 ms: a stopped instance is found out quickly, one held
        // up by a busy machine is not taken for stopped.
        m_instances[i] = std::make_unique<ServicesProcess>(
            QStringLiteral(ORVALE_SERVICES), testHost(i + 2),
            QStringList{QStringLiteral("--database"), m_postgres.socketUrl(sharedName),
                        QStringLiteral("--instance-id"), QStringLiteral("instance%1").arg(i + 1),
                        QStringLiteral("--heartbeat"), QStringLiteral("250"),
                        QStringLiteral("--heartbeat-misses"), QStringLiteral("8"),
                        QStringLiteral("--no-turn")});
        QVERIFY2(m_instances[i]->start(), qPrintable(m_instances[i]->output()));
    }
    DatabaseSettings settings;
    QVERIFY(DatabaseSettings::parse(m_postgres.socketUrl(sharedName), {}, &settings, &error));
    QVERIFY2(m_db.open(settings, false, &error), qPrintable(error));
}

std::unique_ptr<Engine> TestInstances::connected(int instance)
{
    auto e = std::make_unique<Engine>(QStringLiteral("ws://%1:%2/conference")
                                          .arg(m_instances[instance]->host())
                                          .arg(m_instances[instance]->portalPort()));
    if (!QTest::qWaitFor([&e] { return e->socket.state() == QAbstractSocket::ConnectedState; },
                         5000))
        return nullptr;
    return e;
}

int TestInstances::guestJoin(Engine &guest, int instance, qint64 roomId)
{
    guest.send({{"type", "guestJoin"}, {"roomKey", m_instances[instance]->roomKey(roomId)}});
    return guest.next(QStringLiteral("roomLink")).value("result").toInt(-1);
}

std::unique_ptr<Engine> TestInstances::signedIn(int instance, const QString &user)
{
    auto e = connected(instance);
    if (!e)
        return nullptr;
    e->send(
        {{"type", "signIn"}, {"user", user}, {"password", QString(user + QStringLiteral("1234"))}});
    if (e->next(QStringLiteral("signedIn")).isEmpty())
        return nullptr;
    return e;
}

bool TestInstances::portal(int instance, const QString &user, const QString &action,
                           const QString &body)
{
    NetWork *request = NetWork::initWithUrlString(
        m_instances[instance]->portal() + QStringLiteral("/services/v1_1/PortalUserService"), body,
        action);
    request->setAuth(LoginRequest::authorization(user, user + QStringLiteral("1234")));
    bool done = false, ok = false;
    request->setSuccessBlock(QCoreApplication::instance(),
                             [&](const QVariant &) { done = ok = true; });
    request->setFailBlock(QCoreApplication::instance(), [&](const NetworkError &) { done = true; });
    request->startRequest();
    return QTest::qWaitFor([&] { return done; }, 10000) && ok;
}

bool TestInstances::join(int instance, const QString &user, qint64 roomId)
{
    return portal(instance, user, QStringLiteral("JoinConferenceRequest"),
                  QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>%1</"
                                 "ns1:conferenceID></ns1:JoinConferenceRequest>")
                      .arg(roomId));
}

void TestInstances::presenceAcrossInstances_data()
{
    QTest::addColumn<int>("instance");
    QTest::addColumn<QString>("user");
    QTest::addColumn<qint64>("entityId");
    QTest::newRow("on instance 1") << 0 << "bob" << qint64(1003);
    QTest::newRow("on instance 2") << 1 << "erin" << qint64(1006);
}

void TestInstances::presenceAcrossInstances()
{
    QFETCH(int, instance);
    QFETCH(QString, user);
    QFETCH(qint64, entityId);
    QTRY_COMPARE(presence(entityId), QStringLiteral("Offline"));
    auto e = signedIn(instance, user);
    QVERIFY(e);
    QTRY_COMPARE(presence(entityId), QStringLiteral("Online"));
    e->send({{"type", "signOut"}});
    QVERIFY(!e->next(QStringLiteral("signedOut")).isEmpty());
    QTRY_COMPARE(presence(entityId), QStringLiteral("Offline"));
}

void TestInstances::oneEnginePerAccount()
{
    auto first = signedIn(0, QStringLiteral("dave"));
    QVERIFY(first);
    auto second = signedIn(1, QStringLiteral("dave"));
    QVERIFY(second);
    QCOMPARE(first->next(QStringLiteral("signedOut")).value("reason").toInt(), 2);
    // The engine replaced on instance 1 did not take the account offline (written before it
    // was told).
    QCOMPARE(presence(1005), QStringLiteral("Online"));
    second->socket.close();
    QTRY_COMPARE(presence(1005), QStringLiteral("Offline"));
}

void TestInstances::roomAcrossInstances()
{
    auto demo = signedIn(0, QStringLiteral("demo"));
    auto alice = signedIn(1, QStringLiteral("alice"));
    QVERIFY(demo && alice);
    // Each joins through the portal of the instance that does not hold its engine.
    QVERIFY(join(1, QStringLiteral("demo"), 2002));
    QCOMPARE(demo->next(QStringLiteral("conference")).value("roomID").toString(),
             QStringLiteral("2002"));
    QVERIFY(join(0, QStringLiteral("alice"), 2002));
    QVERIFY(!alice->next(QStringLiteral("conference")).isEmpty());
    QCOMPARE(demo->roster(2).size(), 2);
    const QJsonArray both = alice->roster(2);
    QCOMPARE(both[0].toObject().value("participantID").toString(), QStringLiteral("u1001"));
    QCOMPARE(both[1].toObject().value("participantID").toString(), QStringLiteral("u1002"));
    const QString demoUri = both[0].toObject().value("uri").toString();

    alice->send({{"type", "chat"}, {"to", ""}, {"text", "大家好"}});
    QJsonObject chat = demo->next(QStringLiteral("chat"));
    QCOMPARE(chat.value("text").toString(), QStringLiteral("大家好"));
    demo->send({{"type", "chat"}, {"to", chat.value("from").toString()}, {"text", "只给你"}});
    chat = alice->next(QStringLiteral("chat"));
    QVERIFY(chat.value("private").toBool());
    QCOMPARE(chat.value("from").toString(), demoUri);

    demo->send({{"type", "share"}, {"name", "屏幕 1"}});
    QCOMPARE(alice->next(QStringLiteral("shareStarted")).value("uri").toString(), demoUri);

    const QString mute =
        QStringLiteral("<ns1:MuteAudioRequest><ns1:conferenceID>2002</ns1:conferenceID>"
                       "<ns1:participantID>u1002</ns1:participantID></ns1:MuteAudioRequest>");
    QVERIFY(portal(0, QStringLiteral("demo"), QStringLiteral("MuteAudioRequest"), mute));
    QCOMPARE(alice->next(QStringLiteral("farEndMute")).value("muted").toBool(), true);
    const QJsonObject muted = demo->next(QStringLiteral("participants"), [](const QJsonObject &m) {
        return m.value("participants").toArray().at(1).toObject().value("micMuted").toBool();
    });
    QVERIFY(!muted.isEmpty());
    demo->send({{"type", "leave"}});
    QCOMPARE(alice->roster(1).size(), 1);
    alice->send({{"type", "leave"}});
    QVERIFY(!alice->next(QStringLiteral("conferenceEnded")).isEmpty());
}

void TestInstances::roomCapacityCountsEveryInstance()
{
    DirectoryEntry room;
    room.entityID = 2100;
    room.kind = QStringLiteral("Room");
    room.displayName = QStringLiteral("Two seats");
    room.tenant = QStringLiteral("Default");
    room.capacity = 2;
    QVERIFY(m_db.addEntry(room));
    auto first = connected(0);
    auto second = connected(1);
    auto third = connected(0);
    QVERIFY(first && second && third);
    QCOMPARE(guestJoin(*first, 0, 2100), 0);
    QCOMPARE(guestJoin(*second, 1, 2100), 0);
    // Instance 1 holds one of the two: the room is full all the same.
    QCOMPARE(guestJoin(*third, 0, 2100), 1021);
    // Guests are numbered across the instances: two marks, not the same twice.
    const QJsonArray both = first->roster(2);
    QVERIFY(both[0].toObject().value("participantID").toString() !=
            both[1].toObject().value("participantID").toString());
}

void TestInstances::callRingsAcrossInstances()
{
    auto demo = signedIn(0, QStringLiteral("demo"));
    auto carol = signedIn(1, QStringLiteral("carol"));
    QVERIFY(demo && carol);
    // Joining carol's own room rings her engine, held by the other instance.
    QVERIFY(join(0, QStringLiteral("demo"), 1004));
    QCOMPARE(carol->next(QStringLiteral("incomingCall")).value("caller").toString(),
             QStringLiteral("演示用户"));
    carol->send({{"type", "answer"}, {"accept", true}});
    QCOMPARE(carol->next(QStringLiteral("conference")).value("roomID").toString(),
             QStringLiteral("1004"));
    QCOMPARE(demo->roster(2).size(), 2);
    QTRY_COMPARE(presence(1004), QStringLiteral("Busy"));
}

int TestInstances::query(const QString &sql)
{
    QSqlQuery q(m_db.connection());
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

void TestInstances::lostListenerListensAgain()
{
    auto demo = signedIn(0, QStringLiteral("demo"));
    auto alice = signedIn(1, QStringLiteral("alice"));
    QVERIFY(demo && alice);
    QVERIFY(join(0, QStringLiteral("demo"), 2002));
    QVERIFY(join(1, QStringLiteral("alice"), 2002));
    QCOMPARE(demo->roster(2).size(), 2);
    // The server ends both instances' listening connections (as a restart would).
    const QString listeners = QStringLiteral(
        "FROM pg_stat_activity WHERE query ILIKE 'LISTEN%' AND pid <> pg_backend_pid()");
    QCOMPARE(query(QStringLiteral("SELECT COUNT(pg_terminate_backend(pid, 5000)) ") + listeners),
             2);
    QTRY_COMPARE(query(QStringLiteral("SELECT COUNT(*) ") + listeners), 2);
    alice->send({{"type", "chat"}, {"to", ""}, {"text", "还在吗"}});
    QCOMPARE(demo->next(QStringLiteral("chat")).value("text").toString(), QStringLiteral("还在吗"));
}

void TestInstances::pausedInstanceComesBack()
{
    auto demo = signedIn(0, QStringLiteral("demo"));
    auto alice = signedIn(1, QStringLiteral("alice"));
    QVERIFY(demo && alice);
    QVERIFY(join(0, QStringLiteral("demo"), 2002));
    QVERIFY(join(1, QStringLiteral("alice"), 2002));
    QCOMPARE(demo->roster(2).size(), 2);
    // Held up past the bound, instance 2 is taken for stopped; beating again, it brings its
    // people back.
    demo->received.clear(); // the rosters so far
    ::kill(pid_t(m_instances[1]->processId()), SIGSTOP);
    QCOMPARE(demo->roster(1).size(), 1);
    QTRY_COMPARE(presence(1002), QStringLiteral("Offline"));
    ::kill(pid_t(m_instances[1]->processId()), SIGCONT);
    QCOMPARE(demo->roster(2).size(), 2);
    QTRY_COMPARE(presence(1002), QStringLiteral("Busy"));
}

void TestInstances::stoppedInstanceEndsItsSessions()
{
    auto demo = signedIn(0, QStringLiteral("demo"));
    auto grace = signedIn(1, QStringLiteral("grace"));
    QVERIFY(demo && grace);
    QVERIFY(join(0, QStringLiteral("demo"), 2002));
    auto guest = connected(1);
    QVERIFY(guest);
    QCOMPARE(guestJoin(*guest, 1, 2002), 0);
    QCOMPARE(demo->roster(2).size(), 2);
    QTRY_COMPARE(presence(1008), QStringLiteral("Online"));

    demo->received.clear();
    ::kill(pid_t(m_instances[1]->processId()), SIGKILL);
    QCOMPARE(demo->roster(1).size(), 1);
    QTRY_COMPARE(presence(1008), QStringLiteral("Offline"));
    auto again = signedIn(0, QStringLiteral("grace"));
    QVERIFY(again);
    QTRY_COMPARE(presence(1008), QStringLiteral("Online"));
    QVERIFY(!demo->has(QStringLiteral("signedOut")));

    // An instance starting leaves those signed in to others as they are.
    ServicesProcess another(QStringLiteral(ORVALE_SERVICES), testHost(4),
                            {QStringLiteral("--database"), m_postgres.socketUrl(sharedName),
                             QStringLiteral("--no-turn")});
    QVERIFY2(another.start(), qPrintable(another.output()));
    QCOMPARE(presence(1001), QStringLiteral("Busy"));
    QCOMPARE(presence(1008), QStringLiteral("Online"));
}

/// The participants an instance that stopped beating had admitted at a relay are no longer
/// counted there: new conferences are placed by the load that is left.
void TestInstances::stoppedInstanceLeavesItsRelays()
{
    constexpr qint64 room = 2003;
    const QString relay = QStringLiteral("http://relay.example.org/janus");
    QCOMPARE(m_db.placeConference(room, relay), relay);
    m_db.countParticipants(room, 3); // two admitted through the instance below, one elsewhere
    // An instance that beat once, with two engines admitted and a guest not yet.
    QSqlQuery q(m_db.connection());
    QVERIFY(
        q.exec(QStringLiteral("INSERT INTO instances(id, beat) VALUES('gone',"
                              " CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT))")));
    SessionRegistry gone(m_db, QStringLiteral("gone"));
    for (const QString &tag :
         QStringList{QStringLiteral("u9001"), QStringLiteral("u9002"), QStringLiteral("g9003")})
        gone.record({QString(), tag, 0, tag, room, 1, false, QString(), 0, 0});
    gone.setPublishers(QStringLiteral("u9001"), 90011, 90012);
    gone.setPublishers(QStringLiteral("u9002"), 90021, 90022);
    QTRY_COMPARE(query(QStringLiteral("SELECT COUNT(*) FROM sessions WHERE instance = 'gone'")), 0);
    QCOMPARE(m_db.relayLoads().value(relay), 1);
    m_db.countParticipants(room, -1);
    QVERIFY(m_db.placement(room).isEmpty());
}

void TestInstances::throttleCountsAcrossInstances_data()
{
    // Steps at instance 1 ('1'), at instance 2 ('2'), a success at instance 2 ('s'); the
    // answers' holds, then -1 if the name is locked out at instance 1.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QList<int>>("holds");
    QTest::newRow("failures add up") << "1212" << QList<int>{0, 0, 100, 200};
    QTest::newRow("a lockout holds at the other") << "12121" << QList<int>{0, 0, 100, 200, 400, -1};
    QTest::newRow("a success at the other clears") << "121s1" << QList<int>{0, 0, 100, 0};
}

void TestInstances::throttleCountsAcrossInstances()
{
    QFETCH(QString, steps);
    QFETCH(QList<int>, holds);
    static int run = 0; // each row counts on names of its own
    const QString from = QStringLiteral("192.0.2.%1").arg(++run);
    const QString name = QStringLiteral("mallory%1").arg(run);
    ServiceDatabase second;
    DatabaseSettings settings;
    QString error;
    QVERIFY(DatabaseSettings::parse(m_postgres.socketUrl(sharedName), {}, &settings, &error));
    QVERIFY2(second.open(settings, false, &error), qPrintable(error));
    Throttle::Policy policy;
    policy.freeFailures = 2;
    policy.firstDelayMs = 100;
    policy.maxDelayMs = 400;
    policy.lockoutAfter = 5;
    Throttle one("sign-in", policy, policy), two("sign-in", policy, policy);
    one.shareIn(m_db);
    two.shareIn(second);
    QList<int> seen;
    for (const QChar step : steps) {
        if (step == u's')
            two.succeeded(from, name);
        else
            seen.append((step == u'1' ? one : two).failed(from, name));
    }
    if (one.locked(from, name))
        seen.append(-1);
    QCOMPARE(seen, holds);
}

QTEST_MAIN(TestInstances)
#include "tst_instances.moc"
