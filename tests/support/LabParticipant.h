#pragma once

#include "tests/support/NetworkLab.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ReceivedMedia.h"

#include <QList>
#include <QProcess>
#include <QTemporaryDir>

/// A participant in a call across the network lab: the engine driver in one of its hosts,
/// signed in as `user` and sending the tone `tone`, and what its engine received and logged.
class LabParticipant final
{
public:
    /// A line of the engine's log, and when (unix seconds) the test read it.
    struct Logged
    {
        qint64 at;
        QString line;
    };

    LabParticipant(const QString &user, int tone);
    ~LabParticipant();

    /// Starts the driver in `host` and signs in at `portal`; with `certificate`, the engine and
    /// the client trust it. The sign-in's answer ("loginSuccess" or "error:…"), empty when none
    /// came within `timeoutMs`.
    QString signIn(const NetworkLab &lab, NetworkLab::Host host, const QString &portal,
                   const QString &certificate = {}, int timeoutMs = 20000);
    /// Signs in as signIn() does and joins alice's room.
    bool join(const NetworkLab &lab, NetworkLab::Host host, const QString &portal,
              const QString &certificate = {});
    /// Joins alice's room.
    bool join();
    bool leave();

    ReceivedMedia received() const;
    /// The other's pictures that arrived intact (their frame stamps read back).
    int intactPictures() const;
    /// The level of `tone` in the sound received last.
    double level(int tone) const;
    /// The recordings and their sizes, to say what was heard when a check fails.
    QString sound() const;
    /// The engine's log lines that contain `text`, so far.
    QList<Logged> logged(const QString &text) const;
    /// Tells its driver `command`; the lines it said before are forgotten.
    void tell(const QString &command);
    /// Forgets the lines its driver said so far: awaitLine() reads those said from now on.
    void forgetLines() { m_lines.forget(); }
    /// The first line its driver says from now on (or said since the last tell()) that starts
    /// with `prefix`; empty when none came within `timeoutMs`.
    QString awaitLine(const QString &prefix, int timeoutMs = 15000);
    /// Tells its driver `command` and waits for its answer, the line starting with `answer`.
    QString ask(const QString &command, const QString &answer, int timeoutMs = 15000);
    /// The conference details its engine gives now, or empty.
    QString details(int timeoutMs = 5000);
    int tone() const { return m_tone; }

private:
    bool start(const NetworkLab &lab, NetworkLab::Host host, const QString &certificate);
    bool writeSettings(const QString &settings, const QString &certificate);
    void readLog();

    QString m_user;
    int m_tone;
    QTemporaryDir m_folder;
    QProcess m_driver;
    ProcessLines m_lines{m_driver};
    QList<Logged> m_log;
    QByteArray m_pending;
};
