#include "tests/support/SoundServer.h"

#include <QStandardPaths>
#include <QTest>

SoundServer::~SoundServer()
{
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000))
        m_daemon.kill();
}

QString SoundServer::unavailable()
{
    for (const char *program : {"pulseaudio", "pactl"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QLatin1String(program));
    return {};
}

bool SoundServer::start(const QStringList &modules, const QString &source)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    // Off the session bus: two sound servers of tests that run side by side would both claim
    // org.PulseAudio1 there, and the second would stop.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProcessChannelMode(QProcess::ForwardedChannels);
    // Shared memory off: with it, a server aborted once while importing a client's block under
    // load.
    QStringList arguments{"-n",
                          "--daemonize=no",
                          "--exit-idle-time=-1",
                          "--realtime=no",
                          "--high-priority=no",
                          "--log-level=error",
                          "--disable-shm=yes",
                          "-L",
                          "module-native-protocol-unix auth-anonymous=1"};
    for (const QString &module : modules)
        arguments << QStringLiteral("-L") << module;
    m_daemon.start(QStringLiteral("pulseaudio"), arguments);
    if (!m_daemon.waitForStarted())
        return false;
    qputenv("PULSE_SERVER", "unix:" + m_runtime.filePath(QStringLiteral("pulse/native")).toUtf8());
    return QTest::qWaitFor(
        [&source] {
            QProcess list;
            list.start(QStringLiteral("pactl"), {"list", "short", "sources"});
            return list.waitForFinished(5000) &&
                   list.readAllStandardOutput().contains(source.toUtf8());
        },
        15000);
}

bool SoundServer::pactl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
