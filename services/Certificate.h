#pragma once

#include <QSslCertificate>
#include <QSslKey>

/// The TLS port's self-signed certificate, made with openssl at first start.
class Certificate final
{
public:
    /// Loads cert.pem and key.pem of `dir`, making them for `names` (host names or addresses,
    /// the first one its common name) when missing or made for other names.
    static bool load(const QString &dir, const QStringList &names, QSslCertificate *certificate,
                     QSslKey *key, QString *error);
};
