#pragma once

#include <QSslCertificate>
#include <QSslKey>

/// The TLS port's self-signed certificate, made with openssl at first start.
class Certificate final
{
public:
    /// Loads cert.pem and key.pem of `dir`, making them for `host` when missing.
    static bool load(const QString &dir, const QString &host, QSslCertificate *certificate,
                     QSslKey *key, QString *error);
};
