#pragma once

#include "WebRtcPeer.h"

#include <atomic>

class QImage;

struct EngineState;
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

    /// The sound server's output to play into; empty for the default one. Before start().
    void setSpeakerDevice(const QString &device) { m_speakerDevice = device; }
    /// Whether the played sound also goes to the microphone's echo canceller. Before start().
    void setEchoReference(bool on) { m_echoReference = on; }
    bool start();
    void setOffer(const QString &sdp) { answerOffer(sdp); }
    void setSpeakerMuted(bool muted);
    QString uri() const { return m_uri; }
    /// A decoded picture, from a GStreamer thread.
    void deliver(const QImage &frame);

private:
    void padAdded(GstPad *pad); ///< on a GStreamer thread

    EngineState &m_state;
    QString m_uri;
    QString m_recordFile;
    bool m_share = false;
    QString m_speakerDevice;
    bool m_echoReference = false;
    std::atomic<bool> m_speakerMuted{false};
};
