#include "services/MediaAssets.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>

namespace {

QColor coverColor(const QString &liveId, int shift)
{
    const int hue = int(qHash(liveId) % 360);
    return QColor::fromHsv((hue + shift) % 360, 160, 220);
}

} // namespace

MediaAssets::MediaAssets(const QString &dataDir, QObject *parent)
    : QObject(parent)
    , m_dir(dataDir + QStringLiteral("/live"))
{
    QDir().mkpath(m_dir + QStringLiteral("/images"));
}

MediaAssets::~MediaAssets()
{
    if (m_encoder) {
        m_encoder->disconnect(this);
        m_encoder->kill();
        m_encoder->waitForFinished(3000);
    }
}

bool MediaAssets::isSegmentName(const QString &file)
{
    static const QRegularExpression pattern(QStringLiteral("^segment\\d{5}\\.ts$"));
    return pattern.match(file).hasMatch();
}

bool MediaAssets::isCoverName(const QString &file)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}\\.png$"));
    return pattern.match(file).hasMatch();
}

QString MediaAssets::coverPath(const QString &file) const
{
    return isCoverName(file) ? m_dir + QStringLiteral("/images/") + file : QString();
}

QString MediaAssets::segmentPath(const QString &file) const
{
    return isSegmentName(file) ? m_dir + QStringLiteral("/hls-av/") + file : QString();
}

void MediaAssets::ensureCover(const QString &liveId)
{
    const QString path = coverPath(liveId + QStringLiteral(".png"));
    if (path.isEmpty() || QFile::exists(path))
        return;
    QImage image(640, 360, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 640, 360);
    gradient.setColorAt(0, coverColor(liveId, 0));
    gradient.setColorAt(1, coverColor(liveId, 60).darker(160));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 60));
    painter.drawEllipse(QPointF(470, 120), 150, 150);
    painter.setBrush(QColor(255, 255, 255, 200));
    const QPointF play[] = {{290, 140}, {290, 220}, {360, 180}};
    painter.drawPolygon(play, 3);
    painter.end();
    image.save(path, "PNG");
}

bool MediaAssets::streamReady() const
{
    return QFile::exists(m_dir + QStringLiteral("/hls-av/index.m3u8"));
}

void MediaAssets::ensureStream()
{
    if (streamReady() || m_encoder)
        return;
    const QString gst = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
    if (gst.isEmpty()) {
        qWarning("gst-launch-1.0 is missing: the live test stream is not available");
        return;
    }
    const QString work = m_dir + QStringLiteral("/hls.partial");
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    m_encoder = new QProcess(this);
    m_encoder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_encoder, &QProcess::finished, this,
            [this, work](int code, QProcess::ExitStatus status) {
                m_encoder->deleteLater();
                m_encoder = nullptr;
                // Only a complete stream is published, so a broken run is made again next start.
                if (status == QProcess::NormalExit && code == 0 &&
                    QFile::exists(work + QStringLiteral("/index.m3u8")))
                    QDir().rename(work, m_dir + QStringLiteral("/hls-av"));
                else
                    qWarning("making the live test stream failed");
            });
    m_encoder->start(
        gst,
        {QStringLiteral("-q"), QStringLiteral("videotestsrc"), QStringLiteral("num-buffers=300"),
         QStringLiteral("pattern=ball"), QStringLiteral("!"),
         QStringLiteral("video/x-raw,width=640,height=360,framerate=25/1"), QStringLiteral("!"),
         QStringLiteral("videoconvert"), QStringLiteral("!"), QStringLiteral("openh264enc"),
         QStringLiteral("gop-size=50"), QStringLiteral("!"), QStringLiteral("h264parse"),
         QStringLiteral("!"), QStringLiteral("mux."),
         // 12 s of a quiet 440 Hz tone beside the 12 s of video, so that
         // players have a sound track to open.
         QStringLiteral("audiotestsrc"), QStringLiteral("num-buffers=300"),
         QStringLiteral("samplesperbuffer=1764"), QStringLiteral("freq=440"),
         QStringLiteral("volume=0.2"), QStringLiteral("!"),
         QStringLiteral("audio/x-raw,rate=44100,channels=2"), QStringLiteral("!"),
         QStringLiteral("audioconvert"), QStringLiteral("!"), QStringLiteral("voaacenc"),
         QStringLiteral("!"), QStringLiteral("aacparse"), QStringLiteral("!"),
         QStringLiteral("mux."), QStringLiteral("mpegtsmux"), QStringLiteral("name=mux"),
         QStringLiteral("!"), QStringLiteral("hlssink"),
         QStringLiteral("location=") + work + QStringLiteral("/segment%05d.ts"),
         QStringLiteral("playlist-location=") + work + QStringLiteral("/index.m3u8"),
         QStringLiteral("target-duration=2"), QStringLiteral("max-files=0"),
         QStringLiteral("playlist-length=0")});
}

bool MediaAssets::loadSegments()
{
    if (!m_segments.isEmpty())
        return true;
    QFile playlist(m_dir + QStringLiteral("/hls-av/index.m3u8"));
    if (!playlist.open(QIODevice::ReadOnly))
        return false;
    double seconds = 2.0;
    while (!playlist.atEnd()) {
        const QString line = QString::fromUtf8(playlist.readLine()).trimmed();
        if (line.startsWith(QLatin1String("#EXTINF:")))
            seconds = line.mid(8).section(u',', 0, 0).toDouble();
        else if (isSegmentName(line.section(u'/', -1)))
            m_segments.append({line.section(u'/', -1), seconds > 0 ? seconds : 2.0});
    }
    return !m_segments.isEmpty();
}

QByteArray MediaAssets::livePlaylist(qint64 nowMs)
{
    if (!loadSegments())
        return {};
    const qint64 count = m_segments.size();
    double total = 0;
    double longest = 0;
    for (const Segment &s : m_segments) {
        total += s.seconds;
        longest = std::max(longest, s.seconds);
    }
    // The stream has run since 1970: whole loops, then the segment the present falls in.
    const double now = nowMs / 1000.0;
    const qint64 loops = qint64(now / total);
    double into = now - loops * total;
    qint64 index = 0;
    while (index < count - 1 && into >= m_segments[index].seconds)
        into -= m_segments[index++].seconds;
    const qint64 sequence = loops * count + index;

    QByteArray out = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" +
                     QByteArray::number(int(std::ceil(longest))) +
                     "\n#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(sequence) +
                     "\n#EXT-X-DISCONTINUITY-SEQUENCE:" + QByteArray::number(loops) + "\n";
    for (qint64 j = 0; j < 3; ++j) {
        const qint64 k = (index + j) % count;
        if (j > 0 && k == 0)
            out += "#EXT-X-DISCONTINUITY\n";
        out += "#EXTINF:" + QByteArray::number(m_segments[k].seconds, 'f', 3) + ",\n" +
               m_segments[k].file.toLatin1() + "\n";
    }
    return out;
}
