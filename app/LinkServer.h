#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <map>

class QSocketNotifier;

/// Hands invitation links from a second `orvale <link>` process to the running one, over a
/// local socket. Plain system sockets rather than Qt Network: the client starts without it.
class LinkServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkServer)

public:
    explicit LinkServer(QObject *parent = nullptr);
    ~LinkServer() override;

    /// The socket name of the instance running with this user's settings folder.
    static QString serverName();
    /// Sends `link` to a running instance; false when none answers.
    static bool sendToRunningInstance(const QString &link, int timeoutMs = 1000);
    /// Starts listening; false when another instance already does.
    bool listen();

Q_SIGNALS:
    void linkReceived(const QString &link);

private:
    struct Connection
    {
        QSocketNotifier *notifier = nullptr;
        QByteArray received;
    };

    /// Where serverName() is in the file system.
    static QByteArray socketPath();
    void acceptWaiting();
    void readFrom(int socket);
    void drop(int socket);

    int m_listener = -1;
    QSocketNotifier *m_accepting = nullptr;
    std::map<int, Connection> m_connections;
};
