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
    /// Runs the same derivation as a check against a real account, for a name that has none,
    /// so that an unknown name answers no faster than a wrong password.
    static void verifyNothing(const QString &password);
    /// Password derivations this process has run for checks: a test's view of the cost.
    static quint64 checksRun();
};
