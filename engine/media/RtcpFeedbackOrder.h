#pragma once

#include <QList>
#include <QMutex>

#include <atomic>

#include <gst/gst.h>
#include <gst/sdp/sdp.h>

/// Puts a receiver's feedback where the relay looks for it. A peer that only receives has no
/// source of its own the relay knows, so the relay files each report packet under the source
/// of its first report block. With sound and picture bundled in one RTP session that block is
/// as often the sound's, and the picture's requests for lost packets and for a new picture are
/// then read against the sound and ignored. Every outgoing report is rewritten on its way out:
/// the block of the picture asked about comes first, and requests about sound, which the relay
/// never answers, are left out. Requests for a new picture go as a PLI about the picture. The
/// picture's round trip reads at least a millisecond, or the relay keeps nothing to send again.
/// Every other plain report leads with the picture's block too, so that the relay measures the
/// picture's round trip, and the sound's, whatever order the session keeps its blocks in.
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
    /// Rewrites one compound report in place; false when it is not one. With `pictureFirst`
    /// the picture's block leads even when nothing is asked about it.
    static bool reorder(GstBuffer *buffer, const QList<quint32> &video, bool pictureFirst = false);

private:
    static GstPadProbeReturn rewrite(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    QList<quint32> videoSources() const;

    mutable QMutex m_mutex; ///< the sources are set on the engine's thread, read on streaming ones
    QList<quint32> m_video;
    std::atomic<unsigned> m_reports{0}; ///< reports rewritten so far, for the picture's turns
};
