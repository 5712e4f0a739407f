// The minimal window again, linked against everything the client links, to tell the cost of
// loading those libraries apart from the client's own start-up work.

#include "AppDelegate.h"
#include "FirstPaintProbe.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc > 99) // never: keeps the client's libraries linked
        AppDelegate().applicationDidFinishLaunching();
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("登录")));
    window.resize(400, 560);
    new FirstPaintProbe(&window);
    window.show();
    return QApplication::exec();
}
