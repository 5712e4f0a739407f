#include "AppDelegate.h"
#include "AppLanguage.h"
#include "LinkServer.h"
#include "Log.h"
#include "UnixSignalWatcher.h"

#include <QApplication>
#include <QTimer>

#include <csignal>

namespace {

/// The first argument that names an orvale link (or any link with a query).
QString linkArgument(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].contains(u'?') || arguments[i].startsWith(QLatin1String("orvale:")))
            return arguments[i];
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvale"));
    QApplication::setApplicationName(QStringLiteral("orvale"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvale"));
    QApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("orvale"));
    // The tray icon keeps the application when its windows close; quitting is explicit.
    QApplication::setQuitOnLastWindowClosed(false);
    AppLanguage language;
    if (!language.use(AppLanguage::systemLanguage()))
        qCWarning(lcOrvale) << "Some of the translations could not be loaded";

    const QString link = linkArgument(QApplication::arguments());
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
