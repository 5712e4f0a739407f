#include "tests/support/PostgresServer.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString binDir = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString password = QStringLiteral("orvale-database-secret");

quint16 freePort(const QString &address)
{
    QTcpServer probe;
    probe.listen(QHostAddress(address), 0);
    return probe.serverPort();
}

/// Root's temporary folder may be one the server's user cannot reach; /tmp is everyone's.
QString folderTemplate()
{
    return (::geteuid() == 0 ? QStringLiteral("/tmp") : QDir::tempPath()) +
           QStringLiteral("/orvale-postgres-XXXXXX");
}

} // namespace

PostgresServer::PostgresServer()
    : m_dir(folderTemplate())
{
    if (::geteuid() == 0) {
        if (const passwd *user = ::getpwnam("postgres")) {
            m_uid = user->pw_uid;
            m_gid = user->pw_gid;
        }
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

PostgresServer::~PostgresServer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // A fast shutdown: a smart one (SIGTERM) would wait for the test's connections to close.
    ::kill(pid_t(m_process.processId()), SIGINT);
    if (!m_process.waitForFinished(15000))
        m_process.kill();
}

QString PostgresServer::unavailable()
{
    if (!QFile::exists(binDir + QStringLiteral("initdb")) ||
        !QFile::exists(binDir + QStringLiteral("postgres")))
        return QStringLiteral("PostgreSQL 15 is not installed (Debian package postgresql-15)");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return QStringLiteral("Qt's PostgreSQL driver is not installed (Debian package "
                              "libqt6sql6-psql)");
    if (::geteuid() == 0 && !::getpwnam("postgres"))
        return QStringLiteral("run by root, PostgreSQL needs the postgres user (made by the "
                              "Debian package postgresql-15)");
    return {};
}

void PostgresServer::start(QProcess &process, const QString &program,
                           const QStringList &arguments) const
{
    process.setWorkingDirectory(m_dir.path());
    QStringList command = QStringList{program} + arguments;
    // The launcher runs as root: setpriv changes the user after it, and execs, so that the
    // server stays the process that is signalled.
    if (m_uid != 0 && !m_launcher.isEmpty())
        command = QStringList{QStringLiteral("setpriv"),
                              QStringLiteral("--reuid=%1").arg(m_uid),
                              QStringLiteral("--regid=%1").arg(m_gid),
                              QStringLiteral("--clear-groups"),
                              QStringLiteral("--pdeathsig=INT"),
                              QStringLiteral("--")} +
                  command;
    command = m_launcher + command;
    const uid_t uid = m_launcher.isEmpty() ? m_uid : 0;
    const gid_t gid = m_gid;
    process.setChildProcessModifier([uid, gid] {
        if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(127);
        // After the user changed, which clears it: the server goes when the test dies.
        ::prctl(PR_SET_PDEATHSIG, SIGINT);
    });
    process.start(command.first(), command.mid(1));
}

bool PostgresServer::run(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    start(process, program, arguments);
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    *error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
    return false;
}

bool PostgresServer::writePassword(QString *error) const
{
    QFile file(passwordFile());
    if (file.open(QIODevice::WriteOnly) && file.write((password + u'\n').toUtf8()) > 0)
        return true;
    *error = QStringLiteral("cannot write ") + file.fileName();
    return false;
}

bool PostgresServer::start(QString *error, const QString &address)
{
    if (!m_dir.isValid() || !writePassword(error))
        return false;
    if (m_uid != 0 && ::chown(QFile::encodeName(m_dir.path()).constData(), m_uid, m_gid) != 0) {
        *error = QStringLiteral("cannot give %1 to the postgres user").arg(m_dir.path());
        return false;
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!run(binDir + QStringLiteral("initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), userName(),
              QStringLiteral("--pwfile=") + passwordFile(), QStringLiteral("--auth-local=trust"),
              QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync")},
             error))
        return false;
    // initdb lets TCP in from loopback only: instances on other hosts sign in with the password.
    QFile access(data + QStringLiteral("/pg_hba.conf"));
    if (!access.open(QIODevice::Append) ||
        access.write("host all all 0.0.0.0/0 scram-sha-256\nhost all all ::/0 scram-sha-256\n") <=
            0) {
        *error = QStringLiteral("cannot write ") + access.fileName();
        return false;
    }
    access.close();
    m_address = address;
    // A lab host's address is not this namespace's to probe: there the port is free anyway.
    m_port = m_launcher.isEmpty() ? freePort(address) : quint16(5432);
    // Durability is of no use to a test's throwaway cluster.
    start(m_process, binDir + QStringLiteral("postgres"),
          {QStringLiteral("-D"), data, QStringLiteral("-k"), m_dir.path(), QStringLiteral("-h"),
           address, QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-c"),
           QStringLiteral("fsync=off"), QStringLiteral("-c"),
           QStringLiteral("synchronous_commit=off"), QStringLiteral("-c"),
           QStringLiteral("full_page_writes=off")});
    QString seen;
    const bool ready = QTest::qWaitFor(
        [&] {
            seen += QString::fromLocal8Bit(m_process.readAll());
            return seen.contains(QStringLiteral("ready to accept connections")) ||
                   m_process.state() == QProcess::NotRunning;
        },
        30000);
    if (ready && m_process.state() == QProcess::Running)
        return true;
    *error = QStringLiteral("postgres did not start: ") + seen;
    return false;
}

bool PostgresServer::createDatabase(const QString &name, QString *error)
{
    const QString connection = QUuid::createUuid().toString();
    bool created = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(socketDir());
        db.setPort(m_port);
        db.setUserName(userName());
        db.setDatabaseName(QStringLiteral("postgres"));
        if (db.open()) {
            QSqlQuery q(db);
            created = q.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
            *error = q.lastError().text();
        } else {
            *error = db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return created;
}

QString PostgresServer::passwordFile() const
{
    return m_dir.filePath(QStringLiteral("password"));
}

QString PostgresServer::socketUrl(const QString &database) const
{
    return QStringLiteral("postgresql://%1@:%2/%3?host=%4")
        .arg(userName(), QString::number(m_port), database, socketDir());
}

QString PostgresServer::tcpUrl(const QString &database) const
{
    const QString host = m_address.contains(u':') ? u'[' + m_address + u']' : m_address;
    return QStringLiteral("postgresql://%1@%2:%3/%4")
        .arg(userName(), host, QString::number(m_port), database);
}
