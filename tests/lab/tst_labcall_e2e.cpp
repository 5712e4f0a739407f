// A call between two hosts of the network lab through the deployment on its server host, on
// its own address and behind its TLS front: the home client, behind a NAT, and the office
// client see and hear each other. Needs root, `ip netns`, Janus and nginx.

#include "tests/support/MediaMeasures.h"
#include "tests/support/NetworkLab.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ReceivedMedia.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TlsFront.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>

using Host = NetworkLab::Host;

namespace {

constexpr double heard = 1500; // amplitude at the other's tone; a tone is sent at about 9800

/// A participant: the engine driver in a lab host, and what its engine received.
class Participant final
{
public:
    Participant(const QString &user, int tone)
        : m_user(user)
        , m_tone(tone)
    {}
    ~Participant() { stopDriver(m_driver); }

    /// Signs in at `portal` and joins alice's room from `host`; with `certificate`, the
    /// engine and the client trust it (the deployment's own behind its TLS front).
    bool join(const NetworkLab &lab, Host host, const QString &portal,
              const QString &certificate = {});
    /// The other's pictures that arrived intact (their frame stamps read back).
    int intactPictures() const;
    /// The level of `tone` in the sound received last.
    double level(int tone) const;
    /// The `media` messages its engine received, as it logged them.
    QStringList mediaMessages();
    int tone() const { return m_tone; }
    /// The recordings and their sizes, to say what was heard when a check fails.
    QString sound() const
    {
        QStringList files;
        const QDir folder(m_folder.filePath(QStringLiteral("sound")));
        for (const QFileInfo &f : folder.entryInfoList(QDir::Files, QDir::Time))
            files << QStringLiteral("%1 %2 bytes").arg(f.fileName()).arg(f.size());
        return files.join(QStringLiteral(", "));
    }

private:
    ReceivedMedia received() const
    {
        return ReceivedMedia(m_folder.filePath(QStringLiteral("stamps")),
                             m_folder.filePath(QStringLiteral("sound")));
    }

    QString m_user;
    int m_tone;
    QTemporaryDir m_folder;
    QProcess m_driver;
    ProcessLines m_lines{m_driver};
    QByteArray m_log;
};

bool Participant::join(const NetworkLab &lab, Host host, const QString &portal,
                       const QString &certificate)
{
    const QString settings = m_folder.filePath(QStringLiteral("engine.ecf"));
    QFile file(settings);
    if (!file.open(QIODevice::WriteOnly) || !QDir(m_folder.path()).mkdir(QStringLiteral("sound")))
        return false;
    file.write(QStringLiteral("[engine]\naudioRecordFolder=%1\ntoneFrequency=%2\n")
                   .arg(m_folder.filePath(QStringLiteral("sound")))
                   .arg(m_tone)
                   .toUtf8());
    if (!certificate.isEmpty())
        file.write("caFile=" + certificate.toUtf8() + '\n');
    file.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVALE_FRAME_STAMPS"),
                       m_folder.filePath(QStringLiteral("stamps")));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("orvale.media.debug=true"));
    m_driver.setProcessEnvironment(environment);
    lab.start(m_driver, host, QStringLiteral(ORVALE_ENGINE_DRIVER), {QStringLiteral("--view")});
    if (m_lines.startingWith(QStringLiteral("ready"), 15000).isEmpty())
        return false;
    if (!certificate.isEmpty()) {
        m_driver.write(("trust " + certificate + '\n').toUtf8());
        if (m_lines.startingWith(QStringLiteral("trusting"), 15000).isEmpty())
            return false;
    }
    m_driver.write(("settings " + settings + '\n').toUtf8());
    m_driver.write(
        QStringLiteral("login %1 %1%2 %3\n").arg(m_user, QStringLiteral("1234"), portal).toUtf8());
    if (m_lines.startingWith(QStringLiteral("loginSuccess"), 15000).isEmpty())
        return false;
    m_driver.write("entity 1002\njoin 1002\n");
    return !m_lines.startingWith(QStringLiteral("conference"), 15000).isEmpty();
}

int Participant::intactPictures() const
{
    return int(received().intactPictures(0, std::numeric_limits<qint64>::max()).size());
}

double Participant::level(int tone) const
{
    const QString recording = received().recording();
    return recording.isEmpty() ? 0 : levelAt(recording, tone);
}

QStringList Participant::mediaMessages()
{
    m_log += m_driver.readAllStandardError();
    QStringList messages;
    for (const QByteArray &line : m_log.split('\n'))
        if (line.contains("media {"))
            messages.append(QString::fromUtf8(line));
    return messages;
}

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
    if (const QString why = NetworkLab::unavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty())
        QSKIP("Janus is not installed");
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
    if (throughFront &&
        QStandardPaths::findExecutable(QStringLiteral("nginx"), {QStringLiteral("/usr/sbin")})
            .isEmpty())
        QSKIP("nginx is not installed");
    m_front.reset();
    m_services.reset();
    QString certificate;
    const QString portal = throughFront ? deploymentBehindFront(&certificate) : plainDeployment();
    QVERIFY2(!portal.isEmpty(), qPrintable(m_services->output()));
    Participant home(QStringLiteral("alice"), 440), office(QStringLiteral("bob"), 660);
    QVERIFY(home.join(*m_lab, Host::Home, portal, certificate));
    QVERIFY(office.join(*m_lab, Host::Office, portal, certificate));
    // What the deployment handed either engine points at the server (through the front when
    // there is one), never at loopback.
    const QString relay = QStringLiteral("\"url\":\"%1://%2")
                              .arg(throughFront ? QStringLiteral("https") : QStringLiteral("http"),
                                   NetworkLab::address(Host::Server));
    for (Participant *p : {&home, &office}) {
        QTRY_VERIFY(!p->mediaMessages().isEmpty());
        for (const QString &message : p->mediaMessages())
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
