#include "tests/support/DragAndDrop.h"

#include <QApplication>
#include <QDropEvent>
#include <QWidget>

bool DragAndDrop::dropOn(QWidget *target, QMimeData *mime)
{
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}
