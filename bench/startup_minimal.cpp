// The floor: a minimal Qt Widgets window with one label, up to its first paint. Built a second
// time with ORVALE_LINK_CLIENT, linked against the client's libraries without using them.

#include "bench/FirstPaintProbe.h"

#ifdef ORVALE_LINK_CLIENT
#include "app/AppDelegate.h"
#endif

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifdef ORVALE_LINK_CLIENT
    if (argc > 99) // never: keeps the client's libraries linked
        AppDelegate().applicationDidFinishLaunching();
#endif
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("登录")));
    window.resize(400, 560);
    new FirstPaintProbe(&window);
    window.show();
    return QApplication::exec();
}
