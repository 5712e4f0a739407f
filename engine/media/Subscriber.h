#pragma once

#include "engine/media/PictureFit.h"
#include "engine/media/RepairWait.h"
#include "engine/media/RtcpFeedbackOrder.h"
#include "engine/media/WebRtcPeer.h"

#include <functional>
#include <memory>

class QImage;

struct EngineState;
class FrameSlot;
typedef struct _GstPad GstPad;

/// One remote participant's media from the relay: decoded pictures go into the engine state
/// for that participant's tile (or, for a share, the share area), decoded sound into the call's
/// mix (or, when the settings name a folder, into a raw file there).
class Subscriber final : public WebRtcPeer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Subscriber)

public:
    /// `uri` is the participant's; `recordFile` replaces the speaker when not empty; a share
    /// carries pictures for the share area only.
    Subscriber(EngineState &state, const QString &uri, const QString &recordFile, bool share,
               QObject *parent);
    ~Subscriber() override;

    /// The mix's channel that the decoded sound plays into (see SoundMix); none drops it.
    /// Before start().
    void setVoiceChannel(const QString &channel) { m_voiceChannel = channel; }
    QString voiceChannel() const { return m_voiceChannel; }
    bool start();
    void setOffer(const QString &sdp);
    void setSpeakerMuted(bool muted);
    QString uri() const { return m_uri; }
    bool isShare() const { return m_share; }
    /// The jitter buffer follows the received streams' jitter, with room for a retransmission
    /// over `roundTripMs` (the own link's to the relay, -1 when unknown), and waits longer while
    /// pictures still arrive damaged.
    void followJitter(double roundTripMs);
    /// A decoded picture, from a GStreamer thread.
    void deliver(const QImage &frame);

private:
    void padAdded(GstPad *pad); ///< on a GStreamer thread
    /// The bin `sound` that decodes the received sound and plays or records it, in place before
    /// the stream starts, so that the speaker's mute always finds it.
    bool addSound();
    /// Links the received sound's pad to the bin `sound`; on a GStreamer thread.
    void linkSound(GstPad *pad);

    EngineState &m_state;
    std::shared_ptr<FrameSlot> m_frames; ///< this stream's pictures, read by the painter
    std::unique_ptr<PictureFit> m_fit;   ///< made before the pictures flow
    std::function<void()> m_repaint;
    QString m_uri;
    QString m_recordFile;
    bool m_share = false;
    RtcpFeedbackOrder m_feedback;
    QString m_voiceChannel;
    bool m_speakerMuted = false;
    int m_latencyMs = LinkStats::shortestJitterBufferMs; ///< of the jitter buffer
    RepairWait m_repairWait;
};
