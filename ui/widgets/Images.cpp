#include "ui/widgets/Images.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QResource>

namespace {

QString pathOf(const QString &name)
{
    return QStringLiteral(":/images/%1.svg").arg(name);
}

/// One icon per name for the whole run: an icon renders its SVG once per size and keeps the
/// result, so the contact list's rows share their renderings instead of parsing anew.
QIcon cached(const QString &name)
{
    static QHash<QString, QIcon> icons;
    auto it = icons.find(name);
    if (it == icons.end())
        it = icons.insert(name, QFile::exists(pathOf(name)) ? QIcon(pathOf(name)) : QIcon());
    return *it;
}

} // namespace

QPixmap Images::drawnPixmap(const QString &name, int size, qreal ratio)
{
    const int pixels = ratio > 1 ? 2 * size : size;
    // The pixels as shown, stored uncompressed: nothing to decode.
    const QByteArray drawn =
        QResource(QStringLiteral(":/drawn/%1-%2.argb").arg(name).arg(pixels)).uncompressedData();
    if (drawn.size() != qsizetype(pixels) * pixels * 4)
        return {};
    QPixmap pixmap = QPixmap::fromImage(QImage(reinterpret_cast<const uchar *>(drawn.constData()),
                                               pixels, pixels, QImage::Format_ARGB32_Premultiplied)
                                            .copy());
    pixmap.setDevicePixelRatio(qreal(pixels) / size);
    return pixmap;
}

bool Images::exists(const QString &name)
{
    return !name.isEmpty() && !cached(name).isNull();
}

QIcon Images::icon(const QString &name)
{
    return name.isEmpty() ? QIcon() : cached(name);
}

QPixmap Images::pixmap(const QString &name, const QSize &size, qreal ratio)
{
    if (!exists(name))
        return {};
    if (ratio <= 0)
        ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    return cached(name).pixmap(size, ratio);
}
