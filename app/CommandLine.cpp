#include "app/CommandLine.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstdio>

namespace {

// The exit code of a command line that is not understood (as in most command-line tools).
constexpr int usageError = 2;

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
    : m_help({QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Displays help on the command line."))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Orvale: video conferences of your company's service."));
    // "-platform" is one unknown word, not eight unknown letters.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOption(m_help);
    m_parser.addVersionOption();
    m_parser.addPositionalArgument(QStringLiteral("link"),
                                   QStringLiteral("An invitation link (orvale://…) to open; "
                                                  "a running Orvale opens it instead."),
                                   QStringLiteral("[link]"));
    const bool understood = m_parser.parse(arguments);
    // Asked for help or the version, the user gets it, whatever else is on the line.
    if (m_parser.isSet(m_help)) {
        m_request = Request::Help;
    } else if (m_parser.isSet(QStringLiteral("version"))) {
        m_request = Request::Version;
    } else if (!understood) {
        m_request = Request::Refuse;
        m_error = m_parser.errorText();
    } else if (const QStringList links = m_parser.positionalArguments(); links.size() > 1) {
        m_request = Request::Refuse;
        m_error = QStringLiteral("One link at a time, not %1.").arg(links.size());
    } else if (!links.isEmpty() && !isLink(links.first())) {
        m_request = Request::Refuse;
        m_error = QStringLiteral("Not an orvale:// link: '%1'.").arg(links.first());
    } else if (!links.isEmpty()) {
        m_link = links.first();
    }
}

QStringList CommandLine::fromArgv(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

bool CommandLine::isLink(const QString &text)
{
    const QUrl url(text);
    return url.isValid() && url.scheme().compare(u"orvale", Qt::CaseInsensitive) == 0;
}

int CommandLine::answer(int argc, char **argv)
{
    // Enough of an application for the usage line's program name; no display is needed.
    QCoreApplication app(argc, argv);
    switch (m_request) {
    case Request::Help:
        m_parser.showHelp(0);
    case Request::Version:
        m_parser.showVersion();
    case Request::Refuse: {
        // One line, whatever the argument held: no line breaks or terminal controls from it.
        QString line = m_error;
        for (QChar &c : line) {
            if (c.category() == QChar::Other_Control)
                c = u'?';
        }
        std::fprintf(stderr, "orvale: %s Try 'orvale --help'.\n", qPrintable(line));
        return usageError;
    }
    case Request::Run:
        break;
    }
    return 0;
}
