#pragma once

#include <QJsonObject>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTimer>

class ServiceDatabase;

/// What one instance tells the others that share its PostgreSQL database, through LISTEN and
/// NOTIFY: small JSON objects (ids and short texts; the rest is read from the database). A
/// message with a "to" field is for that instance only.
class InstanceBus final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InstanceBus)

public:
    InstanceBus(ServiceDatabase &db, const QString &instance, QObject *parent = nullptr);
    ~InstanceBus() override;

    /// Listens on a connection of its own: notifications arrive on it between queries of the
    /// main one, never held back behind them. Every `checkMs` it sends itself an echo; a
    /// connection that missed two (the server restarted, or ended it) is made again.
    bool listen(QString *error, int checkMs);
    /// Sends `message` to every other instance (or to the one its "to" names).
    void publish(QJsonObject message);

    static constexpr int maxPayload = 8000; ///< PostgreSQL's limit on a notification

Q_SIGNALS:
    /// Another instance's message for this one.
    void received(const QJsonObject &message);
    /// Listening again after the connection was lost: messages may have been missed.
    void relistened();

private:
    bool subscribe();
    void checkListener();
    void notified(const QString &channel, QSqlDriver::NotificationSource source,
                  const QVariant &payload);

    ServiceDatabase &m_db;
    QString m_instance;
    QString m_connection;
    QSqlDatabase m_listener;
    QTimer m_check;
    int m_echoesDue = 0;
};
