#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <memory>

class QByteArray;
class QHostAddress;
class ServiceDatabase;
class SharedThrottleCounts;

/// Slows down and then shuts out repeated failures (wrong passwords, wrong room PINs), counted
/// separately per client address and per subject (an account or a room). A failure's answer is
/// held longer the more failures came before it; past a limit, attempts are refused without
/// being checked until a lockout window has passed. A success clears both counts.
class Throttle final
{
public:
    struct Policy
    {
        int freeFailures = 3;    ///< failures answered at once
        int firstDelayMs = 250;  ///< the next one is held this long, doubling after that
        int maxDelayMs = 8000;   ///< up to this
        int lockoutAfter = 10;   ///< failures that shut attempts out
        int lockoutMs = 300000;  ///< for this long
        int forgetMs = 900000;   ///< a count without failures for this long is forgotten
        int maxEntries = 100000; ///< bounded memory: the oldest counts go first
    };

    /// `what` names the attempts in the log ("sign-in", "guest join").
    Throttle(const char *what, const Policy &perAddress, const Policy &perSubject);
    ~Throttle();
    Throttle(const Throttle &) = delete;
    Throttle &operator=(const Throttle &) = delete;

    /// Keeps the counts in `db`, together with the other instances on it, from now on.
    void shareIn(const ServiceDatabase &db);

    void setPolicies(const Policy &perAddress, const Policy &perSubject);
    /// Whether attempts from `address` or on `subject` are shut out now.
    bool locked(const QString &address, const QString &subject);
    /// Counts a failure; returns how long to hold its answer, in milliseconds.
    int failed(const QString &address, const QString &subject);
    void succeeded(const QString &address, const QString &subject);
    /// Counts held now (for the memory bound).
    int size() const { return int(m_counts.size()); }

    /// The address a request came from: behind the deployment's own TLS front (a loopback
    /// peer), the last one the front added to X-Forwarded-For.
    static QString clientAddress(const QHostAddress &peer, const QByteArray &forwardedFor,
                                 bool behindFront);

private:
    struct Count
    {
        int failures = 0;
        qint64 lastFailureMs = 0;
        qint64 lockedUntilMs = 0;
    };

    bool lockedKey(const QString &key);
    int fail(const QString &key, const Policy &policy);
    /// The failures counted on `key` so far, this one included; a lockout starts at its limit.
    int count(const QString &key, const Policy &policy);
    int countShared(const QString &key, const Policy &policy);
    void forgetStale();
    void forgetStaleShared();
    /// Milliseconds: on a steady clock, or since the epoch where the counts are shared.
    qint64 now() const;
    QString sharedKey(const QString &key) const { return QString::fromLatin1(m_what) + u'/' + key; }

    const char *m_what;
    Policy m_address;
    Policy m_subject;
    QHash<QString, Count> m_counts;
    QElapsedTimer m_clock;
    std::unique_ptr<SharedThrottleCounts> m_shared;
    qint64 m_lastForgotten = 0; ///< when the shared counts were last swept
};
