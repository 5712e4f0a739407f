#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

/// Hands invitation links from a second `orvale <link>` process to the running one.
class LinkServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkServer)

public:
    explicit LinkServer(QObject *parent = nullptr);

    /// The socket name of the instance running with this user's settings folder.
    static QString serverName();
    /// Sends `link` to a running instance; false when none answers.
    static bool sendToRunningInstance(const QString &link, int timeoutMs = 1000);
    /// Starts listening; false when another instance already does.
    bool listen();

Q_SIGNALS:
    void linkReceived(const QString &link);

private:
    QLocalServer *m_server;
};
