#pragma once

#include <QString>
#include <QStringList>

class QJsonArray;

/// The STUN and TURN servers of a call, from the service's `iceServers` list, in the form
/// webrtcbin takes them: "stun://host:port" and "turn(s)://user:password@host:port?transport=…"
/// with the user name and password escaped.
class IceServers final
{
public:
    static IceServers fromJson(const QJsonArray &servers);

    bool isEmpty() const { return m_stun.isEmpty() && m_turn.isEmpty(); }
    QString stun() const { return m_stun; }
    /// The first is webrtcbin's `turn-server`, the others go through `add-turn-server`.
    QStringList turn() const { return m_turn; }
    /// Whether connections use the TURN server's relay only, never a direct path.
    bool relayOnly() const { return m_relayOnly; }
    void setRelayOnly(bool relayOnly) { m_relayOnly = relayOnly; }

private:
    QString m_stun;
    QStringList m_turn;
    bool m_relayOnly = false;
};
