#include "engine/media/BitrateAdapter.h"

#include <algorithm>

BitrateAdapter::BitrateAdapter(int ceiling, Tuning tuning)
    : m_tuning(tuning)
    , m_ceiling(ceiling)
    , m_target(ceiling)
{}

void BitrateAdapter::setCeiling(int ceiling)
{
    m_target = m_target == m_ceiling ? ceiling : std::min(m_target, ceiling);
    m_ceiling = ceiling;
}

bool BitrateAdapter::slowLink(qint64 nowMs)
{
    return stepDown(nowMs);
}

bool BitrateAdapter::lossReport(qint64 nowMs, double fraction)
{
    return fraction > m_tuning.lossHigh && stepDown(nowMs);
}

bool BitrateAdapter::stepDown(qint64 nowMs)
{
    m_lastTrouble = nowMs; // trouble that goes on keeps the rate from climbing
    if ((m_lastDown >= 0 && nowMs - m_lastDown < m_tuning.holdMs) || m_target <= m_tuning.floor)
        return false;
    m_target = std::max(m_tuning.floor, qRound(m_target * m_tuning.down));
    m_lastDown = m_lastChange = nowMs;
    return true;
}

bool BitrateAdapter::tick(qint64 nowMs)
{
    if (m_target >= m_ceiling)
        return false;
    const qint64 since = std::max(m_lastTrouble, m_lastChange);
    if (since >= 0 && nowMs - since < m_tuning.calmMs)
        return false;
    m_target = std::min(m_ceiling, qRound(m_target * m_tuning.up));
    m_lastChange = nowMs;
    return true;
}
