#include "tests/support/LabParticipant.h"

#include "tests/support/MediaMeasures.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTest>

#include <limits>

LabParticipant::LabParticipant(const QString &user, int tone)
    : m_user(user)
    , m_tone(tone)
{
    // Each line is stamped as it comes: renewals are told apart by when they arrived.
    QObject::connect(&m_driver, &QProcess::readyReadStandardError, &m_driver,
                     [this] { readLog(); });
}

LabParticipant::~LabParticipant()
{
    stopDriver(m_driver);
}

QString LabParticipant::signIn(const NetworkLab &lab, NetworkLab::Host host, const QString &portal,
                               const QString &certificate, int timeoutMs)
{
    if (!start(lab, host, certificate))
        return {};
    m_driver.write(
        QStringLiteral("login %1 %1%2 %3\n").arg(m_user, QStringLiteral("1234"), portal).toUtf8());
    QString answer;
    (void)QTest::qWaitFor(
        [&] {
            answer = m_lines.startingWith(QStringLiteral("loginSuccess"), 0);
            if (answer.isEmpty())
                answer = m_lines.startingWith(QStringLiteral("error:"), 0);
            return !answer.isEmpty();
        },
        timeoutMs);
    return answer;
}

bool LabParticipant::join(const NetworkLab &lab, NetworkLab::Host host, const QString &portal,
                          const QString &certificate)
{
    return signIn(lab, host, portal, certificate, 15000) == u"loginSuccess" && join();
}

bool LabParticipant::join()
{
    m_driver.write("entity 1002\njoin 1002\n");
    return !m_lines.startingWith(QStringLiteral("conference"), 15000).isEmpty();
}

bool LabParticipant::leave()
{
    m_driver.write("leave\n");
    return !m_lines.startingWith(QStringLiteral("endConference"), 15000).isEmpty();
}

ReceivedMedia LabParticipant::received() const
{
    return ReceivedMedia(m_folder.filePath(QStringLiteral("stamps")),
                         m_folder.filePath(QStringLiteral("sound")));
}

int LabParticipant::intactPictures() const
{
    return int(received().intactPictures(0, std::numeric_limits<qint64>::max()).size());
}

double LabParticipant::level(int tone) const
{
    const QString recording = received().recording();
    return recording.isEmpty() ? 0 : levelAt(recording, tone);
}

QString LabParticipant::sound() const
{
    QStringList files;
    const QDir folder(m_folder.filePath(QStringLiteral("sound")));
    for (const QFileInfo &f : folder.entryInfoList(QDir::Files, QDir::Time))
        files << QStringLiteral("%1 %2 bytes").arg(f.fileName()).arg(f.size());
    return files.join(QStringLiteral(", "));
}

QList<LabParticipant::Logged> LabParticipant::logged(const QString &text) const
{
    QList<Logged> found;
    for (const Logged &l : m_log)
        if (l.line.contains(text))
            found.append(l);
    return found;
}

void LabParticipant::tell(const QString &command)
{
    m_lines.forget(); // an answer that came too late for an earlier call is not this one
    m_driver.write((command + u'\n').toUtf8());
}

QString LabParticipant::awaitLine(const QString &prefix, int timeoutMs)
{
    return m_lines.startingWith(prefix, timeoutMs);
}

QString LabParticipant::ask(const QString &command, const QString &answer, int timeoutMs)
{
    tell(command);
    return awaitLine(answer, timeoutMs);
}

QString LabParticipant::details(int timeoutMs)
{
    m_lines.forget(); // an answer that came too late for an earlier call is not this one
    if (m_driver.write("details\n") <= 0)
        return {};
    return m_lines.startingWith(QStringLiteral("details:"), timeoutMs);
}

bool LabParticipant::start(const NetworkLab &lab, NetworkLab::Host host, const QString &certificate)
{
    const QString settings = m_folder.filePath(QStringLiteral("engine.ecf"));
    if (!writeSettings(settings, certificate))
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVALE_FRAME_STAMPS"),
                       m_folder.filePath(QStringLiteral("stamps")));
    // The media messages and TURN renewals the tests read are logged at debug level.
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("orvale.media.debug=true"));
    m_driver.setProcessEnvironment(environment);
    lab.start(m_driver, host, QStringLiteral(ORVALE_ENGINE_DRIVER), {QStringLiteral("--view")});
    if (m_lines.startingWith(QStringLiteral("ready"), 15000).isEmpty())
        return false;
    // The client's own requests trust what its engine does (the process's default).
    if (!certificate.isEmpty()) {
        m_driver.write(("trust " + certificate + '\n').toUtf8());
        if (m_lines.startingWith(QStringLiteral("trusting"), 15000).isEmpty())
            return false;
    }
    m_driver.write(("settings " + settings + '\n').toUtf8());
    return true;
}

bool LabParticipant::writeSettings(const QString &settings, const QString &certificate)
{
    QFile file(settings);
    if (!file.open(QIODevice::WriteOnly) || !QDir(m_folder.path()).mkdir(QStringLiteral("sound")))
        return false;
    file.write(QStringLiteral("[engine]\naudioRecordFolder=%1\ntoneFrequency=%2\n")
                   .arg(m_folder.filePath(QStringLiteral("sound")))
                   .arg(m_tone)
                   .toUtf8());
    if (!certificate.isEmpty())
        file.write("caFile=" + certificate.toUtf8() + '\n');
    return true;
}

void LabParticipant::readLog()
{
    m_pending += m_driver.readAllStandardError();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        m_log.append({now, QString::fromUtf8(m_pending.left(end))});
        m_pending.remove(0, end + 1);
    }
}
