#include "services/ConnectionGuard.h"

#include "services/RequestWatch.h"
#include "services/ServicesConfig.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

ConnectionGuard::ConnectionGuard(const ServicesConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{}

bool ConnectionGuard::exempt(const ServicesConfig &config, const QHostAddress &peer)
{
    return config.behindFront() && peer.isLoopback();
}

bool ConnectionGuard::admits(const QHostAddress &peer) const
{
    if (exempt(m_config, peer) || m_open.value(peer) < m_config.connectionsPerAddress)
        return true;
    if (!m_refusing.contains(peer)) {
        m_refusing.insert(peer);
        qWarning("refusing connections from %s: %d open from there", qPrintable(peer.toString()),
                 m_config.connectionsPerAddress);
    }
    return false;
}

bool ConnectionGuard::admits(qintptr descriptor) const
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
        admits(QHostAddress(reinterpret_cast<const sockaddr *>(&peer))))
        return true;
    ::close(int(descriptor));
    return false;
}

void ConnectionGuard::keepAccepting(QTcpServer *server)
{
    QObject::connect(server, &QTcpServer::acceptError, server,
                     [server](QAbstractSocket::SocketError error) {
                         qWarning("cannot accept connections (error %d); trying again", int(error));
                         QTimer::singleShot(200, server, [server] { server->resumeAccepting(); });
                     });
}

void ConnectionGuard::watch(QTcpSocket *socket)
{
    // A child of the socket: it lives exactly as long, through a WebSocket upgrade too.
    new RequestWatch(socket, *this);
}

void ConnectionGuard::opened(const QHostAddress &peer)
{
    ++m_open[peer];
}

void ConnectionGuard::closed(const QHostAddress &peer)
{
    auto it = m_open.find(peer);
    if (it == m_open.end())
        return;
    if (--*it < m_config.connectionsPerAddress)
        m_refusing.remove(peer);
    if (*it <= 0)
        m_open.erase(it);
}
