#pragma once

#include "ui/multimedia/LiveStream.h"

#include <QObject>

#include <memory>

/// A live stream through QMediaPlayer, in the module liborvalemultimedia.so.
class QtLiveStream final : public QObject, public LiveStream
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtLiveStream)

public:
    explicit QtLiveStream(Listener listener);
    ~QtLiveStream() override;

    void setVolume(double volume) override;
    void setMuted(bool muted) override;
    bool isMuted() const override;
    void open(const QUrl &source) override;
    bool isOpen() const override { return bool(m_player); }
    void play() override;
    void pause() override;
    bool jumpToLiveEdge() override;
    void close() override;
    QMediaPlayer *player() const override { return m_player.get(); }
    QAudioOutput *audioOutput() const override { return m_output.get(); }
    QVideoSink *videoSink() const override { return m_sink.get(); }

private:
    Listener m_listener;
    std::unique_ptr<QAudioOutput> m_output;
    std::unique_ptr<QVideoSink> m_sink;
    // Refers to the output and the sink: it goes first.
    std::unique_ptr<QMediaPlayer> m_player;
};
