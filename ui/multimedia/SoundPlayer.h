#pragma once

#include <QString>

class QMediaPlayer;
class QUrl;

/// A short sound played from its start: the ring of an incoming call, the speaker test.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    /// Plays `source` from its start, on the output named `device` when there is one of that
    /// name (else on the output used before, at first the default one).
    virtual void play(const QUrl &source, const QString &device = {}) = 0;
    virtual void stop() = 0;
    /// The Qt player behind it, for tests.
    virtual QMediaPlayer *player() const = 0;
};
