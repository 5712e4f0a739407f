#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

/// An orvale-enginedriver in a process of its own (the client's bridge over the real engine),
/// answering one line per command on its standard output. It is signed out when it goes.
class EngineDriverProcess final
{
public:
    /// Each picture the driver decodes is noted in `stampFile`, which shows that media flow;
    /// without one, the engine stamps and notes nothing.
    explicit EngineDriverProcess(const QString &stampFile = {});
    ~EngineDriverProcess();
    EngineDriverProcess(const EngineDriverProcess &) = delete;
    EngineDriverProcess &operator=(const EngineDriverProcess &) = delete;

    /// Starts the driver and waits until it is ready for commands.
    bool start(const QStringList &arguments = {});
    /// A command put in front of the driver's, such as a network lab host's launcher.
    void setLauncher(const QStringList &launcher) { m_launcher = launcher; }
    void tell(const QString &line);
    /// Waits up to 20 s for a line of output that starts with `prefix`.
    bool waitFor(const QByteArray &prefix);
    /// Tells `command` and returns its answer, the next line starting with `prefix`; empty when
    /// none comes.
    QByteArray ask(const QString &command, const QByteArray &prefix);
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 processId() const { return m_process.processId(); }

    /// Media between drivers need an IPv4 address other than loopback: Janus offers only
    /// those as ICE candidates.
    static bool hasIceAddress();

private:
    QProcess m_process;
    QByteArray m_output;
    QStringList m_launcher;
};
