#pragma once

#include <QtGlobal>

/// How much longer than the link's jitter asks the receive jitter buffer waits, learnt from
/// the pictures dropped as damaged. A packet the sender's link lost reaches this side only
/// when the relay has asked the sender for it again, the second time 155 ms after the first:
/// a buffer sized for this side's link alone drops that answer as too late. A reading that
/// finds new damaged pictures waits longer at once, and a long calm spell goes back; each
/// change of the wait is heard as a gap, so there are few.
class RepairWait final
{
public:
    static constexpr int extraMs = 100;
    static constexpr qint64 calmMs = 30000;

    /// `damaged`: the pictures dropped as damaged so far, read at `nowMs`. The wait to add.
    int update(qint64 damaged, qint64 nowMs);

private:
    qint64 m_damaged = 0;
    qint64 m_damagedAt = 0;
    bool m_longer = false;
};
