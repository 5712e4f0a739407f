#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QStringList>

struct ServicesConfig;

/// The STUN and TURN servers handed to an engine, with time-limited TURN credentials: the
/// user name is "<expiry unix time>:<who>", the password base64(HMAC-SHA1(secret, user
/// name)). Any TURN server holding the same secret (coturn's use-auth-secret) checks them
/// without asking the deployment, and refuses them once expired.
class TurnCredentials final
{
public:
    /// Servers at the public name (or the external TURN server the configuration names).
    TurnCredentials(const ServicesConfig &config, QByteArray secret);

    /// The `iceServers` array for `who`, its credentials valid until `expiry` (unix seconds).
    QJsonArray iceServers(const QString &who, qint64 expiry) const;
    int lifetimeS() const { return m_lifetimeS; }
    QStringList turnUrls() const { return m_turn; }

    static QString password(const QByteArray &secret, const QString &userName);

private:
    QByteArray m_secret;
    QStringList m_stun;
    QStringList m_turn;
    int m_lifetimeS = 0;
};
