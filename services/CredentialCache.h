#pragma once

#include "services/Account.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>

#include <optional>

class ServiceDatabase;

/// Remembers credentials that passed the password check until they go unused for a few
/// minutes, so that the portal's every request (each carries the password) costs a lookup
/// instead of a PBKDF2 or a directory bind.
/// Entries are keyed by an HMAC of name and password under a key made fresh for each process,
/// so the memory holds no password; an entry counts only while the account's stamp is still
/// the one it was checked against, so a password change anywhere (a portal request, the
/// account command in another process) or a disabled account drops it.
/// The directory's people have no stored hash to compare: their entries last a short while
/// from their check, however much they are used, so a password changed in the directory
/// stops counting soon after.
class CredentialCache final
{
public:
    /// What an account's credentials are checked against now: its stored hash, or for a
    /// directory person their member entry; empty when the account may not sign in.
    struct Stamp
    {
        QByteArray value;
        bool directory = false;
    };

    explicit CredentialCache(int lifetimeMs = 5 * 60 * 1000, int maxEntries = 50000);

    static Stamp stampOf(const ServiceDatabase &db, const QString &userName);
    /// The keyed hash that stands for a name and password here.
    QByteArray keyOf(const QString &userName, const QString &password) const;
    /// The account `key` signs in to, when a valid entry vouches for it.
    std::optional<Account> find(const ServiceDatabase &db, const QByteArray &key,
                                const QString &userName);
    /// Remembers credentials that passed a check against `stamp`.
    void remember(const QByteArray &key, const Stamp &stamp);
    /// 0 turns the cache off: every request is checked in full.
    void setLifetime(int lifetimeMs) { m_lifetimeMs = lifetimeMs; }
    int size() const { return int(m_entries.size()); }

private:
    struct Entry
    {
        QByteArray stamp;
        qint64 expiresMs = 0;
        bool directory = false;
    };

    QByteArray m_secret;
    int m_lifetimeMs;
    int m_maxEntries;
    QHash<QByteArray, Entry> m_entries;
    QElapsedTimer m_clock;
};
