// The client's start as main() does it, up to the login window's first paint.

#include "app/AppDelegate.h"
#include "app/AppLanguage.h"
#include "app/LinkServer.h"
#include "app/UnixSignalWatcher.h"
#include "bench/FirstPaintProbe.h"

#include <QApplication>
#include <QMainWindow>

#include <csignal>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvale"));
    QApplication::setApplicationName(QStringLiteral("orvale"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvale"));
    QApplication::setDesktopFileName(QStringLiteral("orvale"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The translations, the hand-over socket and the signal watcher, as main() sets them up.
    AppLanguage language;
    language.use(AppLanguage::systemLanguage());
    LinkServer links;
    links.listen();
    AppDelegate delegate;
    UnixSignalWatcher watcher({SIGTERM, SIGINT, SIGHUP});
    delegate.applicationDidFinishLaunching();
    new FirstPaintProbe(delegate.window());
    return QApplication::exec();
}
