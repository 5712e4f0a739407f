#include "tests/support/ServicesProcess.h"

#include "services/DatabaseSettings.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

ServicesProcess::ServicesProcess(const QString &executable, const QString &host,
                                 const QStringList &extraArguments)
    : m_executable(executable)
    , m_host(host)
    , m_extraArguments(extraArguments)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test that crashes leaves no deployment behind holding its ports for the next run.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

ServicesProcess::~ServicesProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
}

bool ServicesProcess::start(bool media)
{
    QStringList arguments{QStringLiteral("--host"),        m_host,
                          QStringLiteral("--login-port"),  QStringLiteral("8080"),
                          QStringLiteral("--tls-port"),    QStringLiteral("9090"),
                          QStringLiteral("--portal-port"), QStringLiteral("0"),
                          QStringLiteral("--data"),        m_data.path()};
    if (!media)
        arguments.append(QStringLiteral("--no-media"));
    if (m_demo)
        arguments.append(QStringLiteral("--demo"));
    const QStringList command =
        m_launcher + QStringList{m_executable} + arguments + m_extraArguments;
    m_process.start(command.first(), command.mid(1));
    if (!m_process.waitForStarted())
        return false;
    const QRegularExpression line(QStringLiteral("portal=(\\d+)"));
    return QTest::qWaitFor(
               [this, &line] {
                   m_output += QString::fromUtf8(m_process.readAll());
                   const auto match = line.match(m_output);
                   if (match.hasMatch())
                       m_portalPort = quint16(match.captured(1).toUInt());
                   return m_portalPort != 0 || m_process.state() == QProcess::NotRunning;
               },
               20000) &&
           m_portalPort != 0;
}

QString ServicesProcess::portal() const
{
    return QStringLiteral("http://%1:%2").arg(m_host).arg(m_portalPort);
}

QString ServicesProcess::roomKey(qint64 entityId) const
{
    // The deployment's own database: the data folder's SQLite file, or the one --database names.
    DatabaseSettings settings =
        DatabaseSettings::sqlite(m_data.filePath(QStringLiteral("orvale.sqlite")));
    const qsizetype named = m_extraArguments.indexOf(QStringLiteral("--database"));
    QString why;
    if (named >= 0 && named + 1 < m_extraArguments.size() &&
        !DatabaseSettings::parse(m_extraArguments.at(named + 1), settings.sqlitePath, &settings,
                                 &why))
        qWarning("%s", qPrintable(why));
    const qsizetype passwordFile =
        m_extraArguments.indexOf(QStringLiteral("--database-password-file"));
    if (passwordFile >= 0 && passwordFile + 1 < m_extraArguments.size() &&
        !settings.readPasswordFile(m_extraArguments.at(passwordFile + 1), &why))
        qWarning("%s", qPrintable(why));
    QString key;
    {
        auto db = QSqlDatabase::addDatabase(settings.postgres() ? QStringLiteral("QPSQL")
                                                                : QStringLiteral("QSQLITE"),
                                            QStringLiteral("roomKey"));
        db.setDatabaseName(settings.postgres() ? settings.databaseName : settings.sqlitePath);
        db.setHostName(settings.hostName);
        db.setPort(settings.port);
        db.setUserName(settings.userName);
        db.setPassword(settings.password);
        db.setConnectOptions(settings.connectOptions);
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("SELECT roomKey FROM entities WHERE entityID = ?"));
            q.addBindValue(entityId);
            if (q.exec() && q.next())
                key = q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("roomKey"));
    return key;
}
