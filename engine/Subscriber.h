#pragma once

#include "WebRtcPeer.h"

#include <atomic>

class QImage;

struct EngineState;
typedef struct _GstPad GstPad;

/// One remote participant's media from the relay: decoded pictures go into the engine state
/// for that participant's tile, decoded sound to the speaker (or, when the settings name a
/// folder, into a raw file there).
class Subscriber final : public WebRtcPeer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Subscriber)

public:
    /// `uri` is the participant's; `recordFile` replaces the speaker when not empty.
    Subscriber(EngineState &state, const QString &uri, const QString &recordFile, QObject *parent);
    ~Subscriber() override;

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
    std::atomic<bool> m_speakerMuted{false};
};
