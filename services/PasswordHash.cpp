#include "services/PasswordHash.h"

#include <QPasswordDigestor>
#include <QRandomGenerator>

#include <atomic>

namespace {
constexpr int iterations = 20000;
constexpr int keyLength = 32;
std::atomic<quint64> checks{0};
} // namespace

QByteArray PasswordHash::newSalt()
{
    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()),
                                          salt.size() / 4);
    return salt;
}

QByteArray PasswordHash::hash(const QString &password, const QByteArray &salt)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, keyLength);
}

bool PasswordHash::verify(const QString &password, const QByteArray &salt, const QByteArray &stored)
{
    ++checks;
    const QByteArray candidate = hash(password, salt);
    if (candidate.size() != stored.size())
        return false;
    unsigned char diff = 0; // constant time: no early exit on the first differing byte
    for (qsizetype i = 0; i < candidate.size(); ++i)
        diff |= static_cast<unsigned char>(candidate[i] ^ stored[i]);
    return diff == 0;
}

void PasswordHash::verifyNothing(const QString &password)
{
    static const QByteArray salt = newSalt();
    static const QByteArray stored(keyLength, '\0');
    (void)verify(password, salt, stored);
}

quint64 PasswordHash::checksRun()
{
    return checks.load();
}
