#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

/// Janus of a running deployment, asked over its HTTP API as anyone who knows where it listens
/// and holds the deployment's token secret (read from Janus's configuration), unless told to
/// come without a token.
class JanusProbe
{
public:
    /// `dataPath` is the deployment's data folder, where Janus's configuration lies.
    explicit JanusProbe(const QString &dataPath);

    /// One request; its answer, or the event that follows an "ack". Empty when none came.
    QJsonObject request(const QString &path, QJsonObject body) const;
    /// The same with the given token ("": none) instead of one signed with the secret.
    QJsonObject requestWithToken(const QString &path, QJsonObject body, const QString &token) const;
    /// Janus's secrets as a deployment that uses it as a relay of its own reads them
    /// ("name = value" lines).
    QString relaySecrets() const;
    /// A token of Janus's token_auth signed with the deployment's secret.
    QString signedToken() const;
    /// A new session's handle on the video room, as "/session/handle"; empty when refused.
    QString attachToVideoRoom() const;
    /// The video room plugin's answer to `body`, sent on `handle`.
    QJsonObject roomRequest(const QString &handle, const QJsonObject &body) const;
    /// Who is in `room`: publishers and subscribers by display.
    QStringList inRoom(qint64 room) const;
    /// How many shares publish in `room`.
    qsizetype sharesIn(qint64 room) const;

private:
    QString m_dataPath;
};
