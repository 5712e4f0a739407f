#pragma once

#include "services/ServicesConfig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>

/// The deployment's TURN server: coturn run as a child process from a folder of its own inside
/// the data folder ("turn/"). Clients get time-limited credentials signed with the
/// deployment's secret (kept in that folder), never a fixed password. It relays to no address
/// of the loopback or private ranges but the relay's own, so it opens no way into the
/// deployment's network. A coturn that dies is started again, once a minute at most.
class TurnSupervisor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TurnSupervisor)

public:
    explicit TurnSupervisor(const ServicesConfig &config, QObject *parent = nullptr);
    ~TurnSupervisor() override;

    /// The deployment's TURN secret, made on first use; empty when it cannot be kept.
    static QByteArray secret(const QString &dataDir);
    /// Addresses the server relays to although they are in a denied range: the relay's own.
    void setAllowedPeers(const QStringList &addresses) { m_allowedPeers = addresses; }

    /// Writes the configuration and starts coturn; false (with the reason) when it cannot run.
    bool start(QString *error);
    qint64 pid() const { return m_process.processId(); }
    QString configurationFile() const;

Q_SIGNALS:
    /// coturn stopped for good: calls go on without TURN.
    void lost();

private:
    bool writeConfiguration(QString *error);
    QString configuration(const QByteArray &secret) const;
    bool launch();
    void died();

    ServicesConfig m_config;
    QString m_folder;
    QStringList m_allowedPeers;
    QProcess m_process;
    bool m_stopping = false;
    QElapsedTimer m_sinceRestart; ///< invalid before the first restart
};
