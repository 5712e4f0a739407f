#include "app/LinkServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A link is one line of text; anything longer is not one of ours.
constexpr qint64 maxLink = 8192;

bool addressOf(const QByteArray &path, sockaddr_un *address)
{
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address->sun_path))
        return false;
    std::memcpy(address->sun_path, path.constData(), size_t(path.size()));
    return true;
}

/// A stream socket connected to `path`, or -1 when nobody answers there in time.
int connectTo(const QByteArray &path, int timeoutMs)
{
    sockaddr_un address;
    if (!addressOf(path, &address))
        return -1;
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    // Bounds the connection (a full queue), the writing and the wait for the close alike.
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

bool writeAll(int socket, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

} // namespace

LinkServer::LinkServer(QObject *parent)
    : QObject(parent)
{}

LinkServer::~LinkServer()
{
    while (!m_connections.empty())
        drop(m_connections.begin()->first);
    if (m_listener < 0)
        return;
    delete m_accepting;
    ::close(m_listener);
    ::unlink(socketPath().constData());
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

QByteArray LinkServer::socketPath()
{
    // Where Qt's local sockets put the same name, so that either kind of client finds it.
    const QString name = serverName();
    return QFile::encodeName(QDir::isAbsolutePath(name) ? name : QDir::tempPath() + u'/' + name);
}

bool LinkServer::sendToRunningInstance(const QString &link, int timeoutMs)
{
    const int socket = connectTo(socketPath(), timeoutMs);
    if (socket < 0)
        return false;
    const bool sent = writeAll(socket, link.toUtf8().replace('\n', ' ') + '\n');
    // The instance closes the connection once it has read the line.
    char byte;
    while (sent && ::read(socket, &byte, 1) > 0) {
    }
    ::close(socket);
    return sent;
}

bool LinkServer::listen()
{
    const QByteArray path = socketPath();
    if (const int probe = connectTo(path, 300); probe >= 0) {
        ::close(probe);
        return false;
    }
    // A name left behind by a crashed instance answers nobody: take it over.
    ::unlink(path.constData());
    sockaddr_un address;
    if (!addressOf(path, &address))
        return false;
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    // Nobody can connect before listen(), and by then only the user may.
    if (::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(path.constData(), S_IRWXU) != 0 || ::listen(listener, SOMAXCONN) != 0) {
        ::close(listener);
        return false;
    }
    m_listener = listener;
    m_accepting = new QSocketNotifier(listener, QSocketNotifier::Read, this);
    connect(m_accepting, &QSocketNotifier::activated, this, [this] { acceptWaiting(); });
    return true;
}

void LinkServer::acceptWaiting()
{
    for (;;) {
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0)
            return;
        auto *notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        m_connections[socket] = {notifier, {}};
        connect(notifier, &QSocketNotifier::activated, this, [this, socket] { readFrom(socket); });
    }
}

void LinkServer::readFrom(int socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    QByteArray &received = found->second.received;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(socket, buffer, sizeof buffer)) > 0) {
        received.append(buffer, n);
        if (received.size() > maxLink) {
            drop(socket);
            return;
        }
    }
    if (const qsizetype end = received.indexOf('\n'); end >= 0) {
        const QString link = QString::fromUtf8(received.left(end)).trimmed();
        drop(socket);
        if (!link.isEmpty())
            Q_EMIT linkReceived(link);
        return;
    }
    // Closed, or broken, before a whole line.
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        drop(socket);
}

void LinkServer::drop(int socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    // The notifier may be the one whose signal runs now.
    found->second.notifier->setEnabled(false);
    found->second.notifier->deleteLater();
    ::close(socket);
    m_connections.erase(found);
}
