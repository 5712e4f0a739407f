#include "services/CredentialCache.h"

#include "services/ServiceDatabase.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

CredentialCache::CredentialCache(int lifetimeMs, int maxEntries)
    : m_secret(32, Qt::Uninitialized)
    , m_lifetimeMs(lifetimeMs)
    , m_maxEntries(maxEntries)
{
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(m_secret.data()),
                                          m_secret.size() / 4);
    m_clock.start();
}

QByteArray CredentialCache::keyOf(const QString &userName, const QString &password) const
{
    // The name's length first: "ab"+"c" and "a"+"bc" are different credentials.
    const QByteArray name = userName.toUtf8();
    return QMessageAuthenticationCode::hash(QByteArray::number(name.size()) + ':' + name + ':' +
                                                password.toUtf8(),
                                            m_secret, QCryptographicHash::Sha256);
}

std::optional<Account> CredentialCache::authenticate(const ServiceDatabase &db,
                                                     const QString &userName,
                                                     const QString &password)
{
    if (m_lifetimeMs <= 0)
        return db.authenticate(userName, password);
    const QByteArray key = keyOf(userName, password);
    const auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        const qint64 now = m_clock.elapsed();
        if (it->expiresMs > now && it->storedHash == db.passwordHash(userName)) {
            // A client in use refreshes every 30 s: it is checked again only after a pause.
            it->expiresMs = now + m_lifetimeMs;
            return db.account(userName);
        }
        m_entries.erase(it);
    }
    const QByteArray storedHash = db.passwordHash(userName);
    auto account = db.authenticate(userName, password);
    if (account && !storedHash.isEmpty())
        remember(key, storedHash);
    return account;
}

void CredentialCache::remember(const QByteArray &key, const QByteArray &storedHash)
{
    const qint64 now = m_clock.elapsed();
    if (m_entries.size() >= m_maxEntries) {
        m_entries.removeIf(
            [now](const QHash<QByteArray, Entry>::iterator &it) { return it->expiresMs <= now; });
        if (m_entries.size() >= m_maxEntries)
            m_entries.clear(); // only a flood of valid sign-ins gets here: they check again
    }
    m_entries.insert(key, {storedHash, now + m_lifetimeMs});
}
