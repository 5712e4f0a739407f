#include "LinkServer.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {

// A link is one line of text; anything longer is not one of ours.
constexpr qint64 maxLink = 8192;

} // namespace

LinkServer::LinkServer(QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->bytesAvailable() > maxLink) {
                    socket->abort();
                    return;
                }
                if (!socket->canReadLine())
                    return;
                const QString link = QString::fromUtf8(socket->readLine()).trimmed();
                socket->disconnectFromServer();
                if (!link.isEmpty())
                    Q_EMIT linkReceived(link);
            });
        }
    });
}

QString LinkServer::serverName()
{
    return QStringLiteral("orvale-links-%1").arg(getuid());
}

bool LinkServer::sendToRunningInstance(const QString &link, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(link.toUtf8().replace('\n', ' ') + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.waitForDisconnected(timeoutMs);
    return true;
}

bool LinkServer::listen()
{
    if (m_server->listen(serverName()))
        return true;
    // A name left behind by a crashed instance answers nobody: take it over.
    if (sendToRunningInstance(QString(), 200))
        return false;
    QLocalServer::removeServer(serverName());
    return m_server->listen(serverName());
}
