#include "services/TurnCredentials.h"

#include "bridge/shared/ConferenceMessages.h"
#include "services/ServicesConfig.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QMessageAuthenticationCode>

namespace CF = ConferenceMessages::Field;

namespace {

/// "host:port", an IPv6 address in brackets.
QString authority(const QString &host, int port)
{
    const QHostAddress address(host);
    const bool v6 = !address.isNull() && address.protocol() == QAbstractSocket::IPv6Protocol;
    return (v6 ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

} // namespace

TurnCredentials::TurnCredentials(const ServicesConfig &config, QByteArray secret)
    : m_secret(std::move(secret))
    , m_lifetimeS(config.turnLifetimeS)
{
    QString host = config.advertisedHost();
    int port = config.turnPort;
    if (!config.externalTurn.isEmpty()) {
        const int colon = config.externalTurn.lastIndexOf(u':');
        const bool hasPort = colon > 0 && !config.externalTurn.endsWith(u']');
        host = hasPort ? config.externalTurn.left(colon) : config.externalTurn;
        port = hasPort ? config.externalTurn.mid(colon + 1).toInt() : 3478;
        if (host.startsWith(u'['))
            host = host.mid(1, host.size() - 2);
    }
    const QString at = authority(host, port);
    m_stun = {QStringLiteral("stun:") + at};
    m_turn = {QStringLiteral("turn:%1?transport=udp").arg(at),
              QStringLiteral("turn:%1?transport=tcp").arg(at)};
    if (!config.turnCert.isEmpty() && !config.turnKey.isEmpty())
        m_turn.append(
            QStringLiteral("turns:%1?transport=tcp").arg(authority(host, config.turnTlsPort)));
}

QString TurnCredentials::password(const QByteArray &secret, const QString &userName)
{
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(userName.toUtf8(), secret, QCryptographicHash::Sha1)
            .toBase64());
}

QJsonArray TurnCredentials::iceServers(const QString &who, qint64 expiry) const
{
    const QString user = QString::number(expiry) + u':' + who;
    return {QJsonObject{{CF::Urls, QJsonArray::fromStringList(m_stun)}},
            QJsonObject{{CF::Urls, QJsonArray::fromStringList(m_turn)},
                        {CF::UserName, user},
                        {CF::Credential, password(m_secret, user)}}};
}
