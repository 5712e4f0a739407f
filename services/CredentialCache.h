#pragma once

#include "services/Account.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>

#include <optional>

class ServiceDatabase;

/// Remembers credentials that passed the password check until they go unused for a few
/// minutes, so that the portal's every request (each carries the password) costs a lookup
/// instead of a PBKDF2.
/// Entries are keyed by an HMAC of name and password under a key made fresh for each process,
/// so the memory holds no password; an entry counts only while the account's stored hash is
/// still the one it was checked against, so a password change anywhere (a portal request, the
/// account command in another process) or a disabled account drops it.
class CredentialCache final
{
public:
    explicit CredentialCache(int lifetimeMs = 5 * 60 * 1000, int maxEntries = 50000);

    /// The account these credentials sign in to, or nothing; checks the password only when
    /// no valid entry vouches for them.
    std::optional<Account> authenticate(const ServiceDatabase &db, const QString &userName,
                                        const QString &password);
    /// 0 turns the cache off: every request is checked in full.
    void setLifetime(int lifetimeMs) { m_lifetimeMs = lifetimeMs; }
    int size() const { return int(m_entries.size()); }

private:
    struct Entry
    {
        QByteArray storedHash;
        qint64 expiresMs = 0;
    };

    QByteArray keyOf(const QString &userName, const QString &password) const;
    void remember(const QByteArray &key, const QByteArray &storedHash);

    QByteArray m_secret;
    int m_lifetimeMs;
    int m_maxEntries;
    QHash<QByteArray, Entry> m_entries;
    QElapsedTimer m_clock;
};
