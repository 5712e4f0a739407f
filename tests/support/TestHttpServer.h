#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>

#include <functional>

/// A scripted HTTP/1.1 server on loopback: it records every request as received and
/// answers with the replies queued by the test, in order.
class TestHttpServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestHttpServer)

public:
    struct Reply
    {
        Reply(int replyStatus = 200, const QByteArray &type = "text/xml; charset=utf-8",
              const QByteArray &replyBody = {})
            : status(replyStatus)
            , contentType(type)
            , body(replyBody)
        {}

        int status = 200;
        QByteArray contentType = "text/xml; charset=utf-8";
        QByteArray body;
        bool never = false;             ///< keep the connection open and never answer
        bool held = false;              ///< answered when the test calls releaseHeld()
        QByteArray partialBody;         ///< when never: bytes sent before stalling
        qint64 declaredLength = 100000; ///< when never: the Content-Length announced
        bool noLength = false; ///< send no Content-Length: the body ends when the connection does
        QList<QPair<QByteArray, QByteArray>> headers; ///< further headers, e.g. Location
    };

    struct Request
    {
        QByteArray method;
        QByteArray target;
        QList<QPair<QByteArray, QByteArray>> headers; ///< in the order sent
        QByteArray body;

        QByteArray header(const QByteArray &name) const;
    };

    explicit TestHttpServer(QObject *parent = nullptr);

    bool listen(const QString &address = QStringLiteral("127.0.0.1"), quint16 port = 0);
    quint16 port() const;
    /// "http://127.0.0.1:<port>"
    QString baseUrl() const;

    void enqueue(const Reply &reply) { m_replies.append(reply); }
    /// Answers each request with what `responder` makes of it, instead of the queued replies.
    void setResponder(std::function<Reply(const Request &)> responder)
    {
        m_responder = std::move(responder);
    }
    const QList<Request> &requests() const { return m_requests; }
    /// Sends the held replies to the clients still connected.
    void releaseHeld();
    /// Sends the held replies with `body` in place of theirs.
    void releaseHeld(const QByteArray &body);

Q_SIGNALS:
    void requestReceived();

private:
    void serve(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
    static void send(QTcpSocket *socket, const Reply &reply);

    QTcpServer m_server;
    QList<Reply> m_replies;
    QList<Request> m_requests;
    QList<QPair<QPointer<QTcpSocket>, Reply>> m_held;
    std::function<Reply(const Request &)> m_responder;
};
