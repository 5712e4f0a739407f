#include "services/Certificate.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace {

QString altName(const QString &name)
{
    return QHostAddress(name).isNull() ? QStringLiteral("DNS:") + name
                                       : QStringLiteral("IP:") + name;
}

/// Whether the certificate at `path` names every one of `names`.
bool names(const QString &path, const QStringList &names)
{
    const auto certificates = QSslCertificate::fromPath(path);
    if (certificates.isEmpty())
        return false;
    const auto held = certificates.first().subjectAlternativeNames();
    return std::all_of(names.begin(), names.end(), [&held](const QString &name) {
        const QHostAddress address(name);
        return address.isNull()
                   ? held.contains(QSsl::DnsEntry, name)
                   : std::any_of(held.begin(), held.end(), [&address](const QString &entry) {
                         return QHostAddress(entry) == address;
                     });
    });
}

bool make(const QString &dir, const QStringList &names, QString *error)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        *error = QStringLiteral("openssl is missing");
        return false;
    }
    QStringList alt;
    for (const QString &name : names)
        alt.append(altName(name));
    alt.append(QStringLiteral("DNS:localhost"));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl,
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   dir + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                   dir + QStringLiteral("/cert.pem"), QStringLiteral("-days"),
                   QStringLiteral("3650"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=") + names.first(), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + alt.join(u',')});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        *error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    QFile::setPermissions(dir + QStringLiteral("/key.pem"), QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

} // namespace

bool Certificate::load(const QString &dir, const QStringList &names, QSslCertificate *certificate,
                       QSslKey *key, QString *error)
{
    // A deployment given a new public name gets a certificate that names it.
    if ((!QFile::exists(dir + QStringLiteral("/key.pem")) ||
         !::names(dir + QStringLiteral("/cert.pem"), names)) &&
        !make(dir, names, error))
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
