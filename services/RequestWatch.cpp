#include "services/RequestWatch.h"

#include "services/ConnectionGuard.h"
#include "services/ServicesConfig.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace {

/// The value of a header in a head of CRLF (or LF) separated lines, or null.
QByteArray headerValue(const QByteArray &head, QByteArrayView name)
{
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 &&
            QByteArrayView(line).first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

RequestWatch::RequestWatch(QTcpSocket *socket, ConnectionGuard &guard)
    : QObject(socket)
    , m_socket(socket)
    , m_guard(&guard)
    , m_peer(socket->peerAddress())
{
    const ServicesConfig &config = guard.config();
    guard.opened(m_peer);
    // Buffered bytes of one request stay bounded even before the checks below run.
    socket->setReadBufferSize(config.maxHeaderBytes + config.maxBodyBytes + 1);
    // Connected before the HTTP server's own handler, so that it sees every byte first.
    connect(socket, &QIODevice::readyRead, this, &RequestWatch::inspect);
    connect(socket, &QIODevice::bytesWritten, this, [this] {
        m_awaitingAnswer = false;
        m_idle.start();
    });
    m_idle.setSingleShot(true);
    m_idle.setInterval(config.httpIdleMs);
    connect(&m_idle, &QTimer::timeout, this, &RequestWatch::expire);
    m_idle.start();
}

RequestWatch::~RequestWatch()
{
    if (m_guard)
        m_guard->closed(m_peer);
}

void RequestWatch::inspect()
{
    if (m_upgraded || !m_socket->isOpen())
        return;
    // Bytes the server left unread after the request it took were followed already.
    const qint64 available = m_socket->bytesAvailable();
    const qint64 serverAt = m_followed - m_aheadOfServer;
    if (!m_refusal && available > m_aheadOfServer)
        follow(m_socket->peek(available).sliced(m_aheadOfServer));
    while (!m_ends.isEmpty() && m_ends.first() <= serverAt)
        m_ends.removeFirst();
    // A refused request is answered once the server has answered those before it.
    if (m_refusal && m_ends.isEmpty())
        return refuse(m_refusal);
    m_aheadOfServer = m_ends.isEmpty() ? 0 : m_followed - m_ends.takeFirst();
}

bool RequestWatch::reject(const char *status)
{
    m_refusal = status;
    return false;
}

bool RequestWatch::follow(QByteArrayView bytes)
{
    const ServicesConfig &config = m_guard->config();
    while (!bytes.isEmpty() && !m_upgraded) {
        if (m_bodyLeft < 0) {
            // Line ends a previous request left are skipped, as the server skips them.
            if (m_head.isEmpty() && (bytes.front() == '\r' || bytes.front() == '\n')) {
                bytes = bytes.sliced(1);
                ++m_followed;
                continue;
            }
            m_head.append(bytes.front());
            bytes = bytes.sliced(1);
            ++m_followed;
            if (m_head.size() > config.maxHeaderBytes)
                return reject("431 Request Header Fields Too Large");
            if (m_head.endsWith("\n\r\n") || m_head.endsWith("\n\n")) {
                if (!headEnded())
                    return false;
            }
            continue;
        }
        const qint64 taken = std::min<qint64>(m_bodyLeft, bytes.size());
        bytes = bytes.sliced(taken);
        m_followed += taken;
        m_bodyLeft -= taken;
        if (m_bodyLeft == 0)
            requestEnded();
    }
    return true;
}

bool RequestWatch::headEnded()
{
    const QByteArray head = std::exchange(m_head, {});
    if (headerValue(head, "upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        // The WebSocket layer takes the connection over; its own limits apply.
        m_upgraded = true;
        m_idle.stop();
        return true;
    }
    if (headerValue(head, "transfer-encoding").toLower().contains("chunked"))
        return reject("411 Length Required");
    bool ok = true;
    const QByteArray length = headerValue(head, "content-length");
    const qint64 body = length.isNull() ? 0 : length.toLongLong(&ok);
    if (!ok || body < 0)
        return reject("400 Bad Request");
    if (body > m_guard->config().maxBodyBytes)
        return reject("413 Payload Too Large");
    m_bodyLeft = body;
    if (body == 0)
        requestEnded();
    return true;
}

void RequestWatch::requestEnded()
{
    m_bodyLeft = -1;
    m_ends.append(m_followed);
    m_awaitingAnswer = true;
}

void RequestWatch::expire()
{
    if (m_awaitingAnswer) // the service is still at work on the last request
        return m_idle.start();
    qDebug("closing an idle connection from %s", qPrintable(m_peer.toString()));
    m_socket->abort();
    // A TLS handshake that never finished leaves a socket no HTTP server owns.
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket); tls && !tls->isEncrypted())
        tls->deleteLater();
}

void RequestWatch::refuse(const char *status)
{
    qWarning("refusing a request from %s: %s", qPrintable(m_peer.toString()), status);
    // The HTTP server reads nothing more of this connection; what is still sent is dropped
    // unread until the client closes or the idle time ends, so that it gets to read the answer.
    disconnect(m_socket, &QIODevice::readyRead, nullptr, nullptr);
    if (m_socket->isTransactionStarted())
        m_socket->commitTransaction();
    const auto drop = [this] { m_socket->skip(m_socket->bytesAvailable()); };
    drop();
    connect(m_socket, &QIODevice::readyRead, this, drop);
    m_awaitingAnswer = false;
    m_socket->write(QByteArray("HTTP/1.1 ") + status +
                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    m_idle.start();
}
