#include "app/AppDelegate.h"
#include "app/AppLanguage.h"
#include "app/CommandLine.h"
#include "app/LinkServer.h"
#include "app/UnixSignalWatcher.h"
#include "model/Log.h"

#include <QApplication>
#include <QTimer>

#include <csignal>

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    QCoreApplication::setApplicationName(QStringLiteral("orvale"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));
    // Help, the version and a refusal come before any window or hand-over.
    CommandLine commandLine(CommandLine::fromArgv(argc, argv));
    if (commandLine.request() != CommandLine::Request::Run)
        return commandLine.answer(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Orvale"));
    QApplication::setDesktopFileName(QStringLiteral("orvale"));
    // The tray icon keeps the application when its windows close; quitting is explicit.
    QApplication::setQuitOnLastWindowClosed(false);
    AppLanguage language;
    if (!language.use(AppLanguage::systemLanguage()))
        qCWarning(lcOrvale) << "Some of the translations could not be loaded";

    const QString link = commandLine.link();
    LinkServer links;
    if (!links.listen()) {
        if (!link.isEmpty() && LinkServer::sendToRunningInstance(link))
            return 0;
        if (link.isEmpty() && LinkServer::sendToRunningInstance(QStringLiteral("orvale://show")))
            return 0;
    }

    AppDelegate delegate;
    QObject::connect(&links, &LinkServer::linkReceived, &delegate, [&delegate](const QString &l) {
        if (l == u"orvale://show")
            delegate.applicationShouldHandleReopen(false);
        else
            delegate.handleURLEvent(l);
    });
    UnixSignalWatcher watcher({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&watcher, &UnixSignalWatcher::signalReceived, &delegate,
                     [&delegate] { delegate.quitFromOutside(); });
    delegate.applicationDidFinishLaunching();
    if (!link.isEmpty())
        QTimer::singleShot(0, &delegate, [&delegate, link] { delegate.handleURLEvent(link); });
    return QApplication::exec();
}
