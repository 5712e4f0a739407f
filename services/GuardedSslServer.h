#pragma once

#include <QSslServer>

class ConnectionGuard;

/// A listener of HTTP over TLS whose connections are held to the guard's limits from the
/// start of their handshake.
class GuardedSslServer final : public QSslServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardedSslServer)

public:
    explicit GuardedSslServer(ConnectionGuard &guard, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    ConnectionGuard &m_guard;
};
