#include "Images.h"

#include <QFile>
#include <QGuiApplication>

namespace {

QString pathOf(const QString &name)
{
    return QStringLiteral(":/images/%1.svg").arg(name);
}

} // namespace

bool Images::exists(const QString &name)
{
    return !name.isEmpty() && QFile::exists(pathOf(name));
}

QIcon Images::icon(const QString &name)
{
    return exists(name) ? QIcon(pathOf(name)) : QIcon();
}

QPixmap Images::pixmap(const QString &name, const QSize &size, qreal ratio)
{
    if (!exists(name))
        return {};
    if (ratio <= 0)
        ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    return QIcon(pathOf(name)).pixmap(size, ratio);
}
