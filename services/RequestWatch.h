#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

class ConnectionGuard;
class QTcpSocket;

/// One HTTP connection's limits, checked as its bytes arrive and before Qt's HTTP server reads
/// them: a request line with headers and a body no larger than the caps (else 431 or 413 and
/// the connection closes), a body with a length (else 411), and a whole new request within the
/// idle time (else the connection closes: idle keep-alives, slow senders, stalled handshakes).
/// A WebSocket upgrade ends the watch but for the count of the address.
class RequestWatch final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RequestWatch)

public:
    RequestWatch(QTcpSocket *socket, ConnectionGuard &guard);
    ~RequestWatch() override;

private:
    void inspect();
    /// Follows the framing of `bytes`, the next ones of the stream; false once refused.
    bool follow(QByteArrayView bytes);
    bool headEnded();
    void requestEnded();
    void expire();
    /// Refuses the request being followed; false, to stop following.
    bool reject(const char *status);
    void refuse(const char *status);

    QTcpSocket *m_socket;
    QPointer<ConnectionGuard> m_guard;
    QHostAddress m_peer;
    QTimer m_idle;
    bool m_upgraded = false;
    const char *m_refusal = nullptr; ///< the status a refused request is answered with
    bool m_awaitingAnswer = false;
    QByteArray m_head;      ///< the request line and headers so far
    qint64 m_bodyLeft = -1; ///< -1 while in the head
    /// The HTTP server takes one request per read and leaves what follows it for the next:
    /// where in the stream requests end, and how many bytes this watch has followed.
    QList<qint64> m_ends;
    qint64 m_followed = 0;
    qint64 m_aheadOfServer = 0;
};
