#include "services/CredentialCache.h"

#include "services/ServiceDatabase.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <algorithm>

namespace {

/// How long a directory person's verified credentials count, used or not.
constexpr int directoryLifetimeMs = 2 * 60 * 1000;

} // namespace

CredentialCache::CredentialCache(int lifetimeMs, int maxEntries)
    : m_secret(32, Qt::Uninitialized)
    , m_lifetimeMs(lifetimeMs)
    , m_maxEntries(maxEntries)
{
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(m_secret.data()),
                                          m_secret.size() / 4);
    m_clock.start();
}

CredentialCache::Stamp CredentialCache::stampOf(const ServiceDatabase &db, const QString &userName)
{
    if (!db.isDirectoryAccount(userName))
        return {db.passwordHash(userName), false};
    // Gone from the directory, back with a new entry, or disabled here: no longer the same.
    const std::optional<Account> account = db.activeAccount(userName);
    return {account ? "directory:" + QByteArray::number(account->entityID) : QByteArray(), true};
}

QByteArray CredentialCache::keyOf(const QString &userName, const QString &password) const
{
    // The name's length first: "ab"+"c" and "a"+"bc" are different credentials.
    const QByteArray name = userName.toUtf8();
    return QMessageAuthenticationCode::hash(QByteArray::number(name.size()) + ':' + name + ':' +
                                                password.toUtf8(),
                                            m_secret, QCryptographicHash::Sha256);
}

std::optional<Account> CredentialCache::find(const ServiceDatabase &db, const QByteArray &key,
                                             const QString &userName)
{
    const auto it = m_entries.find(key);
    if (it == m_entries.end())
        return std::nullopt;
    const qint64 now = m_clock.elapsed();
    if (m_lifetimeMs > 0 && it->expiresMs > now && it->stamp == stampOf(db, userName).value) {
        // A client in use refreshes every 30 s: it is checked again only after a pause.
        if (!it->directory)
            it->expiresMs = now + m_lifetimeMs;
        return db.activeAccount(userName);
    }
    m_entries.erase(it);
    return std::nullopt;
}

void CredentialCache::remember(const QByteArray &key, const Stamp &stamp)
{
    if (m_lifetimeMs <= 0 || stamp.value.isEmpty())
        return;
    const qint64 now = m_clock.elapsed();
    if (m_entries.size() >= m_maxEntries) {
        m_entries.removeIf(
            [now](const QHash<QByteArray, Entry>::iterator &it) { return it->expiresMs <= now; });
        if (m_entries.size() >= m_maxEntries)
            m_entries.clear(); // only a flood of valid sign-ins gets here: they check again
    }
    const int lifetime =
        stamp.directory ? std::min(m_lifetimeMs, directoryLifetimeMs) : m_lifetimeMs;
    m_entries.insert(key, {stamp.value, now + lifetime, stamp.directory});
}
