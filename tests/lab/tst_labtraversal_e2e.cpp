// Traversal across the network lab: the deployment on its server host behind its TLS front
// with its TURN server; a client behind a firewall that drops every datagram calls a client
// behind a NAT through the relay over TCP; TURN credentials are short-lived and renewed; the
// relay refuses requests without a valid token and an engine that does not trust the
// deployment's certificate sends nothing. Needs root, `ip netns`, Janus, nginx and coturn.

#include "tests/support/LabParticipant.h"
#include "tests/support/Needs.h"
#include "tests/support/NetworkLab.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TlsFront.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using Host = NetworkLab::Host;

namespace {

constexpr double heard = 1500;     // amplitude at the other's tone; a tone is sent at about 9800
constexpr quint16 turnPort = 3478; // the TURN server's UDP and TCP port
constexpr int lifetimeS = 20;      // of TURN credentials: renewed within the test's call

/// The expiry (unix seconds) in the first TURN user name of a logged media message or
/// renewal, "<expiry>:<who>"; 0: none.
qint64 expiryIn(const QString &line)
{
    static const QRegularExpression name(QStringLiteral("username\\W+(\\d+):"));
    return name.match(line).captured(1).toLongLong();
}

} // namespace

class TestLabTraversalEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firewalledCallsHomeThroughTheRelay();
    void credentialsAreRenewedAndFresh();
    void relayRefusesRequestsWithoutToken_data();
    void relayRefusesRequestsWithoutToken();
    void engineNotTrustingTheCertificateSendsNothing();

private:
    QString certificate() const { return m_services->dataPath() + QStringLiteral("/cert.pem"); }

    std::unique_ptr<NetworkLab> m_lab;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<TlsFront> m_front;
    std::unique_ptr<LabParticipant> m_home, m_firewalled;
};

void TestLabTraversalEndToEnd::initTestCase()
{
    ORVALE_NEEDS(NetworkLab::unavailable(
        {QStringLiteral("janus"), QStringLiteral("nginx"), QStringLiteral("turnserver")}));
    // Through the firewall: the TLS front and the TURN server's TCP port, nothing else.
    const TlsFront::Ports ports{443, 9090, 8080, 8081, 8088};
    m_lab = std::make_unique<NetworkLab>(QList<quint16>{ports.front, turnPort});
    QVERIFY2(m_lab->build(), qPrintable(m_lab->error()));
    const QString server = NetworkLab::address(Host::Server);
    const auto number = [](quint16 port) { return QString::number(port); };
    m_services = std::make_unique<ServicesProcess>(
        QStringLiteral(ORVALE_SERVICES), QStringLiteral("127.0.0.1"),
        QStringList{QStringLiteral("--login-port"), number(ports.web), QStringLiteral("--tls-port"),
                    QStringLiteral("8443"), QStringLiteral("--portal-port"), number(ports.portal),
                    QStringLiteral("--janus-port"), number(ports.janus),
                    QStringLiteral("--public-url"), QStringLiteral("https://") + server,
                    QStringLiteral("--turn-relay-ip"), server, QStringLiteral("--turn-port"),
                    number(turnPort), QStringLiteral("--turn-lifetime"), number(lifetimeS)});
    m_services->setLauncher(m_lab->launcher(Host::Server));
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));
    m_front = std::make_unique<TlsFront>(server, ports, certificate(),
                                         m_services->dataPath() + QStringLiteral("/key.pem"));
    m_front->setLauncher(m_lab->launcher(Host::Server));
    QString error;
    QVERIFY2(m_front->start(&error), qPrintable(error));
}

void TestLabTraversalEndToEnd::firewalledCallsHomeThroughTheRelay()
{
    m_home = std::make_unique<LabParticipant>(QStringLiteral("alice"), 440);
    m_firewalled = std::make_unique<LabParticipant>(QStringLiteral("bob"), 660);
    QCOMPARE(m_home->signIn(*m_lab, Host::Home, m_front->base(), certificate()),
             QStringLiteral("loginSuccess"));
    QVERIFY(m_home->join()); // her own room
    QCOMPARE(m_firewalled->signIn(*m_lab, Host::Firewalled, m_front->base(), certificate()),
             QStringLiteral("loginSuccess"));
    QVERIFY(m_firewalled->join());
    QTRY_VERIFY2_WITH_TIMEOUT(m_home->intactPictures() > 10, qPrintable(m_firewalled->details()),
                              30000);
    QTRY_VERIFY2_WITH_TIMEOUT(m_firewalled->intactPictures() > 10,
                              qPrintable(m_firewalled->details()), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(m_home->level(m_firewalled->tone()) > heard, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_firewalled->level(m_home->tone()) > heard, 10000);
    // No datagram leaves the firewalled host: its own stream and its subscription to alice's
    // (u1002) both reach the relay over TCP.
    QString details;
    const auto relayed = [&] {
        details = m_firewalled->details();
        return details.contains(
                   QRegularExpression(QStringLiteral("own: [^;]*pair relay tcp to "))) &&
               details.contains(
                   QRegularExpression(QStringLiteral("-u1002;[^;]*pair relay tcp to ")));
    };
    QVERIFY2(QTest::qWaitFor(relayed, 15000), qPrintable(details));
}

void TestLabTraversalEndToEnd::credentialsAreRenewedAndFresh()
{
    QVERIFY2(m_firewalled, "no call of the firewalled client to renew");
    const auto media = m_firewalled->logged(QStringLiteral("media {"));
    QCOMPARE(media.size(), 1);
    const qint64 expiry = expiryIn(media.first().line);
    QVERIFY2(expiry > media.first().at, qPrintable(media.first().line));
    // The running call is handed new credentials before its first ones expire.
    QTRY_VERIFY_WITH_TIMEOUT(
        !m_firewalled->logged(QStringLiteral("TURN credentials renewed")).isEmpty(),
        lifetimeS * 1000);
    const auto renewal = m_firewalled->logged(QStringLiteral("TURN credentials renewed")).first();
    QVERIFY2(renewal.at < expiry && expiryIn(renewal.line) > expiry, qPrintable(renewal.line));
    // A new call starts with fresh ones.
    QVERIFY(m_firewalled->leave());
    QVERIFY(m_firewalled->join());
    QTRY_COMPARE(m_firewalled->logged(QStringLiteral("media {")).size(), 2);
    const auto again = m_firewalled->logged(QStringLiteral("media {")).last();
    // (Within the second of the renewal it holds as long as the renewed ones.)
    QVERIFY2(expiryIn(again.line) > expiry && expiryIn(again.line) >= expiryIn(renewal.line) &&
                 expiryIn(again.line) > again.at,
             qPrintable(again.line));
}

void TestLabTraversalEndToEnd::relayRefusesRequestsWithoutToken_data()
{
    QTest::addColumn<QString>("token");
    QTest::newRow("no token") << QString();
    QTest::newRow("a guessed one") << QStringLiteral("guessed");
}

void TestLabTraversalEndToEnd::relayRefusesRequestsWithoutToken()
{
    QFETCH(QString, token);
    QJsonObject body{{"janus", "create"}, {"transaction", "t"}};
    if (!token.isEmpty())
        body.insert("token", token);
    QProcess probe;
    m_lab->start(probe, Host::Office, QStringLiteral(ORVALE_LAB_PROBE),
                 {QStringLiteral("post"), m_front->base() + QStringLiteral("/janus"), certificate(),
                  QString::fromUtf8(QJsonDocument(body).toJson())});
    QVERIFY(probe.waitForFinished(20000));
    const QByteArray said = probe.readAllStandardOutput();
    const QJsonObject answer = QJsonDocument::fromJson(said).object();
    QVERIFY2(answer.value("janus").toString() == u"error", said.constData());
    QCOMPARE(answer.value("error").toObject().value("code").toInt(), 403); // unauthorized
}

void TestLabTraversalEndToEnd::engineNotTrustingTheCertificateSendsNothing()
{
    // Neither the system's store nor a CA file of the engine's settings holds the
    // deployment's self-signed certificate.
    LabParticipant office(QStringLiteral("demo"), 880);
    QCOMPARE(office.signIn(*m_lab, Host::Office, m_front->base()),
             QStringLiteral("error:服务器证书不可信"));
    QVERIFY(!office.logged(QStringLiteral("certificate is refused")).isEmpty());
    QVERIFY(office.logged(QStringLiteral("media {")).isEmpty());
}

QTEST_GUILESS_MAIN(TestLabTraversalEndToEnd)
#include "tst_labtraversal_e2e.moc"
