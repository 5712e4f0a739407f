#pragma once

#include <QString>

#include <functional>

class QAudioOutput;
class QImage;
class QMediaPlayer;
class QUrl;
class QVideoSink;

/// A live broadcast's stream with its sound, as the live player window plays it. The sound's
/// settings hold from creation on, before and across opening.
class LiveStream
{
public:
    enum class Status { Other, Loaded, Invalid, Stalled, Buffering };
    /// What the stream reports, on the main thread, while it is open.
    struct Listener
    {
        std::function<void(const QImage &)> picture;
        std::function<void(Status)> status;
        std::function<void(const QString &)> failed;
    };

    virtual ~LiveStream() = default;
    virtual void setVolume(double volume) = 0;
    virtual void setMuted(bool muted) = 0;
    virtual bool isMuted() const = 0;
    /// Loads `source` and plays it.
    virtual void open(const QUrl &source) = 0;
    virtual bool isOpen() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    /// Goes on playing from the newest point of the stream; true when that means loading the
    /// stream again.
    virtual bool jumpToLiveEdge() = 0;
    /// Stops, and releases the stream and its decoders; nothing is reported afterwards.
    virtual void close() = 0;

    // What plays, for tests: the player exists from open() to close().
    virtual QMediaPlayer *player() const = 0;
    virtual QAudioOutput *audioOutput() const = 0;
    virtual QVideoSink *videoSink() const = 0;
};
