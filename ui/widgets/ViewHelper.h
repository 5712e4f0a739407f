#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

class QAbstractButton;
class QWidget;

/// Frame, layer and tag helpers for views and buttons. Each frame helper reads or replaces one
/// part of the widget's geometry and keeps the rest.
class ViewHelper final
{
public:
    static int x(const QWidget *view);
    static void setX(QWidget *view, int x);
    static int y(const QWidget *view);
    static void setY(QWidget *view, int y);
    static int width(const QWidget *view);
    static void setWidth(QWidget *view, int width);
    static int height(const QWidget *view);
    static void setHeight(QWidget *view, int height);
    static QSize size(const QWidget *view);
    static void setSize(QWidget *view, const QSize &size);
    static QPoint origin(const QWidget *view);
    static void setOrigin(QWidget *view, const QPoint &origin);
    static int centerX(const QWidget *view);
    static void setCenterX(QWidget *view, int centerX);
    static int centerY(const QWidget *view);
    static void setCenterY(QWidget *view, int centerY);

    static void setBackgroundColor(QWidget *view, const QColor &color);
    static void setCornerRadius(QWidget *view, qreal radius);
    /// The widget's current drawing at its size.
    static QImage getImage(QWidget *view);

    static void setTitleColor(QAbstractButton *button, const QColor &color);

    /// Views carry an integer tag, as the layouts give them; 64 bits wide, since entity ids
    /// travel in tags.
    static qint64 tag(const QWidget *view);
    static void setTag(QWidget *view, qint64 tag);
    /// The first descendant of `parent` with `tag`, or null.
    static QWidget *viewWithTag(const QWidget *parent, qint64 tag);

    /// Makes `window` one of ours: drawn by its style sheet, with the application's logo.
    static void setUpWindow(QWidget *window);
    /// Shows the window, restored when it was minimised, above the others and active.
    static void bringToFront(QWidget *window);
};
