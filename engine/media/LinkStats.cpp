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

} // namespace

void LinkStats::update(qint64 nowMs, const QList<Counters> &streams, Frames frames)
{
    m_frames = frames;
    QList<Stream> next;
    for (const Counters &c : streams) {
        Stream s;
        s.last = c;
        s.at = nowMs;
        const auto before =
            std::find_if(m_streams.cbegin(), m_streams.cend(), [&c](const Stream &o) {
                return o.last.video == c.video && o.last.sending == c.sending;
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
        parts.append(part);
    }
    if (!m_pair.isEmpty() && !parts.isEmpty())
        parts.append(QStringLiteral("pair ") + m_pair);
    return parts.join(QStringLiteral(", "));
}
