// The deployment past one machine across the network lab: PostgreSQL on the database host, two
// relays on two relay hosts, two instances on two server hosts, the TLS front on the first
// server host balancing over both. Alice, at home behind a NAT, signs in through instance 1 and
// Bob, at the office, through instance 2; they meet in one call. Needs root, `ip netns`, Janus,
// nginx and PostgreSQL.

#include "tests/support/LabParticipant.h"
#include "tests/support/Needs.h"
#include "tests/support/NetworkLab.h"
#include "tests/support/TwoInstanceDeployment.h"

#include <QTest>

#include <memory>

using Host = NetworkLab::Host;

namespace {

constexpr qint64 alicesRoom = 1002; // where LabParticipant joins
constexpr qint64 allHands = 2002;   // no PIN
constexpr qint64 alice = 1002, bob = 1003;
constexpr double heard = 1500; // amplitude at the other's tone; a tone is sent at about 9800

TwoInstanceDeployment::Place on(const NetworkLab &lab, Host host)
{
    return {NetworkLab::address(host), lab.launcher(host)};
}

} // namespace

class TestLabInstancesEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void callSpansInstancesAndHosts();
    void anotherConferenceGoesToTheOtherRelay();
    void callMovesOffAKilledRelay();
    void killedInstanceLeavesTheCallToTheOther();

private:
    /// The media message `p`'s engine got last names relay `i`.
    bool sentTo(const LabParticipant &p, int i) const;
    /// Whether the other's pictures keep coming to `p`: more of them than now.
    static bool picturesFlow(LabParticipant &p);
    /// The people `p`'s engine has in its call, "name=uri|…".
    static QString people(LabParticipant &p) { return p.ask("participants", "people:"); }

    std::unique_ptr<NetworkLab> m_lab;
    std::unique_ptr<TwoInstanceDeployment> m_deployment;
    std::unique_ptr<LabParticipant> m_alice, m_bob;
    int m_relayInUse = -1; ///< the relay of alice's room
};

void TestLabInstancesEndToEnd::initTestCase()
{
    ORVALE_NEEDS(NetworkLab::unavailable({QStringLiteral("janus"), QStringLiteral("nginx")}));
    ORVALE_NEEDS(PostgresServer::unavailable());
    m_lab = std::make_unique<NetworkLab>();
    QVERIFY2(m_lab->build(), qPrintable(m_lab->error()));
    // Every host is a network of its own: the standard ports are free on each. The front
    // shares the first server host with instance 1, whose TLS login port keeps 9090.
    m_deployment = std::make_unique<TwoInstanceDeployment>(
        TwoInstanceDeployment::Layout{on(*m_lab, Host::Database),
                                      {on(*m_lab, Host::Relay), on(*m_lab, Host::SecondRelay)},
                                      {on(*m_lab, Host::Server), on(*m_lab, Host::SecondServer)},
                                      on(*m_lab, Host::Server),
                                      {443, 9443, 0, 0, 8088}});
    QString error;
    QVERIFY2(m_deployment->start(&error), qPrintable(error));
}

void TestLabInstancesEndToEnd::cleanupTestCase()
{
    m_alice.reset();
    m_bob.reset();
    m_deployment.reset();
    m_lab.reset();
}

bool TestLabInstancesEndToEnd::sentTo(const LabParticipant &p, int i) const
{
    const auto media = p.logged(QStringLiteral("media {"));
    return !media.isEmpty() &&
           media.last().line.contains(
               QStringLiteral("\"url\":\"%1\"").arg(m_deployment->relay(i).url()));
}

bool TestLabInstancesEndToEnd::picturesFlow(LabParticipant &p)
{
    const int before = p.intactPictures();
    return QTest::qWaitFor([&] { return p.intactPictures() > before + 10; }, 30000);
}

void TestLabInstancesEndToEnd::callSpansInstancesAndHosts()
{
    m_alice = std::make_unique<LabParticipant>(QStringLiteral("alice"), 440);
    m_bob = std::make_unique<LabParticipant>(QStringLiteral("bob"), 660);
    QVERIFY(m_alice->join(*m_lab, Host::Home, m_deployment->instance(0).portal()));
    QVERIFY(m_bob->join(*m_lab, Host::Office, m_deployment->instance(1).portal()));
    // One relay for the call, named to both engines whichever instance admitted them.
    QTRY_VERIFY((m_relayInUse = m_deployment->relayOf(alicesRoom)) >= 0);
    QTRY_VERIFY(sentTo(*m_alice, m_relayInUse));
    QTRY_VERIFY(sentTo(*m_bob, m_relayInUse));
    QTRY_VERIFY_WITH_TIMEOUT(m_alice->intactPictures() > 10, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(m_bob->intactPictures() > 10, 30000);
    QTRY_VERIFY2_WITH_TIMEOUT(m_alice->level(m_bob->tone()) > heard, qPrintable(m_alice->sound()),
                              20000);
    QTRY_VERIFY2_WITH_TIMEOUT(m_bob->level(m_alice->tone()) > heard, qPrintable(m_bob->sound()),
                              20000);
    // Each sees the other in the call, and both busy.
    QTRY_VERIFY(people(*m_alice).contains(QStringLiteral("-u1003;")));
    QTRY_VERIFY(people(*m_bob).contains(QStringLiteral("-u1002;")));
    QTRY_COMPARE(m_deployment->presence(alice), QStringLiteral("Busy"));
    QTRY_COMPARE(m_deployment->presence(bob), QStringLiteral("Busy"));

    // A message each way, through the other's instance (commands are what the drivers say).
    QString uriOf[2];
    for (const QString &entry : people(*m_bob).mid(7).split(u'|'))
        uriOf[0] = entry.contains(QStringLiteral("-u1002;")) ? entry.section(u'=', 1) : uriOf[0];
    for (const QString &entry : people(*m_alice).mid(7).split(u'|'))
        uriOf[1] = entry.contains(QStringLiteral("-u1003;")) ? entry.section(u'=', 1) : uriOf[1];
    QVERIFY(!uriOf[0].isEmpty() && !uriOf[1].isEmpty());
    const QString toAlice = QStringLiteral("#TRQCOMMAND#u1003#1&block");
    const QString toBob = QStringLiteral("#TRQCOMMAND#u1002#2&free");
    m_bob->tell(QStringLiteral("chat %1 %2").arg(uriOf[0], toAlice));
    QCOMPARE(m_alice->awaitLine(QStringLiteral("command:")), QStringLiteral("command:") + toAlice);
    m_alice->tell(QStringLiteral("chat %1 %2").arg(uriOf[1], toBob));
    QCOMPARE(m_bob->awaitLine(QStringLiteral("command:")), QStringLiteral("command:") + toBob);
}

/// A conference that starts while alice's room has two people on one relay goes to the other.
void TestLabInstancesEndToEnd::anotherConferenceGoesToTheOtherRelay()
{
    QVERIFY(m_relayInUse >= 0);
    LabParticipant carol(QStringLiteral("carol"), 880);
    QCOMPARE(carol.signIn(*m_lab, Host::Office, m_deployment->instance(1).portal()),
             QStringLiteral("loginSuccess"));
    QVERIFY(!carol.ask(QStringLiteral("join %1").arg(allHands), QStringLiteral("conference"))
                 .isEmpty());
    QTRY_COMPARE(m_deployment->relayOf(allHands), 1 - m_relayInUse);
    QTRY_VERIFY(sentTo(carol, 1 - m_relayInUse));
    QVERIFY(carol.leave());
    QTRY_COMPARE(m_deployment->relayOf(allHands), -1);
}

/// The call's relay dies: the call comes back on the other without anyone leaving it.
void TestLabInstancesEndToEnd::callMovesOffAKilledRelay()
{
    QVERIFY(m_relayInUse >= 0);
    m_alice->forgetLines();
    m_bob->forgetLines();
    m_deployment->relay(m_relayInUse).kill();
    m_relayInUse = 1 - m_relayInUse;
    QTRY_COMPARE_WITH_TIMEOUT(m_deployment->relayOf(alicesRoom), m_relayInUse, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(sentTo(*m_alice, m_relayInUse), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(sentTo(*m_bob, m_relayInUse), 20000);
    QVERIFY(picturesFlow(*m_alice));
    QVERIFY(picturesFlow(*m_bob));
    QVERIFY(m_alice->awaitLine(QStringLiteral("endConference"), 0).isEmpty());
    QVERIFY(m_bob->awaitLine(QStringLiteral("endConference"), 0).isEmpty());
}

/// Instance 1 dies: bob, on instance 2, stays in the call; alice shows offline once the bound
/// passed, and signs in again at once through the front.
void TestLabInstancesEndToEnd::killedInstanceLeavesTheCallToTheOther()
{
    QVERIFY(m_deployment->killInstance(0));
    QTRY_COMPARE_WITH_TIMEOUT(m_deployment->presence(alice), QStringLiteral("Offline"), 15000);
    // Bob's engine lists alice no more, and himself still: his call goes on.
    QTRY_VERIFY_WITH_TIMEOUT(!people(*m_bob).contains(QStringLiteral("-u1002;")), 15000);
    QVERIFY(people(*m_bob).contains(QStringLiteral("-u1003;")));
    QCOMPARE(m_deployment->presence(bob), QStringLiteral("Busy"));
    m_alice.reset();

    LabParticipant again(QStringLiteral("alice"), 440);
    QCOMPARE(
        again.signIn(*m_lab, Host::Home, m_deployment->front().base(), m_deployment->certificate()),
        QStringLiteral("loginSuccess"));
    QTRY_COMPARE(m_deployment->presence(alice), QStringLiteral("Online"));
    QVERIFY(people(*m_bob).contains(QStringLiteral("-u1003;")));
}

QTEST_GUILESS_MAIN(TestLabInstancesEndToEnd)
#include "tst_labinstances_e2e.moc"
