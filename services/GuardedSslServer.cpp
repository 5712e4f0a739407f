#include "services/GuardedSslServer.h"

#include "services/ConnectionGuard.h"

#include <QSslSocket>

GuardedSslServer::GuardedSslServer(ConnectionGuard &guard, QObject *parent)
    : QSslServer(parent)
    , m_guard(guard)
{
    ConnectionGuard::keepAccepting(this);
    // Qt's backlog of 50 drops connections when thousands of clients come back at once.
    setListenBacklogSize(ConnectionGuard::backlog);
    connect(this, &QSslServer::startedEncryptionHandshake, this,
            [this](QSslSocket *socket) { m_guard.watch(socket); });
}

void GuardedSslServer::incomingConnection(qintptr descriptor)
{
    if (m_guard.admits(descriptor))
        QSslServer::incomingConnection(descriptor);
}
