#pragma once

#include <QList>
#include <QString>

/// The machine's cameras, read straight from the V4L2 device nodes. Listing them through Qt
/// Multimedia would load its GStreamer backend when the client starts; this costs a few
/// system calls.
class VideoDevices final
{
public:
    struct Camera
    {
        QString node; ///< "/dev/video0"
        QString name; ///< what the driver calls it
    };

    /// Every node that captures video, in node order; `folder` is searched for video* nodes.
    static QList<Camera> list(const QString &folder = QStringLiteral("/dev"));
};
