#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>

class QTcpServer;
class QTcpSocket;
struct ServicesConfig;

/// The transport limits of the deployment's own HTTP listeners, which Qt's HTTP server does
/// not have: connections per address, and through a RequestWatch on each connection the size
/// of a request and how long a connection may go without a whole new one.
class ConnectionGuard final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConnectionGuard)

public:
    explicit ConnectionGuard(const ServicesConfig &config, QObject *parent = nullptr);

    static constexpr int backlog = 1024;

    /// Whether a new connection from `peer` may be accepted.
    bool admits(const QHostAddress &peer) const;
    /// The same for a just accepted socket descriptor, closed when refused.
    bool admits(qintptr descriptor) const;
    /// Accepting goes on after running out of descriptors, instead of stopping for good.
    static void keepAccepting(QTcpServer *server);
    /// Puts a just accepted connection under watch; it counts against its address until it goes.
    void watch(QTcpSocket *socket);
    /// Connections from the TLS front: nginx applies the per-client limits itself, and every
    /// client behind it would otherwise count as one address.
    static bool exempt(const ServicesConfig &config, const QHostAddress &peer);

    const ServicesConfig &config() const { return m_config; }
    void opened(const QHostAddress &peer);
    void closed(const QHostAddress &peer);

private:
    const ServicesConfig &m_config;
    QHash<QHostAddress, int> m_open;
    mutable QSet<QHostAddress> m_refusing; ///< logged once until they drop below the cap
};
