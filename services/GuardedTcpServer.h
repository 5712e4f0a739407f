#pragma once

#include <QTcpServer>

class ConnectionGuard;

/// A listener of plain HTTP whose connections are held to the guard's limits.
class GuardedTcpServer final : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GuardedTcpServer)

public:
    explicit GuardedTcpServer(ConnectionGuard &guard, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    ConnectionGuard &m_guard;
};
