#pragma once

#include <QByteArray>
#include <QStringList>

#include <functional>

class QProcess;

/// The lines a child process writes on its standard output, taken one by one as a test waits
/// for them.
class ProcessLines
{
public:
    explicit ProcessLines(QProcess &process);

    /// The first line so far or within `timeoutMs` that starts with `prefix`; empty when none.
    QString startingWith(const QString &prefix, int timeoutMs);
    /// The first line so far or within `timeoutMs` that contains `text`; empty when none.
    QString containing(const QString &text, int timeoutMs);
    /// Drops what the process has said so far, so that the next line taken comes after.
    void forget();

private:
    void read();
    QString take(const std::function<bool(const QString &)> &wanted, int timeoutMs);

    QProcess &m_process;
    QStringList m_lines;
    QByteArray m_pending;
};

/// Ends an engine driver: it signs out and quits, or is killed when it has not within 5 s.
void stopDriver(QProcess &driver);
