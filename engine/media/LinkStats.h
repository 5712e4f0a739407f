#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

/// A peer connection's quality from successive readings of its statistics: bit rate from the
/// byte counters between two readings, packet loss, round trip and jitter, per stream (audio,
/// video; sent or received). Plain numbers: the media module reads them out of GStreamer.
class LinkStats final
{
public:
    /// One stream's counters in one reading; -1 where the reading holds no such figure.
    struct Counters
    {
        bool video = false;
        bool sending = false;
        quint32 ssrc = 0;            ///< the stream's RTP source, 0 when unknown
        quint64 bytes = 0;           ///< sent or received so far
        qint64 packetsReceived = -1; ///< a received stream's
        qint64 packetsLost = -1;     ///< a received stream's, so far
        double fractionLost = -1;    ///< a sent stream's, in the receiver's last report (0…1)
        double roundTripMs = -1;
        double jitterMs = -1;
    };
    /// Pictures of the video stream: for a received one, decoded and dropped by the decoder;
    /// for a sent one, encoded and dropped by the encoder.
    struct Frames
    {
        qint64 done = -1, dropped = -1;
        /// A received stream's pictures that arrived with packets missing for good and were
        /// dropped before the decoder rather than shown damaged.
        qint64 damaged = -1;
    };
    /// Lost video packets asked for again (NACK) and sent again (RTX), so far; -1 when the
    /// connection agreed on no retransmission.
    struct Retransmissions
    {
        qint64 requests = -1, packets = -1;
    };
    /// For the sent video: asked for by the relay and sent again; for the received: asked for
    /// from the relay and received.
    struct Resent
    {
        Retransmissions sent, received;
    };

    /// A poor link loses more than this share of its packets (or of its received pictures, to
    /// damage), or takes longer for a round trip.
    static constexpr double poorLossPercent = 5;
    static constexpr double poorRoundTripMs = 400;

    void update(qint64 nowMs, const QList<Counters> &streams, Frames frames, Resent resent);
    void update(qint64 nowMs, const QList<Counters> &streams, Frames frames)
    {
        update(nowMs, streams, frames, Resent());
    }
    /// The connection's selected candidate pair, as "relay tcp to host udp".
    void setPair(const QString &pair) { m_pair = pair; }
    QString pair() const { return m_pair; }
    bool poor() const;
    /// The lost share (percent) of the sent video packets, or -1 when unknown.
    double sentVideoLossPercent() const;
    const Frames &frames() const { return m_frames; }
    const Resent &resent() const { return m_resent; }
    /// The largest jitter of the received streams, or -1 when unknown.
    double receivedJitterMs() const;
    /// The round trip of the sent streams, or -1 when unknown.
    double roundTripMs() const;
    /// How long the receive jitter buffer waits for late and retransmitted packets: time for the
    /// relay to have a packet lost on the sender's side sent again, a round trip for this
    /// side's own request, and room for the packets' spread, within sane bounds.
    static int jitterBufferMs(double jitterMs, double roundTripMs);
    static constexpr int shortestJitterBufferMs = 200;
    static constexpr int longestJitterBufferMs = 300;
    /// Compact, one stream after the other; empty before two readings.
    QString describe() const;

private:
    struct Stream
    {
        Counters last;
        qint64 at = 0;
        double kbitPerSecond = -1;
        double lossPercent = -1;
    };

    QList<Stream> m_streams;
    Frames m_frames;
    double m_damagedPercent = -1; ///< of the received pictures between the last two readings
    Resent m_resent;
    QString m_pair;
};
