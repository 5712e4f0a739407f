#pragma once

#include <QString>

#include <vector>

typedef struct _GstBuffer GstBuffer;
typedef struct _GstCaps GstCaps;
typedef struct _GstElement GstElement;

/// A few seconds of picture and sound encoded once (VP8 and Opus, with the client's encoder
/// settings), which any number of light publishers then send in a loop with no encoder of their
/// own: a call of many participants whose other participants cost the machine next to nothing.
class EncodedClip final
{
public:
    /// The picture: its size, rate and the encoder's target rate in bit/s.
    struct Picture
    {
        int width = 640, height = 360, fps = 15, bitrate = 500000;
    };

    EncodedClip() = default;
    ~EncodedClip();
    EncodedClip(const EncodedClip &) = delete;
    EncodedClip &operator=(const EncodedClip &) = delete;

    /// Encodes `seconds` of a moving test picture (a whole number of key frame intervals, so
    /// that each loop starts on a key frame) and of a tone; false when GStreamer could not.
    bool encode(const Picture &picture, int seconds);
    /// The sending part of a launch line: the clip's picture and sound, paced to the pipeline's
    /// clock, payloaded as the client does, into the `webrtcbin` named "webrtc".
    static QString launch();
    /// Feeds the sources that `launch` made in `pipeline` from this clip, round and round. The
    /// clip must outlive the pipeline.
    void feed(GstElement *pipeline) const;
    /// The encoded picture's rate, in bit/s.
    double videoBitsPerSecond() const;

    struct Track
    {
        GstCaps *caps = nullptr;
        std::vector<GstBuffer *> buffers;
        quint64 length = 0; ///< nanoseconds from the first buffer's start to the last's end
    };

private:
    static bool record(const QString &launch, Track &track);

    Track m_video;
    Track m_audio;
};
