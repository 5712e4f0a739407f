#pragma once

#include "engine/media/PictureFit.h"
#include "engine/media/WebRtcPeer.h"

#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

typedef struct _GstBuffer GstBuffer;

/// Outgoing media sent to the relay: this participant's picture (VP8) and sound (Opus), or a
/// share's picture. The microphone mute silences the sound; the camera off stops the pictures.
class FrameSlot;

class Publisher final : public WebRtcPeer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Publisher)

public:
    /// `launch` is a launch line from MediaPipeline.
    Publisher(const QString &launch, QObject *parent);
    ~Publisher() override;

    /// Puts each picture the call sends into `slot`, at the width it is shown at, and calls
    /// `shown` after, on a GStreamer thread. Before start().
    void setSelfView(FrameSlot *slot, std::function<void()> shown);
    /// Builds and starts the pipeline; the offer follows as localDescription().
    bool start();
    void setAnswer(const QString &sdp) { applyAnswer(sdp); }
    void setMicrophoneMuted(bool muted) { setProperty("microphone", "mute", muted); }
    void setCameraOff(bool off) { setProperty("camera", "drop", off); }
    /// Replaces the named input bin (`videoinput`, `audioinput`) of the running pipeline with
    /// one built from `description`; the rest of the pipeline, and the call, go on.
    bool replaceInput(const char *name, const QString &description);
    /// The camera's pictures change size or rate in the running stream: the encoder starts
    /// over with a key frame, the receivers' decoders follow.
    void setVideoFormat(const QString &caps, int bitrate, int keyframeDistance);
    /// The sent pictures' source reports an error after `ms`, as a failing device would.
    void failAfter(int ms);
    /// The pipeline's element `element` passes buffers steadily while its source lives: a
    /// silence longer than `silenceMs` after the first buffer is the media's loss.
    void expectSteadyFlow(const char *element, int silenceMs);
    /// The encoder's target bit rate, changed in the running stream.
    void setBitrate(int bitrate);
    /// Drops this many of every hundred sent video packets, as a lossy link would, after they
    /// were kept for retransmission; read for each packet, so the share can change in the
    /// running call. Before start().
    void setPacketLoss(const std::atomic<int> *percent) { m_lossPercent = percent; }
    /// What the running pipeline sends from: the sources, their devices and the voice
    /// processing, read from its elements.
    QString describe() const;
    /// Whether `packet`, the next sent one, is lost (see setPacketLoss()), on the streaming
    /// thread.
    bool dropsNext(GstBuffer *packet);

private:
    void dropPackets();

    QString m_launch;
    FrameSlot *m_selfSlot = nullptr;
    std::function<void()> m_selfShown;
    std::unique_ptr<PictureFit> m_selfFit; ///< made before the pictures flow
    std::atomic<qint64> m_lastBufferMs{0}; ///< steady clock; written on a streaming thread
    QTimer m_flowWatch;
    const std::atomic<int> *m_lossPercent = nullptr;
    int m_packets = 0; ///< counted on the streaming thread, for the packet loss
};
