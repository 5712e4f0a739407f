#include "tests/support/MediaMeasures.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QNetworkInterface>
#include <QStandardPaths>

#include <cmath>
#include <cstdlib>

QString iceUnavailable()
{
    // The relay offers only the machine's non-loopback addresses as ICE candidates.
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol)
            return {};
    return QStringLiteral("no non-loopback address for ICE (network namespace?)");
}

QString mediaUnavailable()
{
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty())
        return QStringLiteral("Janus is not installed");
    return iceUnavailable();
}

double levelAt(const QString &path, int hz)
{
    constexpr int rate = 48000, count = rate / 5;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < qint64(count) * 2)
        return 0;
    file.seek((file.size() / 2 - count) * 2);
    const QByteArray bytes = file.read(qint64(count) * 2);
    const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
    const double w = 2 * M_PI * hz / rate;
    double re = 0, im = 0;
    for (int i = 0; i < count; ++i) {
        re += samples[i] * std::cos(w * i);
        im -= samples[i] * std::sin(w * i);
    }
    return 2 * std::hypot(re, im) / count;
}

double shareOf(const QImage &image, const QColor &colour)
{
    int hits = 0, all = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4, ++all) {
            const QColor c = image.pixelColor(x, y);
            hits += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                                std::abs(c.blue() - colour.blue()) <
                            40
                        ? 1
                        : 0;
        }
    return all ? double(hits) / all : 0;
}
