// The floor: a minimal Qt Widgets window with one label, up to its first paint.

#include "FirstPaintProbe.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("登录")));
    window.resize(400, 560);
    new FirstPaintProbe(&window);
    window.show();
    return QApplication::exec();
}
