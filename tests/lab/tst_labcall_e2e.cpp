// A call between two hosts of the network lab through the deployment on its server host, on
// its own address and behind its TLS front: the home client, behind a NAT, and the office
// client see and hear each other. Needs root, `ip netns`, Janus and nginx.

#include "tests/support/LabParticipant.h"
#include "tests/support/Needs.h"
#include "tests/support/NetworkLab.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TlsFront.h"

#include <QTest>

#include <memory>

using Host = NetworkLab::Host;

namespace {

constexpr double heard = 1500; // amplitude at the other's tone; a tone is sent at about 9800

} // namespace

class TestLabCallEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void homeAndOfficeSeeAndHearEachOther_data();
    void homeAndOfficeSeeAndHearEachOther();

private:
    /// The deployment on the server host, answering on its own address; its portal.
    QString plainDeployment();
    /// The deployment on the server host's loopback behind nginx, the public name the
    /// server's address; its portal, and its certificate in `certificate`.
    QString deploymentBehindFront(QString *certificate);

    std::unique_ptr<NetworkLab> m_lab;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<TlsFront> m_front;
};

void TestLabCallEndToEnd::initTestCase()
{
    ORVALE_NEEDS(NetworkLab::unavailable({QStringLiteral("janus"), QStringLiteral("nginx")}));
    m_lab = std::make_unique<NetworkLab>();
    QVERIFY2(m_lab->build(), qPrintable(m_lab->error()));
}

QString TestLabCallEndToEnd::plainDeployment()
{
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES),
                                                   NetworkLab::address(Host::Server));
    m_services->setLauncher(m_lab->launcher(Host::Server));
    return m_services->start(true) ? m_services->portal() : QString();
}

QString TestLabCallEndToEnd::deploymentBehindFront(QString *certificate)
{
    // The server host is a network of its own: every port is free there.
    const TlsFront::Ports ports{443, 9090, 8080, 8081, 8088};
    const QString server = NetworkLab::address(Host::Server);
    const auto number = [](quint16 port) { return QString::number(port); };
    m_services = std::make_unique<ServicesProcess>(
        QStringLiteral(ORVALE_SERVICES), QStringLiteral("127.0.0.1"),
        QStringList{QStringLiteral("--login-port"), number(ports.web), QStringLiteral("--tls-port"),
                    QStringLiteral("8443"), QStringLiteral("--portal-port"), number(ports.portal),
                    QStringLiteral("--janus-port"), number(ports.janus),
                    QStringLiteral("--public-url"), QStringLiteral("https://") + server});
    m_services->setLauncher(m_lab->launcher(Host::Server));
    if (!m_services->start(true))
        return {};
    *certificate = m_services->dataPath() + QStringLiteral("/cert.pem");
    m_front = std::make_unique<TlsFront>(server, ports, *certificate,
                                         m_services->dataPath() + QStringLiteral("/key.pem"));
    m_front->setLauncher(m_lab->launcher(Host::Server));
    QString error;
    if (m_front->start(&error))
        return m_front->base();
    qWarning("%s", qPrintable(error));
    return {};
}

void TestLabCallEndToEnd::homeAndOfficeSeeAndHearEachOther_data()
{
    QTest::addColumn<bool>("throughFront");
    QTest::newRow("deployment on its own address") << false;
    QTest::newRow("deployment behind its TLS front") << true;
}

void TestLabCallEndToEnd::homeAndOfficeSeeAndHearEachOther()
{
    QFETCH(bool, throughFront);
    m_front.reset();
    m_services.reset();
    QString certificate;
    const QString portal = throughFront ? deploymentBehindFront(&certificate) : plainDeployment();
    QVERIFY2(!portal.isEmpty(), qPrintable(m_services->output()));
    LabParticipant home(QStringLiteral("alice"), 440), office(QStringLiteral("bob"), 660);
    QVERIFY(home.join(*m_lab, Host::Home, portal, certificate));
    QVERIFY(office.join(*m_lab, Host::Office, portal, certificate));
    // What the deployment handed either engine points at the server (through the front when
    // there is one), never at loopback.
    const QString relay = QStringLiteral("\"url\":\"%1://%2")
                              .arg(throughFront ? QStringLiteral("https") : QStringLiteral("http"),
                                   NetworkLab::address(Host::Server));
    for (LabParticipant *p : {&home, &office}) {
        QTRY_VERIFY(!p->logged(QStringLiteral("media {")).isEmpty());
        for (const auto &[at, message] : p->logged(QStringLiteral("media {")))
            QVERIFY2(!message.contains(QStringLiteral("127.")) &&
                         !message.contains(QStringLiteral("localhost")) &&
                         !message.contains(QStringLiteral("::1")) && message.contains(relay),
                     qPrintable(message));
    }
    QTRY_VERIFY_WITH_TIMEOUT(home.intactPictures() > 10, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(office.intactPictures() > 10, 20000);
    QTRY_VERIFY2_WITH_TIMEOUT(home.level(office.tone()) > heard, qPrintable(home.sound()), 10000);
    QTRY_VERIFY2_WITH_TIMEOUT(office.level(home.tone()) > heard, qPrintable(office.sound()), 10000);
}

QTEST_GUILESS_MAIN(TestLabCallEndToEnd)
#include "tst_labcall_e2e.moc"
