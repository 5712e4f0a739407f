#pragma once

#include "WebRtcPeer.h"

#include <QColor>

/// This participant's outgoing media: the generated picture (VP8) and tone (Opus), sent to the
/// relay. The microphone mute silences the tone; the camera off stops the pictures.
class Publisher final : public WebRtcPeer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Publisher)

public:
    struct Source
    {
        QColor colour;
        int toneHz = 440;
        int width = 640, height = 360, fps = 15;
    };

    Publisher(const Source &source, QObject *parent);

    /// Builds and starts the pipeline; the offer follows as localDescription().
    bool start();
    void setAnswer(const QString &sdp) { applyAnswer(sdp); }
    void setMicrophoneMuted(bool muted) { setProperty("microphone", "mute", muted); }
    void setCameraOff(bool off) { setProperty("camera", "drop", off); }

private:
    Source m_source;
};
