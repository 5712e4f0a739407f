// A call between two hosts of the network lab through the deployment on its server host: the
// home client, behind a NAT, and the office client see and hear each other. Needs root,
// `ip netns` and Janus.

#include "tests/support/MediaMeasures.h"
#include "tests/support/NetworkLab.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ReceivedMedia.h"
#include "tests/support/ServicesProcess.h"

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

    bool join(const NetworkLab &lab, Host host, const QString &portal);
    /// The other's pictures that arrived intact (their frame stamps read back).
    int intactPictures() const;
    /// The level of `tone` in the sound received last.
    double level(int tone) const;
    /// The `media` messages its engine received, as it logged them.
    QStringList mediaMessages();
    int tone() const { return m_tone; }

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

bool Participant::join(const NetworkLab &lab, Host host, const QString &portal)
{
    const QString settings = m_folder.filePath(QStringLiteral("engine.ecf"));
    QFile file(settings);
    if (!file.open(QIODevice::WriteOnly) || !QDir(m_folder.path()).mkdir(QStringLiteral("sound")))
        return false;
    file.write(QStringLiteral("[engine]\naudioRecordFolder=%1\ntoneFrequency=%2\n")
                   .arg(m_folder.filePath(QStringLiteral("sound")))
                   .arg(m_tone)
                   .toUtf8());
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
    m_driver.write(
        QStringLiteral("login %1 %1%2 %3\n").arg(m_user, QStringLiteral("1234"), portal).toUtf8());
    if (m_lines.startingWith(QStringLiteral("loginSuccess"), 15000).isEmpty())
        return false;
    m_driver.write(("settings " + settings + "\nentity 1002\njoin 1002\n").toUtf8());
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
    void homeAndOfficeSeeAndHearEachOther();

private:
    std::unique_ptr<NetworkLab> m_lab;
    std::unique_ptr<ServicesProcess> m_services;
};

void TestLabCallEndToEnd::initTestCase()
{
    if (const QString why = NetworkLab::unavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty())
        QSKIP("Janus is not installed");
    m_lab = std::make_unique<NetworkLab>();
    QVERIFY2(m_lab->build(), qPrintable(m_lab->error()));
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES),
                                                   NetworkLab::address(Host::Server));
    m_services->setLauncher(m_lab->launcher(Host::Server));
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));
}

void TestLabCallEndToEnd::homeAndOfficeSeeAndHearEachOther()
{
    Participant home(QStringLiteral("alice"), 440), office(QStringLiteral("bob"), 660);
    QVERIFY(home.join(*m_lab, Host::Home, m_services->portal()));
    QVERIFY(office.join(*m_lab, Host::Office, m_services->portal()));
    // What the deployment handed either engine points at the server, never at loopback.
    for (Participant *p : {&home, &office}) {
        QTRY_VERIFY(!p->mediaMessages().isEmpty());
        for (const QString &message : p->mediaMessages())
            QVERIFY2(!message.contains(QStringLiteral("127.")) &&
                         !message.contains(QStringLiteral("localhost")) &&
                         !message.contains(QStringLiteral("::1")),
                     qPrintable(message));
    }
    QTRY_VERIFY_WITH_TIMEOUT(home.intactPictures() > 10, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(office.intactPictures() > 10, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(home.level(office.tone()) > heard, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(office.level(home.tone()) > heard, 10000);
}

QTEST_GUILESS_MAIN(TestLabCallEndToEnd)
#include "tst_labcall_e2e.moc"
