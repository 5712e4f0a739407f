#include "ui/widgets/ViewHelper.h"

#include "ui/widgets/Images.h"

#include <QAbstractButton>
#include <QPalette>
#include <QWidget>

int ViewHelper::x(const QWidget *view)
{
    return view->geometry().x();
}

void ViewHelper::setX(QWidget *view, int x)
{
    view->move(x, view->y());
}

int ViewHelper::y(const QWidget *view)
{
    return view->geometry().y();
}

void ViewHelper::setY(QWidget *view, int y)
{
    view->move(view->x(), y);
}

int ViewHelper::width(const QWidget *view)
{
    return view->width();
}

void ViewHelper::setWidth(QWidget *view, int width)
{
    view->resize(width, view->height());
}

int ViewHelper::height(const QWidget *view)
{
    return view->height();
}

void ViewHelper::setHeight(QWidget *view, int height)
{
    view->resize(view->width(), height);
}

QSize ViewHelper::size(const QWidget *view)
{
    return view->size();
}

void ViewHelper::setSize(QWidget *view, const QSize &size)
{
    view->resize(size);
}

QPoint ViewHelper::origin(const QWidget *view)
{
    return view->pos();
}

void ViewHelper::setOrigin(QWidget *view, const QPoint &origin)
{
    view->move(origin);
}

int ViewHelper::centerX(const QWidget *view)
{
    return view->x() + view->width() / 2;
}

void ViewHelper::setCenterX(QWidget *view, int centerX)
{
    setX(view, centerX - view->width() / 2);
}

int ViewHelper::centerY(const QWidget *view)
{
    return view->y() + view->height() / 2;
}

void ViewHelper::setCenterY(QWidget *view, int centerY)
{
    setY(view, centerY - view->height() / 2);
}

void ViewHelper::setBackgroundColor(QWidget *view, const QColor &color)
{
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, color);
    view->setPalette(palette);
    view->setAutoFillBackground(true);
}

void ViewHelper::setCornerRadius(QWidget *view, qreal radius)
{
    view->setProperty("cornerRadius", radius);
    view->setStyleSheet(view->styleSheet() + QStringLiteral("border-radius: %1px;").arg(radius));
}

QImage ViewHelper::getImage(QWidget *view)
{
    return view->grab().toImage();
}

void ViewHelper::setTitleColor(QAbstractButton *button, const QColor &color)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    button->setPalette(palette);
}

qint64 ViewHelper::tag(const QWidget *view)
{
    return view->property("tag").toLongLong();
}

void ViewHelper::setTag(QWidget *view, qint64 tag)
{
    view->setProperty("tag", tag);
}

QWidget *ViewHelper::viewWithTag(const QWidget *parent, qint64 tag)
{
    const QList<QWidget *> children = parent->findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (child->property("tag").toLongLong() == tag)
            return child;
    }
    return nullptr;
}

void ViewHelper::setUpWindow(QWidget *window)
{
    window->setAttribute(Qt::WA_StyledBackground);
    window->setWindowIcon(Images::icon(QStringLiteral("logo")));
}

void ViewHelper::bringToFront(QWidget *window)
{
    if (!window)
        return;
    // show() and raise() leave a minimised window minimised.
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}
