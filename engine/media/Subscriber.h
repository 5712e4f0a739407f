#pragma once

#include "engine/media/PictureFit.h"
#include "engine/media/WebRtcPeer.h"

#include <QMutex>

#include <atomic>
#include <functional>
#include <memory>

class QImage;

struct EngineState;
class FrameSlot;
typedef struct _GstPad GstPad;

/// One remote participant's media from the relay: decoded pictures go into the engine state
/// for that participant's tile (or, for a share, the share area), decoded sound to the speaker
/// (or, when the settings name a folder, into a raw file there).
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

    /// Whether the sound server's output `device` (empty for the default one) can be opened;
    /// a machine without one still shows the pictures. Opens it: not on a streaming thread.
    static bool speakerOpens(const QString &device);
    /// The sound server's output to play into, and whether it opens (else the sound is
    /// dropped). Before start().
    void setSpeakerDevice(const QString &device, bool opens)
    {
        QMutexLocker lock(&m_speakerLock);
        m_speakerDevice = device;
        m_speakerOpens = opens;
    }
    /// Whether the played sound also goes to the microphone's echo canceller. Before start().
    void setEchoReference(bool on)
    {
        QMutexLocker lock(&m_speakerLock);
        m_echoReference = on;
    }
    /// Plays into another output, or feeds the echo canceller or not, while the sound plays.
    void changeSpeaker(const QString &device, bool opens, bool echoReference);
    bool echoReference() const
    {
        QMutexLocker lock(&m_speakerLock);
        return m_echoReference;
    }
    bool start();
    void setOffer(const QString &sdp) { answerOffer(sdp); }
    void setSpeakerMuted(bool muted);
    QString uri() const { return m_uri; }
    bool isShare() const { return m_share; }
    /// A decoded picture, from a GStreamer thread.
    void deliver(const QImage &frame);

private:
    void padAdded(GstPad *pad); ///< on a GStreamer thread
    /// The bin that plays the decoded sound, named `speakerout`, with a sink pad.
    GstElement *speakerBin() const;

    EngineState &m_state;
    std::shared_ptr<FrameSlot> m_frames; ///< this stream's pictures, read by the painter
    std::unique_ptr<PictureFit> m_fit;   ///< made before the pictures flow
    std::function<void()> m_repaint;
    QString m_uri;
    QString m_recordFile;
    bool m_share = false;
    mutable QMutex m_speakerLock; ///< the speaker's choice, read on GStreamer threads
    QString m_speakerDevice;
    bool m_speakerOpens = false;
    bool m_echoReference = false;
    std::atomic<bool> m_speakerMuted{false};
};
