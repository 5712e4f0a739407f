#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

/// What `orvale` was asked for on its command line: an invitation link to open, or nothing but
/// the help or the version. It is read before the application object exists, so that answering
/// needs neither a display nor the running instance.
class CommandLine final
{
    Q_DISABLE_COPY_MOVE(CommandLine)

public:
    enum class Request { Run, Help, Version, Refuse };

    explicit CommandLine(const QStringList &arguments);

    /// The process's arguments as texts, before Qt has seen them.
    static QStringList fromArgv(int argc, char **argv);
    /// Whether `text` is an invitation link of ours (the `orvale:` scheme).
    static bool isLink(const QString &text);

    Request request() const { return m_request; }
    /// The link to open; empty when none was given.
    QString link() const { return m_link; }
    /// For any request but Run: prints the help, the version or the refusal and gives the
    /// process's exit code.
    int answer(int argc, char **argv);

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    Request m_request = Request::Run;
    QString m_link;
    QString m_error;
};
