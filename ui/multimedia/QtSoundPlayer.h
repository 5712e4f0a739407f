#pragma once

#include "ui/multimedia/SoundPlayer.h"

#include <memory>

class QAudioOutput;

/// A sound through QMediaPlayer, in the module liborvalemultimedia.so.
class QtSoundPlayer final : public SoundPlayer
{
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;

    void play(const QUrl &source, const QString &device) override;
    void stop() override;
    QMediaPlayer *player() const override { return m_player.get(); }

private:
    // The player refers to the output: it goes first.
    std::unique_ptr<QAudioOutput> m_output;
    std::unique_ptr<QMediaPlayer> m_player;
};
