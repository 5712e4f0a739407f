#include "tests/support/TcpRelay.h"

#include <QTcpSocket>

TcpRelay::TcpRelay(quint16 targetPort, QObject *parent)
    : QObject(parent)
    , m_target(targetPort)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = m_server.nextPendingConnection())
            relay(client);
    });
    m_server.listen(QHostAddress::LocalHost);
}

void TcpRelay::relay(QTcpSocket *client)
{
    client->setParent(this);
    auto *server = new QTcpSocket(this);
    connect(client, &QTcpSocket::readyRead, this, [this, client, server] { pass(client, server); });
    connect(server, &QTcpSocket::readyRead, this, [this, client, server] { pass(server, client); });
    connect(server, &QTcpSocket::connected, this, [this, client, server] { pass(client, server); });
    // Until frozen, a side that closes closes the other.
    connect(client, &QTcpSocket::disconnected, this, [this, server] {
        if (!m_frozen)
            server->disconnectFromHost();
    });
    connect(server, &QTcpSocket::disconnected, this, [this, client] {
        if (!m_frozen)
            client->disconnectFromHost();
    });
    server->connectToHost(QHostAddress::LocalHost, m_target);
}

void TcpRelay::pass(QTcpSocket *from, QTcpSocket *to)
{
    if (m_frozen) {
        from->readAll(); // swallowed: the other end never hears of it
        return;
    }
    if (to->state() == QAbstractSocket::ConnectedState)
        to->write(from->readAll());
}
