#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QProcess;

/// The live service's media in the data folder: a cover picture per broadcast and a short HLS
/// test stream, made on first start, served as an endless live stream by looping it.
class MediaAssets final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MediaAssets)

public:
    explicit MediaAssets(const QString &dataDir, QObject *parent = nullptr);
    ~MediaAssets() override;

    void ensureCover(const QString &liveId);
    /// Starts making the test stream in the background unless it exists.
    void ensureStream();
    bool streamReady() const;

    QString coverPath(const QString &file) const;
    QString segmentPath(const QString &file) const;
    /// A live playlist over the looped segments, as it stands at `nowMs`.
    QByteArray livePlaylist(qint64 nowMs);

    static bool isSegmentName(const QString &file);
    static bool isCoverName(const QString &file);

private:
    struct Segment
    {
        QString file;
        double seconds = 2.0;
    };
    bool loadSegments();

    QString m_dir;
    QList<Segment> m_segments;
    QProcess *m_encoder = nullptr;
};
