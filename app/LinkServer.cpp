#include "app/LinkServer.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

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
    // One instance per profile: a second client with a home of its own (another account on the
    // same desktop) runs beside the first instead of handing over to it.
    const QString profile = QString::fromLatin1(
        QCryptographicHash::hash(
            QStandardPaths::writableLocation(QStandardPaths::ConfigLocation).toUtf8(),
            QCryptographicHash::Sha256)
            .toHex()
            .left(12));
    // The session's runtime folder is private to the user; without one, a per-user name.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/orvale-links-") + profile;
    return QStringLiteral("orvale-links-%1-%2").arg(getuid()).arg(profile);
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
    // Qt replaces an existing socket file when it listens with access options, so ask first
    // whether somebody answers there.
    QLocalSocket probe;
    probe.connectToServer(serverName());
    if (probe.waitForConnected(300)) {
        probe.abort();
        return false;
    }
    // A name left behind by a crashed instance answers nobody: take it over.
    QLocalServer::removeServer(serverName());
    return m_server->listen(serverName());
}
