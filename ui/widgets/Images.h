#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

/// The application's named images ("mic_on", "warning", ...), drawn as SVG so that they stay
/// crisp at every scale. Main thread only.
class Images final
{
public:
    /// The named image, or a null icon for an empty or unknown name.
    static QIcon icon(const QString &name);
    /// The named image at `size` logical pixels, for the device pixel ratio of `ratio`.
    static QPixmap pixmap(const QString &name, const QSize &size, qreal ratio = 0);
    static bool exists(const QString &name);
    /// The named image as drawn at build time at `size` logical pixels, once or twice over as
    /// `ratio` asks: a plain pixmap needs no SVG renderer, whose loading would delay the login
    /// window's first paint. Only the login window's images are drawn so.
    static QPixmap drawnPixmap(const QString &name, int size, qreal ratio);
};
