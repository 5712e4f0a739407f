#pragma once

#include "engine/media/RepairWait.h"
#include "engine/media/RtcpFeedbackOrder.h"
#include "engine/media/WebRtcPeer.h"

#include <QHash>
#include <QMutex>
#include <QSet>

#include <memory>

struct EngineState;
class SoundMix;
typedef struct _GstPad GstPad;

/// The other participants' media from the relay, all on one connection: each stream the relay
/// sends (one per media line, named by its mid) carries one participant's camera, voice or
/// share. Decoded pictures go into the engine state for that participant's tile (or, for a
/// share, the share area), decoded sound into the call's mix (or, when a folder is named, into
/// a raw file there). The relay reuses a media line that a gone feed left for a new one: what
/// a line carries is set anew with each offer (setStreams()), and its decoder stays.
class Subscriber final : public WebRtcPeer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Subscriber)

public:
    /// What one media line carries.
    struct Target
    {
        qint64 feed = 0; ///< the relay's publisher id
        QString uri;     ///< whose it is
        bool share = false;
        bool video = false;
        bool operator==(const Target &) const = default;
    };
    using Streams = QHash<QString, Target>; ///< by mid

    /// Voices play into `mix`, or are recorded into `recordFolder` when it is not empty.
    Subscriber(EngineState &state, SoundMix &mix, const QString &recordFolder, QObject *parent);
    ~Subscriber() override;

    bool start();
    /// What each media line carries from now on, as the relay lists it; lines not listed carry
    /// nothing. Before the offer that brings them (setOffer()).
    void setStreams(const Streams &streams);
    const Streams &streams() const { return m_targets; }
    /// Every media line of `feed` stops at once: its tile forgets its picture.
    void dropFeed(qint64 feed);
    void setOffer(const QString &sdp);
    /// The answer to the last offer as the relay is told it: the lines the relay offered as
    /// inactive (their feed gone) are answered so, though they stay receiving here. Else the
    /// relay would send a new feed's packets on such a line before its offer arrives here, and
    /// webrtcbin would take them for the first line's.
    QJsonObject answerForRelay(const QJsonObject &answer) const;
    void setSpeakerMuted(bool muted);
    /// The participants received, each with the link of their own streams.
    const QHash<QString, LinkStats> &links() const { return m_links; }
    /// The jitter buffer follows the received streams' jitter, with room for a retransmission
    /// over `roundTripMs` (the own link's to the relay, -1 when unknown), and waits longer while
    /// pictures still arrive damaged.
    void followJitter(double roundTripMs);

private:
    struct Pictures;
    void streamsRead(qint64 nowMs, const QList<LinkStats::Counters> &streams) override;
    void padAdded(GstPad *pad); ///< on a GStreamer thread
    /// The pictures of the media line `mid`, made on first use; any thread.
    std::shared_ptr<Pictures> picturesOf(const QString &mid);
    /// The line's picture decoder, made with its first pad; on a GStreamer thread.
    void addVideo(const QString &mid, GstPad *pad);
    /// The bin that decodes the sound of the line `mid` and plays or records it, in place before
    /// the stream starts, so that the speaker's mute always finds it.
    bool addSound(const QString &mid, const QString &uri);
    /// Links a pad of the line `mid` to its decoder; on a GStreamer thread.
    void linkLine(const QString &mid, GstPad *pad);
    /// A pad of a line that carries nothing (yet) flows into nothing.
    void discard(GstPad *pad);
    /// The line `mid` carries `target` from now on (nothing when its feed is 0).
    void retarget(const QString &mid, const Target &target);

    EngineState &m_state;
    SoundMix &m_mix;
    QString m_recordFolder;
    std::function<void()> m_repaint;
    RtcpFeedbackOrder m_feedback;
    bool m_speakerMuted = false;
    int m_latencyMs = LinkStats::shortestJitterBufferMs; ///< of the jitter buffer
    RepairWait m_repairWait;
    Streams m_targets;
    QHash<QString, QString> m_voices;      ///< the mix channel of each sound line, by mid
    QHash<quint32, QString> m_midOfSource; ///< by the relay's RTP source, from its offer
    QSet<QString> m_idleLines;             ///< the mids the last offer carried nothing on
    QHash<QString, LinkStats> m_links;     ///< by participant URI
    mutable QMutex m_mutex; ///< guards m_pictures and m_midOfSource, read on GStreamer threads
    QHash<QString, std::shared_ptr<Pictures>> m_pictures; ///< by mid
};
