#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

/// A PulseAudio daemon of the test's own, in a runtime folder of its own, with exactly the
/// modules it is given: no system instance, no configuration of the machine's. Once started,
/// this process and every process it starts talk to it only.
class SoundServer final
{
    Q_DISABLE_COPY_MOVE(SoundServer)

public:
    SoundServer() = default;
    ~SoundServer();

    /// Why no sound server of the test's own can run here, or empty.
    static QString unavailable();
    /// Starts the daemon with `modules` (each as `-L` takes it) and waits until it offers
    /// `source`.
    bool start(const QStringList &modules, const QString &source);
    /// Runs `pactl` with `arguments`; false when it fails.
    static bool pactl(const QStringList &arguments);

private:
    QTemporaryDir m_runtime;
    QProcess m_daemon;
};
