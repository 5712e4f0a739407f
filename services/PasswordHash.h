#pragma once

#include <QByteArray>
#include <QString>

/// Salted PBKDF2-SHA256 password hashes.
class PasswordHash final
{
public:
    static QByteArray newSalt();
    static QByteArray hash(const QString &password, const QByteArray &salt);
    static bool verify(const QString &password, const QByteArray &salt, const QByteArray &hash);
};
