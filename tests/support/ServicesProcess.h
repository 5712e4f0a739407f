#pragma once

#include <QProcess>
#include <QTemporaryDir>

/// The orvale-services executable, started as the demo starts it: the login service on the
/// standard ports 8080 and 9090 of a loopback address of the test's own, the portal on a free
/// port, data in a temporary folder.
class ServicesProcess final
{
public:
    /// `extraArguments` go after the standard ones.
    ServicesProcess(const QString &executable, const QString &host,
                    const QStringList &extraArguments = {});
    ~ServicesProcess();

    /// Waits until the services listen; false when they did not start. Calls carry media
    /// (through Janus) only when `media` is true.
    bool start(bool media = false);
    /// A command put in front of the executable's, such as a network lab host's launcher.
    void setLauncher(const QStringList &launcher) { m_launcher = launcher; }
    /// Starts without the demo company (loaded by default, as the demo script loads it).
    void setEmpty() { m_demo = false; }
    QString host() const { return m_host; }
    quint16 portalPort() const { return m_portalPort; }
    QString portal() const;
    /// What the deployment wrote so far.
    QString output() const
    {
        m_output += QString::fromUtf8(m_process.readAll());
        return m_output;
    }
    qint64 processId() const { return m_process.processId(); }
    QString dataPath() const { return m_data.path(); }
    /// A room's key as the deployment made it (at random), read from its database (SQLite, or
    /// the PostgreSQL one its --database argument names).
    QString roomKey(qint64 entityId) const;

private:
    QString m_executable;
    QString m_host;
    QStringList m_extraArguments;
    QStringList m_launcher;
    QTemporaryDir m_data;
    mutable QProcess m_process; ///< read as its output is asked for
    mutable QString m_output;
    quint16 m_portalPort = 0;
    bool m_demo = true;
};
