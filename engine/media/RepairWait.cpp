#include "engine/media/RepairWait.h"

int RepairWait::update(qint64 damaged, qint64 nowMs)
{
    if (damaged > m_damaged) {
        m_longer = true;
        m_damagedAt = nowMs;
    } else if (m_longer && nowMs - m_damagedAt >= calmMs) {
        m_longer = false;
    }
    m_damaged = damaged; // a new stream's counters start again from 0
    return m_longer ? extraMs : 0;
}
