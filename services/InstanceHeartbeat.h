#pragma once

#include <QObject>
#include <QTimer>

class ServiceDatabase;

/// This instance's row among those sharing a PostgreSQL database, its beat renewed on a timer
/// by the database's clock; at each beat, the instances silent for longer than the bound are
/// found (and their rows removed, by one instance only).
class InstanceHeartbeat final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InstanceHeartbeat)

public:
    /// Beats every `intervalMs`; an instance is stopped after `misses` beats missed.
    InstanceHeartbeat(ServiceDatabase &db, const QString &instance, int intervalMs, int misses,
                      QObject *parent = nullptr);
    ~InstanceHeartbeat() override;

    /// Beats now and from now on.
    void start();

Q_SIGNALS:
    /// An instance stopped beating (or left sessions behind without a row): its sessions
    /// are for this instance to end.
    void stopped(const QString &instance);
    /// This instance's row was gone: another took it for stopped and ended its sessions.
    void resumed();

private:
    void beat();

    ServiceDatabase &m_db;
    QString m_instance;
    int m_boundMs = 0;
    bool m_beating = false; ///< after the first beat
    QTimer m_timer;
};
