#include "services/Certificate.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>

namespace {

bool make(const QString &dir, const QString &host, QString *error)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        *error = QStringLiteral("openssl is missing");
        return false;
    }
    const QString name =
        QHostAddress(host).isNull() ? QStringLiteral("DNS:") + host : QStringLiteral("IP:") + host;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl,
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   dir + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                   dir + QStringLiteral("/cert.pem"), QStringLiteral("-days"),
                   QStringLiteral("3650"), QStringLiteral("-subj"), QStringLiteral("/CN=") + host,
                   QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + name + QStringLiteral(",DNS:localhost")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        *error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    QFile::setPermissions(dir + QStringLiteral("/key.pem"), QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

} // namespace

bool Certificate::load(const QString &dir, const QString &host, QSslCertificate *certificate,
                       QSslKey *key, QString *error)
{
    if ((!QFile::exists(dir + QStringLiteral("/cert.pem")) ||
         !QFile::exists(dir + QStringLiteral("/key.pem"))) &&
        !make(dir, host, error))
        return false;
    QFile certFile(dir + QStringLiteral("/cert.pem"));
    QFile keyFile(dir + QStringLiteral("/key.pem"));
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the certificate");
        return false;
    }
    *certificate = QSslCertificate(&certFile, QSsl::Pem);
    *key = QSslKey(&keyFile, QSsl::Rsa, QSsl::Pem);
    if (certificate->isNull() || key->isNull()) {
        *error = QStringLiteral("the certificate or its key is broken");
        return false;
    }
    return true;
}
