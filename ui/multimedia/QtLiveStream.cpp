#include "ui/multimedia/QtLiveStream.h"

#include <QAudioOutput>
#include <QDebug>
#include <QMediaPlayer>
#include <QMediaTimeRange>
#include <QVideoFrame>
#include <QVideoSink>

namespace {

LiveStream::Status statusOf(QMediaPlayer::MediaStatus status)
{
    switch (status) {
    case QMediaPlayer::LoadedMedia:
        return LiveStream::Status::Loaded;
    case QMediaPlayer::InvalidMedia:
        return LiveStream::Status::Invalid;
    case QMediaPlayer::StalledMedia:
        return LiveStream::Status::Stalled;
    case QMediaPlayer::BufferingMedia:
    case QMediaPlayer::BufferedMedia:
        return LiveStream::Status::Buffering;
    default:
        return LiveStream::Status::Other;
    }
}

} // namespace

QtLiveStream::QtLiveStream(Listener listener)
    : m_listener(std::move(listener))
    , m_output(std::make_unique<QAudioOutput>())
    , m_sink(std::make_unique<QVideoSink>())
{
    connect(m_sink.get(), &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame &frame) {
        if (frame.isValid() && m_listener.picture)
            m_listener.picture(frame.toImage());
    });
}

QtLiveStream::~QtLiveStream()
{
    close();
}

void QtLiveStream::setVolume(double volume)
{
    m_output->setVolume(float(volume));
}

void QtLiveStream::setMuted(bool muted)
{
    m_output->setMuted(muted);
}

bool QtLiveStream::isMuted() const
{
    return m_output->isMuted();
}

void QtLiveStream::open(const QUrl &source)
{
    if (m_player)
        return;
    m_player = std::make_unique<QMediaPlayer>();
    m_player->setAudioOutput(m_output.get());
    m_player->setVideoSink(m_sink.get());
    connect(m_player.get(), &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (m_listener.status)
                    m_listener.status(statusOf(status));
            });
    connect(m_player.get(), &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString &text) {
                QString message;
                QDebug(&message).noquote() << error << text;
                if (m_listener.failed)
                    m_listener.failed(message);
            });
    m_player->setSource(source);
    m_player->play();
}

void QtLiveStream::play()
{
    if (m_player)
        m_player->play();
}

void QtLiveStream::pause()
{
    if (m_player)
        m_player->pause();
}

bool QtLiveStream::jumpToLiveEdge()
{
    if (!m_player)
        return false;
    // Resuming where the stream was paused would show the past: go to the newest point.
    const QMediaTimeRange loaded = m_player->bufferedTimeRange();
    if (m_player->isSeekable() && !loaded.isEmpty()) {
        m_player->setPosition(loaded.intervals().first().end());
        m_player->play();
        return false;
    }
    // Without a buffered range to seek in, loading the stream again starts at its live edge.
    const QUrl source = m_player->source();
    m_player->setSource(QUrl());
    m_player->setSource(source);
    m_player->play();
    return true;
}

void QtLiveStream::close()
{
    if (!m_player)
        return;
    m_player->disconnect(this);
    m_player->stop();
    m_player.reset(); // releases the stream and its decoders
}
