// The network lab itself: what the tests that cross it rely on. Needs root and `ip netns`.

#include "tests/support/Needs.h"
#include "tests/support/NetworkLab.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using Host = NetworkLab::Host;
using Link = NetworkLab::Link;
Q_DECLARE_METATYPE(NetworkLab::Host)

namespace {

constexpr quint16 openPort = 4443, closedPort = 4444;

} // namespace

class TestNetLab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void reach_data();
    void reach();
    void loss();
    void rate();
    void linkDown();
    void firewallOpensOtherPorts();
    void teardown();

private:
    /// Runs the probe in `host` to the end; its output.
    QString probe(Host host, const QStringList &arguments, int *status = nullptr);
    /// Sends `count` datagrams from `host` to the server, then a TCP connection as an end mark
    /// behind them; the datagrams that arrived.
    int datagramsArriving(Host host, int count);
    QStringList serverHeard(const QString &kind);

    std::unique_ptr<NetworkLab> m_lab;
    QProcess m_server;
    QByteArray m_heard;
};

void TestNetLab::initTestCase()
{
    ORVALE_NEEDS(NetworkLab::unavailable());
    m_lab = std::make_unique<NetworkLab>(QList<quint16>{openPort});
    QVERIFY2(m_lab->build(), qPrintable(m_lab->error()));
}

void TestNetLab::init()
{
    m_heard.clear();
    m_lab->start(m_server, Host::Server, QStringLiteral(ORVALE_LAB_PROBE),
                 {QStringLiteral("serve"), QString::number(openPort), QString::number(closedPort)});
    QTRY_VERIFY(m_heard.append(m_server.readAllStandardOutput()).contains("listening\n"));
}

void TestNetLab::cleanup()
{
    m_server.kill();
    m_server.waitForFinished();
}

QString TestNetLab::probe(Host host, const QStringList &arguments, int *status)
{
    QProcess process;
    m_lab->start(process, host, QStringLiteral(ORVALE_LAB_PROBE), arguments);
    process.waitForFinished();
    if (status)
        *status = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList TestNetLab::serverHeard(const QString &kind)
{
    m_heard += m_server.readAllStandardOutput();
    QStringList lines;
    for (const QByteArray &line : m_heard.split('\n'))
        if (line.startsWith(QByteArray(kind.toUtf8() + ' ')))
            lines.append(QString::fromUtf8(line));
    return lines;
}

int TestNetLab::datagramsArriving(Host host, int count)
{
    const QString server = NetworkLab::address(Host::Server);
    const qsizetype connections = serverHeard(QStringLiteral("tcp")).size();
    probe(host, {QStringLiteral("udp"), server, QString::number(openPort), QString::number(count)});
    // TCP is never dropped: its connection arrives behind every datagram that made it.
    if (probe(host, {QStringLiteral("tcp"), server, QString::number(openPort)}) != u"connected")
        return -1;
    if (!QTest::qWaitFor([&] { return serverHeard(QStringLiteral("tcp")).size() > connections; }))
        return -1;
    return int(serverHeard(QStringLiteral("udp")).size());
}

void TestNetLab::reach_data()
{
    QTest::addColumn<Host>("from");
    QTest::addColumn<quint16>("port");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("seenAs"); // by the server
    QTest::addColumn<int>("datagrams");  // of 20 sent

    const QString office = NetworkLab::address(Host::Office);
    const QString outsideOfHome = NetworkLab::address(Host::HomeRouter);
    const QString outsideOfFirewall = NetworkLab::address(Host::FirewallRouter);
    QTest::newRow("office, routed") << Host::Office << openPort << true << office << 20;
    QTest::newRow("home, behind the NAT") << Host::Home << openPort << true << outsideOfHome << 20;
    // The deployment's own hosts, each on a network of its own in the servers' range.
    for (Host host : {Host::SecondServer, Host::Relay, Host::SecondRelay, Host::Database})
        QTest::addRow("%s, routed", qPrintable(NetworkLab::address(host)))
            << host << openPort << true << NetworkLab::address(host) << 20;
    QTest::newRow("firewalled, open port")
        << Host::Firewalled << openPort << true << outsideOfFirewall << 0;
    QTest::newRow("firewalled, other port")
        << Host::Firewalled << closedPort << false << QString() << 0;
}

void TestNetLab::reach()
{
    QFETCH(Host, from);
    QFETCH(quint16, port);
    QFETCH(bool, connects);
    QFETCH(QString, seenAs);
    QFETCH(int, datagrams);
    const QString server = NetworkLab::address(Host::Server);
    int status = -1;
    const QString answer =
        probe(from, {QStringLiteral("tcp"), server, QString::number(port)}, &status);
    QCOMPARE(status == 0, connects);
    if (connects) {
        QTRY_COMPARE(serverHeard(QStringLiteral("tcp")),
                     QStringList{QStringLiteral("tcp %1 %2").arg(seenAs).arg(port)});
        QCOMPARE(datagramsArriving(from, 20), datagrams);
    } else {
        QCOMPARE(serverHeard(QStringLiteral("tcp")), QStringList());
    }
}

void TestNetLab::loss()
{
    QVERIFY(m_lab->setLoss(Link::Office, NetworkLab::Direction::Up, 30));
    const int arrived = datagramsArriving(Host::Office, 200);
    QVERIFY(m_lab->setLoss(Link::Office, NetworkLab::Direction::Up, 0));
    // About 140 of 200; the margin is six standard deviations each way.
    QVERIFY2(arrived > 100 && arrived < 180, qPrintable(QString::number(arrived)));
    // Back to none lost, and the other way is untouched.
    QVERIFY(m_lab->setLoss(Link::Office, NetworkLab::Direction::Down, 30));
    QCOMPARE(datagramsArriving(Host::Office, 200), arrived + 200);
    QVERIFY(m_lab->setLoss(Link::Office, NetworkLab::Direction::Down, 0));
}

void TestNetLab::rate()
{
    // 1000 small datagrams (about 45 kB) in 2 s through 32 kbit/s: about 8 kB pass, and the
    // bucket and the queue hold about 2 kB more, which drain before the end mark is sent.
    QVERIFY(m_lab->setRate(Link::Office, NetworkLab::Direction::Up, 32));
    const int arrived = datagramsArriving(Host::Office, 1000);
    QVERIFY(m_lab->setRate(Link::Office, NetworkLab::Direction::Up, 0));
    QVERIFY2(arrived > 0 && arrived < 800, qPrintable(QString::number(arrived)));
    QCOMPARE(datagramsArriving(Host::Office, 1000), arrived + 1000);
}

void TestNetLab::linkDown()
{
    const QString server = NetworkLab::address(Host::Server);
    QVERIFY(m_lab->setLinkUp(Link::Home, false));
    probe(Host::Home,
          {QStringLiteral("udp"), server, QString::number(openPort), QStringLiteral("20")});
    int status = 0;
    probe(Host::Home, {QStringLiteral("tcp"), server, QString::number(openPort)}, &status);
    QCOMPARE(status, 1);
    QVERIFY(m_lab->setLinkUp(Link::Home, true));
    QCOMPARE(datagramsArriving(Host::Home, 20), 20); // none of the first 20
}

void TestNetLab::firewallOpensOtherPorts()
{
    const QString server = NetworkLab::address(Host::Server);
    const auto connects = [&](quint16 port) {
        int status = -1;
        probe(Host::Firewalled, {QStringLiteral("tcp"), server, QString::number(port)}, &status);
        return status == 0;
    };
    QVERIFY(m_lab->setOpenServerPorts({closedPort}));
    QVERIFY(connects(closedPort));
    QVERIFY(!connects(openPort));
    QVERIFY(m_lab->setOpenServerPorts({openPort}));
    QVERIFY(connects(openPort));
}

void TestNetLab::teardown()
{
    QStringList names;
    {
        NetworkLab lab;
        QVERIFY2(lab.build(), qPrintable(lab.error()));
        names = {lab.namespaceName(Host::Server), lab.namespaceName(Host::Home),
                 lab.namespaceName(Host::FirewallRouter)};
        for (const QString &name : names)
            QVERIFY(NetworkLab::allNamespaces().contains(name));
    }
    for (const QString &name : names)
        QVERIFY(!NetworkLab::allNamespaces().contains(name));
}

QTEST_GUILESS_MAIN(TestNetLab)
#include "tst_netlab.moc"
