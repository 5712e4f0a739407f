#include "tests/support/ReceivedMedia.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

/// The tone's amplitude in each 20 ms of raw 48 kHz 16-bit mono sound.
QList<double> toneLevels(const QByteArray &bytes, int hz)
{
    constexpr int count = 48 * ReceivedMedia::packetMs;
    const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
    const double w = 2 * M_PI * hz / 48000;
    QList<double> levels;
    for (qsizetype at = 0; at + count <= bytes.size() / 2; at += count) {
        double re = 0, im = 0;
        for (int i = 0; i < count; ++i) {
            re += samples[at + i] * std::cos(w * i);
            im -= samples[at + i] * std::sin(w * i);
        }
        levels.append(2 * std::hypot(re, im) / count);
    }
    return levels;
}

} // namespace

ReceivedMedia::ReceivedMedia(const QString &stampFile, const QString &soundFolder)
    : m_stampFile(stampFile)
    , m_soundFolder(soundFolder)
{}

ReceivedMedia::Pictures ReceivedMedia::intactPictures(qint64 from, qint64 to) const
{
    QFile file(m_stampFile);
    Pictures shown;
    QSet<qint64> stamps;
    if (!file.open(QIODevice::ReadOnly))
        return shown;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2 || words[0] == "sound")
            continue;
        const qint64 stamp = words[0].toLongLong(), decoded = words[1].toLongLong();
        if (decoded >= from && decoded < to && !stamps.contains(stamp)) {
            stamps.insert(stamp);
            shown.insert(decoded, stamp);
        }
    }
    return shown;
}

double ReceivedMedia::sentPerSecond(const Pictures &shown)
{
    QList<qint64> stamps = shown.values(), gaps;
    std::sort(stamps.begin(), stamps.end());
    for (qsizetype i = 1; i < stamps.size(); ++i)
        gaps.append(stamps[i] - stamps[i - 1]);
    if (gaps.size() < 2)
        return -1;
    std::sort(gaps.begin(), gaps.end());
    // Each gap holds about gap / usual pictures, and the span all of them.
    const qint64 usual = gaps[gaps.size() / 2];
    qint64 pictures = 0;
    for (qint64 gap : gaps)
        pictures += (gap + usual / 2) / usual; // none for a misread stamp close by
    const qint64 span = stamps.last() - stamps.first();
    return usual > 0 && span > 0 ? 1000.0 * double(pictures) / double(span) : -1;
}

qint64 ReceivedMedia::longestFreeze(const Pictures &shown, qint64 from, qint64 to)
{
    qint64 longest = 0, last = from;
    for (auto it = shown.keyBegin(); it != shown.keyEnd(); ++it) {
        longest = std::max(longest, *it - last);
        last = *it;
    }
    return std::max(longest, to - last);
}

QString ReceivedMedia::recording() const
{
    const QStringList files = QDir(m_soundFolder).entryList(QDir::Files, QDir::Time);
    return files.isEmpty() ? QString() : m_soundFolder + u'/' + files.first();
}

qint64 ReceivedMedia::recorded() const
{
    const QString file = recording();
    return file.isEmpty() ? 0 : QFileInfo(file).size();
}

int ReceivedMedia::soundLost(qint64 from, qint64 to, int hz, qint64 windowMs) const
{
    QFile file(recording());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return int(windowMs / packetMs);
    const QByteArray bytes = file.read(std::max<qint64>(0, to - from));
    const qint64 missingMs = std::max<qint64>(0, windowMs - bytes.size() / bytesPerMs);
    const QList<double> levels = toneLevels(bytes, hz);
    if (levels.isEmpty())
        return int(windowMs / packetMs);
    QList<double> sorted = levels;
    std::sort(sorted.begin(), sorted.end());
    const double typical = sorted[sorted.size() / 2];
    const auto quiet = std::count_if(levels.begin(), levels.end(),
                                     [typical](double level) { return level < typical / 4; });
    return int(missingMs / packetMs + quiet);
}
