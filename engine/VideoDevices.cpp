#include "engine/VideoDevices.h"

#include <QCollator>
#include <QDir>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace {

/// The driver's name for the node when it captures video (not metadata, not output only).
QString captureName(const QString &node)
{
    const int fd = ::open(QFile::encodeName(node).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    v4l2_capability caps{};
    const bool ok = ::ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0;
    ::close(fd);
    if (!ok)
        return {};
    const quint32 nodeCaps =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    if (!(nodeCaps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)))
        return {};
    const auto *card = reinterpret_cast<const char *>(caps.card);
    return QString::fromUtf8(card, int(qstrnlen(card, sizeof caps.card)));
}

} // namespace

QList<VideoDevices::Camera> VideoDevices::list(const QString &folder)
{
    const QDir dir(folder);
    QStringList nodes = dir.entryList({QStringLiteral("video*")}, QDir::System | QDir::Files);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(nodes.begin(), nodes.end(), numeric);
    QList<Camera> cameras;
    for (const QString &node : std::as_const(nodes)) {
        const QString path = dir.filePath(node);
        const QString name = captureName(path);
        if (!name.isEmpty())
            cameras.append({path, name});
    }
    return cameras;
}
