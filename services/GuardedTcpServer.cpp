#include "services/GuardedTcpServer.h"

#include "services/ConnectionGuard.h"

#include <QTcpSocket>

GuardedTcpServer::GuardedTcpServer(ConnectionGuard &guard, QObject *parent)
    : QTcpServer(parent)
    , m_guard(guard)
{
    ConnectionGuard::keepAccepting(this);
    // Qt's backlog of 50 drops connections when thousands of clients come back at once.
    setListenBacklogSize(ConnectionGuard::backlog);
}

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    if (!m_guard.admits(descriptor))
        return;
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    m_guard.watch(socket); // before the HTTP server connects to the socket
    addPendingConnection(socket);
}
