#include "engine/media/LinkStats.h"

#include <QStringList>

#include <algorithm>

namespace {

/// The lost share of a received stream's packets between two readings.
double receivedLoss(const LinkStats::Counters &before, const LinkStats::Counters &now)
{
    if (now.packetsLost < 0 || now.packetsReceived < 0)
        return -1;
    const qint64 lost =
        std::max<qint64>(0, now.packetsLost - std::max<qint64>(0, before.packetsLost));
    const qint64 received = now.packetsReceived - std::max<qint64>(0, before.packetsReceived);
    return lost + received > 0 ? 100.0 * double(lost) / double(lost + received) : 0;
}

/// The share of the received pictures between two readings that arrived damaged: with lost
/// packets sent again, a lossy link shows there rather than in the packets lost for good.
double damagedShare(const LinkStats::Frames &before, const LinkStats::Frames &now)
{
    if (before.damaged < 0 || now.damaged < 0 || before.done < 0 || now.done < 0)
        return -1;
    const qint64 damaged = std::max<qint64>(0, now.damaged - before.damaged);
    const qint64 whole = std::max<qint64>(0, now.done - before.done);
    return damaged + whole > 0 ? 100.0 * double(damaged) / double(damaged + whole) : 0;
}

} // namespace

void LinkStats::update(qint64 nowMs, const QList<Counters> &streams, Frames frames, Resent resent)
{
    m_damagedPercent = damagedShare(m_frames, frames);
    m_frames = frames;
    m_resent = resent;
    QList<Stream> next;
    for (const Counters &c : streams) {
        Stream s;
        s.last = c;
        s.at = nowMs;
        const auto before =
            std::find_if(m_streams.cbegin(), m_streams.cend(), [&c](const Stream &o) {
                return o.last.video == c.video && o.last.sending == c.sending &&
                       o.last.ssrc == c.ssrc;
            });
        if (before != m_streams.cend() && nowMs > before->at && c.bytes >= before->last.bytes)
            s.kbitPerSecond = double(c.bytes - before->last.bytes) * 8 / double(nowMs - before->at);
        s.lossPercent =
            c.sending ? (c.fractionLost < 0 ? -1 : c.fractionLost * 100)
                      : receivedLoss(before != m_streams.cend() ? before->last : Counters(), c);
        next.append(s);
    }
    m_streams = next;
}

bool LinkStats::poor() const
{
    if (m_damagedPercent > poorLossPercent)
        return true;
    return std::any_of(m_streams.cbegin(), m_streams.cend(), [](const Stream &s) {
        return s.lossPercent > poorLossPercent || s.last.roundTripMs > poorRoundTripMs;
    });
}

double LinkStats::sentVideoLossPercent() const
{
    for (const Stream &s : m_streams)
        if (s.last.video && s.last.sending)
            return s.lossPercent;
    return -1;
}

double LinkStats::receivedJitterMs() const
{
    double jitter = -1;
    for (const Stream &s : m_streams)
        if (!s.last.sending)
            jitter = std::max(jitter, s.last.jitterMs);
    return jitter;
}

double LinkStats::roundTripMs() const
{
    double roundTrip = -1;
    for (const Stream &s : m_streams)
        if (s.last.sending)
            roundTrip = std::max(roundTrip, s.last.roundTripMs);
    return roundTrip;
}

int LinkStats::jitterBufferMs(double jitterMs, double roundTripMs)
{
    // Unknown figures count as a link of moderate delay, not as a perfect one. The floor leaves
    // the relay time to have a packet lost on the sender's side sent again.
    const double roundTrip = roundTripMs < 0 ? 100 : roundTripMs;
    const double jitter = jitterMs < 0 ? 10 : jitterMs;
    const int wanted = qRound(150 + 1.5 * roundTrip + 4 * jitter);
    return std::clamp(wanted, shortestJitterBufferMs, longestJitterBufferMs);
}

QString LinkStats::describe() const
{
    QStringList parts;
    for (const Stream &s : m_streams) {
        if (s.kbitPerSecond < 0)
            continue;
        QString part =
            QStringLiteral("%1 %2 %3 kbit/s")
                .arg(s.last.sending ? QStringLiteral("sent") : QStringLiteral("received"),
                     s.last.video ? QStringLiteral("video") : QStringLiteral("audio"))
                .arg(qRound(s.kbitPerSecond));
        if (s.lossPercent >= 0)
            part += QStringLiteral(" loss %1 %").arg(s.lossPercent, 0, 'f', 1);
        if (s.last.roundTripMs >= 0)
            part += QStringLiteral(" rtt %1 ms").arg(qRound(s.last.roundTripMs));
        if (s.last.jitterMs >= 0)
            part += QStringLiteral(" jitter %1 ms").arg(qRound(s.last.jitterMs));
        if (s.last.video && m_frames.done >= 0)
            part += QStringLiteral(" frames %1 %2 %3 dropped")
                        .arg(m_frames.done)
                        .arg(s.last.sending ? QStringLiteral("encoded") : QStringLiteral("decoded"))
                        .arg(std::max<qint64>(0, m_frames.dropped));
        const Retransmissions &r = s.last.sending ? m_resent.sent : m_resent.received;
        if (s.last.video && r.requests >= 0)
            part += QStringLiteral(" nack %1 rtx %2").arg(r.requests).arg(r.packets);
        if (s.last.video && !s.last.sending && m_frames.damaged >= 0)
            part += QStringLiteral(" %1 damaged").arg(m_frames.damaged);
        parts.append(part);
    }
    if (!m_pair.isEmpty() && !parts.isEmpty())
        parts.append(QStringLiteral("pair ") + m_pair);
    return parts.join(QStringLiteral(", "));
}
