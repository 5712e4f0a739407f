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
};
