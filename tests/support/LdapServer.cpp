#include "tests/support/LdapServer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString slapd = QStringLiteral("/usr/sbin/slapd");
const QString slapadd = QStringLiteral("/usr/sbin/slapadd");
const QString schemaDir = QStringLiteral("/etc/ldap/schema");
const QString moduleDir = QStringLiteral("/usr/lib/ldap");
const QString adminPassword = QStringLiteral("directory-admin-secret");

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

/// An LDIF attribute line; values in base64, since names may be in any script.
QString attribute(const QString &name, const QString &value)
{
    return name + QStringLiteral(":: ") + QString::fromLatin1(value.toUtf8().toBase64()) + u'\n';
}

bool write(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

LdapServer::LdapServer()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

LdapServer::~LdapServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
}

QString LdapServer::unavailable()
{
    if (!QFile::exists(slapd) || !QFile::exists(slapadd))
        return QStringLiteral("slapd is not installed (Debian package slapd)");
    if (!QFile::exists(schemaDir + QStringLiteral("/inetorgperson.schema")))
        return QStringLiteral("slapd's schema files are missing");
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        return QStringLiteral("openssl is not installed");
    return {};
}

QString LdapServer::ldapsUrl() const
{
    return QStringLiteral("ldaps://127.0.0.1:%1").arg(m_ldapsPort);
}

QString LdapServer::ldapUrl() const
{
    return QStringLiteral("ldap://127.0.0.1:%1").arg(m_ldapPort);
}

QString LdapServer::adminPasswordFile() const
{
    return m_dir.filePath(QStringLiteral("admin-password"));
}

QString LdapServer::caFile() const
{
    return m_dir.filePath(QStringLiteral("ca.pem"));
}

QString LdapServer::otherCaFile() const
{
    return m_dir.filePath(QStringLiteral("other-ca.pem"));
}

bool LdapServer::run(const QString &program, const QStringList &arguments, QString *error) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    process.start(program, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    *error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
    return false;
}

bool LdapServer::makeCertificates(QString *error) const
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QStringList ecKey{QStringLiteral("-newkey"), QStringLiteral("ec"),
                            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                            QStringLiteral("-nodes")};
    auto ca = [&](const QString &name, const QString &subject) {
        return run(openssl,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                       QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                                   QStringLiteral("-out"), name + QStringLiteral(".pem"),
                                   QStringLiteral("-days"), QStringLiteral("2"),
                                   QStringLiteral("-subj"), subject},
                   error);
    };
    const QString extensions =
        QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                       "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n");
    return ca(QStringLiteral("ca"), QStringLiteral("/CN=Orvale test directory CA")) &&
           ca(QStringLiteral("other-ca"), QStringLiteral("/CN=Some other CA")) &&
           write(m_dir.filePath(QStringLiteral("server.ext")), extensions) &&
           run(openssl,
               QStringList{QStringLiteral("req")} + ecKey +
                   QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                               QStringLiteral("-out"), QStringLiteral("server.csr"),
                               QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")},
               error) &&
           run(openssl,
               {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-extfile"), QStringLiteral("server.ext"), QStringLiteral("-out"),
                QStringLiteral("server.pem")},
               error);
}

bool LdapServer::writeConfiguration(const QList<Person> &people, QString *error) const
{
    const QString dir = m_dir.path();
    // Anonymous clients may only bind; people see themselves, the administrator all.
    const QString config =
        QStringLiteral("include %1/core.schema\ninclude %1/cosine.schema\n"
                       "include %1/inetorgperson.schema\n"
                       "modulepath %2\nmoduleload back_mdb\n"
                       "pidfile %3/slapd.pid\nargsfile %3/slapd.args\n"
                       "TLSCACertificateFile %3/ca.pem\nTLSCertificateFile %3/server.pem\n"
                       "TLSCertificateKeyFile %3/server.key\n"
                       "database mdb\nmaxsize 16777216\nsuffix \"dc=orvale,dc=test\"\n"
                       "rootdn \"cn=admin,dc=orvale,dc=test\"\nrootpw %4\ndirectory %3/db\n"
                       "access to attrs=userPassword by anonymous auth by * none\n"
                       "access to * by self read by anonymous auth by * none\n")
            .arg(schemaDir, moduleDir, dir, adminPassword);
    QString ldif = QStringLiteral("dn: dc=orvale,dc=test\nobjectClass: dcObject\n"
                                  "objectClass: organization\ndc: orvale\no: Orvale\n\n"
                                  "dn: ou=people,dc=orvale,dc=test\n"
                                  "objectClass: organizationalUnit\nou: people\n");
    for (const Person &p : people) {
        ldif += QStringLiteral("\ndn: uid=%1,ou=people,dc=orvale,dc=test\n"
                               "objectClass: inetOrgPerson\nuid: %1\n")
                    .arg(p.uid);
        ldif += attribute(QStringLiteral("cn"), p.displayName) +
                attribute(QStringLiteral("sn"), p.uid) +
                attribute(QStringLiteral("displayName"), p.displayName) +
                attribute(QStringLiteral("mail"), p.mail) +
                attribute(QStringLiteral("telephoneNumber"), p.phone) +
                attribute(QStringLiteral("userPassword"), p.password);
    }
    if (!m_dir.isValid() || !QDir(dir).mkpath(QStringLiteral("db")) ||
        !write(m_dir.filePath(QStringLiteral("slapd.conf")), config) ||
        !write(m_dir.filePath(QStringLiteral("people.ldif")), ldif) ||
        !write(adminPasswordFile(), adminPassword + u'\n')) {
        *error = QStringLiteral("cannot write the directory's files in ") + dir;
        return false;
    }
    return run(slapadd,
               {QStringLiteral("-q"), QStringLiteral("-f"),
                m_dir.filePath(QStringLiteral("slapd.conf")), QStringLiteral("-l"),
                m_dir.filePath(QStringLiteral("people.ldif"))},
               error);
}

bool LdapServer::start(const QList<Person> &people, QString *error)
{
    if (!makeCertificates(error) || !writeConfiguration(people, error))
        return false;
    m_ldapsPort = freePort();
    m_ldapPort = freePort();
    // -d keeps slapd in the foreground, a child that goes with the test.
    m_process.start(slapd, {QStringLiteral("-d"), QStringLiteral("0"), QStringLiteral("-f"),
                            m_dir.filePath(QStringLiteral("slapd.conf")), QStringLiteral("-h"),
                            ldapsUrl() + u' ' + ldapUrl()});
    const bool up = QTest::qWaitFor(
        [this] {
            if (m_process.state() == QProcess::NotRunning)
                return true;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_ldapsPort);
            return probe.waitForConnected(200);
        },
        20000);
    if (up && m_process.state() == QProcess::Running)
        return true;
    *error = QStringLiteral("slapd did not start: ") + QString::fromLocal8Bit(m_process.readAll());
    return false;
}
