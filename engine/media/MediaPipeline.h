#pragma once

#include "engine/MediaEngine.h"

#include <QColor>
#include <QSize>
#include <QString>
#include <QStringList>

/// The GStreamer launch lines of the call's media, built from what the user chose. Text: only
/// a camera's offered formats are read, with GStreamer's caps parser (CameraFormat).
///
/// The video preference level of the configuration record selects what the camera sends:
///
/// | level | meaning            | picture   | frames/s | VP8 target |
/// |-------|--------------------|-----------|----------|------------|
/// | 0     | automatic          | 640×360   | 15       | 500 kbit/s |
/// | 1     | smoothness first   | 480×270   | 30       | 400 kbit/s |
/// | 2     | sharpness first    | 960×540   | 10       | 700 kbit/s |
/// | 3     | high definition    | 1280×720  | 15       | 1 Mbit/s   |
/// | 4     | extra definition   | 1280×720  | 30       | 1.5 Mbit/s |
/// | 5     | best picture       | 1920×1080 | 30       | 2.5 Mbit/s |
///
/// Any other level sends as level 0. A share sends its source's own size up to 1920 pixels a
/// side, 15 pictures a second while its content moves and 5 while it is still.
class MediaPipeline final
{
public:
    struct VideoFormat
    {
        int width = 640, height = 360, fps = 15, bitrate = 500000;
    };

    /// What this participant sends.
    struct Sending
    {
        QString camera;     ///< the camera's V4L2 device node; empty sends the generated picture
        QString cameraCaps; ///< what the camera offers, as GStreamer caps; empty when unknown
        QColor colour;      ///< of the generated picture
        QString microphone; ///< the sound server's source; empty sends the generated tone
        int toneHz = 440;   ///< of the generated tone
        bool echoCancellation = false;
        bool automaticGain = false;
        int videoLevel = 0;
        bool noCamera = false; ///< the chosen camera is gone and none is left: no pictures
    };

    static VideoFormat videoFormat(int level);
    /// The RTP payload type of the sent sound (Opus).
    static constexpr int soundPayloadType = 111;
    /// What opens the device at `index` of a list (`ids`, index for index): an index past the
    /// list means the sound server's or the machine's default device (`fallback`), never the
    /// generated source that an empty name stands for, unless the list itself names one.
    static QString chosenDevice(const QStringList &ids, quint32 index, const QString &fallback);
    /// The publisher's pipeline: picture and sound into a `webrtcbin name=webrtc`. The camera
    /// branch holds `valve name=camera` and `vp8enc name=videoenc`, the sound branch
    /// `volume name=microphone` and the audio level each packet carries to the relay; the sent
    /// pictures also go to `appsink name=selfview` for the own tile. The microphone
    /// passes `webrtcdsp name=dsp` when echo cancellation or automatic gain is on (a generated
    /// tone never does); echo cancellation needs the speaker's probe, see speaker().
    static QString publisher(const Sending &sending);
    /// A share's pipeline: the X screen region or window, or the desktop's stream (from
    /// `pipewiresrc name=desktop`), into a `webrtcbin name=webrtc`.
    static QString share(const MediaEngine::ShareSource &source);
    /// Where received sound is played: the named output of the sound server, else the default
    /// one. With `echoReference`, the sound also goes to the echo canceller's probe, which the
    /// publisher's pipeline holds; the probe takes one stream, so it is given the call's mix.
    static QString speaker(const QString &device, bool echoReference);
    /// The call's received voices mixed into one stream, `audiomixer name=mix`, whose inputs
    /// (mixInput()) join and leave while it plays; the mix goes to speaker() when the output
    /// `opens`, else nowhere.
    static QString soundMix(const QString &device, bool opens, bool echoReference);
    /// One voice's way into the mix: what its subscriber plays into `channel`.
    static QString mixInput(const QString &channel);
    /// The in-process channel of the `n`th received voice of the process.
    static QString voiceChannel(int n) { return QStringLiteral("orvale-voice-%1").arg(n); }
    /// What a subscriber makes of the received sound: decoded, muted or not by its
    /// `volume name=speaker`, and played into the mix's `channel`, or written as raw 48 kHz
    /// mono samples into `recordFile` when one is named; dropped when neither is.
    static QString voice(const QString &channel, const QString &recordFile, bool muted);
    /// The name under which the microphone's echo canceller finds what the speaker plays.
    static QString echoProbeName() { return QStringLiteral("orvaleecho"); }
    /// The in-process channel that carries played sound to the probe.
    static QString echoChannel() { return QStringLiteral("orvale-heard"); }
    /// The picture size a share of `width`×`height` is sent at: its own up to 1920 pixels a
    /// side, scaled down beyond with its proportions kept, even sides; full HD when unknown.
    static QSize shareSize(int width, int height);
    /// The share's bit rate at a picture of `size`.
    static int shareBitrate(const QSize &size);

    /// The camera's part of the publisher, the bin `videoinput`: pictures of the chosen level,
    /// planar 4:2:0. A running call replaces it when the camera or the level changes.
    static QString videoInput(const Sending &sending);
    /// The source of videoInput(): the generated picture, or the camera asked for the format
    /// that best gives the chosen level (any raw one when its offers are unknown). A running
    /// call reopens the camera when this changes.
    static QString cameraSource(const Sending &sending);
    /// The picture format the camera's part sends at, held by its `capsfilter name=videoformat`.
    static QString videoCaps(const Sending &sending);
    /// The same at another size and frame rate: where the link makes the picture degrade.
    static QString videoCaps(const Sending &sending, int width, int height, int fps);
    /// The frame rate of a share's capture while its content moves; its part that sets it is
    /// `capsfilter name=videoformat`, which lowers it on a slow link.
    static constexpr int shareFps = 15;
    /// The microphone's part of the publisher, the bin `audioinput`, with its voice processing
    /// and the echo canceller's probe. A running call replaces it when any of them changes.
    static QString audioInput(const Sending &sending);

private:
    static QString echoReference(const Sending &sending);
};
