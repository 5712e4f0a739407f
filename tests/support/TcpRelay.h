#pragma once

#include <QObject>
#include <QTcpServer>

class QTcpSocket;

/// Relays loopback TCP connections to a target port until frozen; frozen, it keeps every
/// connection open but passes nothing on, either way: a peer gone silent on a half-open link.
class TcpRelay final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TcpRelay)

public:
    explicit TcpRelay(quint16 targetPort, QObject *parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    void freeze() { m_frozen = true; }

private:
    void relay(QTcpSocket *client);
    void pass(QTcpSocket *from, QTcpSocket *to);

    QTcpServer m_server;
    quint16 m_target;
    bool m_frozen = false;
};
