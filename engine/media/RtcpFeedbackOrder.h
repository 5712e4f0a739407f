#pragma once

#include <QList>
#include <QMutex>

#include <gst/gst.h>
#include <gst/sdp/sdp.h>

/// Puts a receiver's feedback where the relay looks for it. A peer that only receives has no
/// source of its own the relay knows, so the relay files each report packet under the source
/// of its first report block. With sound and picture bundled in one RTP session that block is
/// as often the sound's, and the picture's requests for lost packets and for a new picture are
/// then read against the sound and ignored. Every outgoing report is rewritten on its way out:
/// the block of the picture asked about comes first, and requests about sound, which the relay
/// never answers, are left out. Requests for a new picture go as a PLI about the picture. With
/// several pictures on one connection the relay still reads a whole compound against one source:
/// each compound keeps the feedback about one picture, a new picture asked for first. The relay
/// keeps nothing to send again before it has measured a picture's round trip above 0 ms, from
/// reports that lead with that picture's block, as feedback about it does: the pictures' round
/// trips read at least a millisecond, and reports without feedback lead with each picture in
/// turn, then with the sound, whatever order the session keeps its blocks in.
class RtcpFeedbackOrder
{
    Q_DISABLE_COPY_MOVE(RtcpFeedbackOrder)

public:
    RtcpFeedbackOrder() = default;

    /// The relay's video sources as its offer names them: the picture's first, then those that
    /// send it again.
    void setVideoSources(const QList<quint32> &sources);
    /// The video sources of an SDP offer's or answer's video media, the picture's first.
    static QList<quint32> videoSourcesOf(const GstSDPMessage *sdp);
    /// Rewrites every report that `rtpBin`'s sessions send from now on.
    void attach(GstElement *rtpBin);
    /// Whose turn it is, from one report to the next.
    struct Turns
    {
        quint32 asked = 0; ///< the source whose feedback was kept the time before
        quint32 led = 0;   ///< the picture a report without feedback led with, 0 for the sound
    };
    /// Rewrites one compound report in place; false when it is not one. With `turns`, pictures
    /// that wait together take turns, and so do the pictures and the sound in leading reports
    /// without feedback; it is updated.
    static bool reorder(GstBuffer *buffer, const QList<quint32> &video, Turns *turns = nullptr);

private:
    static GstPadProbeReturn rewrite(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    QList<quint32> videoSources() const;

    mutable QMutex m_mutex; ///< the sources are set on the engine's thread, read on streaming ones
    QList<quint32> m_video;
    Turns m_turns; ///< on the thread that sends the reports only
};
