#include "tests/support/TestHttpServer.h"

#include <QTcpSocket>

#include <utility>

QByteArray TestHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

bool TestHttpServer::listen(const QString &address, quint16 port)
{
    return m_server.listen(QHostAddress(address), port);
}

quint16 TestHttpServer::port() const
{
    return m_server.serverPort();
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://%1:%2").arg(m_server.serverAddress().toString()).arg(port());
}

void TestHttpServer::serve(QTcpSocket *socket)
{
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer->left(headerEnd).split('\n');
        Request request;
        const QList<QByteArray> start = lines.first().trimmed().split(' ');
        request.method = start.value(0);
        request.target = start.value(1);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray key = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).trimmed();
            request.headers.append({key, value});
            if (key.compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = value.toLongLong();
        }
        if (buffer->size() < headerEnd + 4 + length)
            return;
        request.body = buffer->mid(headerEnd + 4, length);
        buffer->remove(0, headerEnd + 4 + length);
        m_requests.append(request);
        answer(socket, request);
        Q_EMIT requestReceived();
    });
}

void TestHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    const Reply reply = m_responder           ? m_responder(request)
                        : m_replies.isEmpty() ? Reply{}
                                              : m_replies.takeFirst();
    if (reply.never) {
        if (!reply.partialBody.isEmpty()) {
            QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: " + reply.contentType + "\r\n";
            if (!reply.noLength)
                head += "Content-Length: " + QByteArray::number(reply.declaredLength) + "\r\n";
            socket->write(head + "\r\n" + reply.partialBody);
        }
        return;
    }
    if (reply.held) {
        m_held.append({socket, reply});
        return;
    }
    send(socket, reply);
}

void TestHttpServer::releaseHeld()
{
    for (const auto &[socket, reply] : std::exchange(m_held, {})) {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            send(socket, reply);
    }
}

void TestHttpServer::releaseHeld(const QByteArray &body)
{
    for (auto &held : m_held)
        held.second.body = body;
    releaseHeld();
}

void TestHttpServer::send(QTcpSocket *socket, const Reply &reply)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
    if (!reply.contentType.isEmpty())
        response += "Content-Type: " + reply.contentType + "\r\n";
    for (const auto &[name, value] : reply.headers)
        response += name + ": " + value + "\r\n";
    if (!reply.noLength)
        response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n" + reply.body;
    socket->write(response);
    socket->disconnectFromHost();
}
