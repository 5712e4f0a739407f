// The client's start as main() does it, up to the login window's first paint.

#include "app/AppDelegate.h"
#include "app/LinkServer.h"
#include "bench/FirstPaintProbe.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvale"));
    QApplication::setApplicationName(QStringLiteral("orvale"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvale"));
    QApplication::setQuitOnLastWindowClosed(false);
    LinkServer links;
    links.listen();
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    new FirstPaintProbe(delegate.window());
    return QApplication::exec();
}
