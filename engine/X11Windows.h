#pragma once

#include <QList>
#include <QRect>
#include <QString>

/// The top-level windows of the X11 display the application runs on: the share sources
/// besides the screens. Empty on any other platform.
class X11Windows final
{
public:
    struct Window
    {
        quint32 id = 0;
        QString title;
        QString application;
        QRect geometry;
    };

    /// Call on the application's thread.
    static QList<Window> list(int max);
};
