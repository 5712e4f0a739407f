#include "ui/conference/VideoView.h"

VideoView::VideoView(QWidget *parent)
    : QWidget(parent)
{
    // The engine paints every pixel; Qt need not clear the area first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 240);
}
