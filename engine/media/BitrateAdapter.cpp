#include "engine/media/BitrateAdapter.h"

#include <algorithm>
#include <array>

namespace {

/// Picture heights a camera's picture steps down through, all 16:9.
constexpr std::array heights{1080, 720, 540, 360, 270, 180};
constexpr std::array rates{30, 15, 10, 5};

} // namespace

BitrateAdapter::Tuning BitrateAdapter::camera()
{
    Tuning tuning;
    tuning.floor = 30000; // a thumbnail's 320×180 at 10 pictures a second
    tuning.floorBits = 0.05;
    return tuning;
}

BitrateAdapter::Tuning BitrateAdapter::share()
{
    Tuning tuning;
    tuning.floor = 100000;
    tuning.floorBits = 0.04;
    tuning.floorFps = 15;
    tuning.minFps = 5;
    tuning.keepsSize = true;
    return tuning;
}

BitrateAdapter::BitrateAdapter(int ceiling, Tuning tuning)
    : m_tuning(tuning)
    , m_ceiling(ceiling)
    , m_target(ceiling)
{}

BitrateAdapter::BitrateAdapter(const Format &top, int ceiling, Tuning tuning)
    : BitrateAdapter(ceiling, tuning)
{
    m_top = m_format = top;
}

int BitrateAdapter::floorOf(const Format &format) const
{
    const double pixels =
        double(format.width) * format.height * std::max(format.fps, m_tuning.floorFps);
    return std::max(m_tuning.floor, qRound(pixels * m_tuning.floorBits));
}

void BitrateAdapter::setCeiling(int ceiling)
{
    m_target = m_target == m_ceiling ? ceiling : std::min(m_target, ceiling);
    m_ceiling = ceiling;
}

bool BitrateAdapter::slowLink(qint64 nowMs)
{
    // The relay reports a few lost packets a second. Where the receiver asked again for no more
    // than `repairableLoss` of them, the link loses packets at random and repair makes it good:
    // a lower rate would not mend it, only drain the picture. The report is no trouble then.
    if (m_askedAgain >= 0 && m_askedAgain <= m_tuning.repairableLoss)
        return false;
    return stepDown(nowMs);
}

void BitrateAdapter::repairReport(double fraction)
{
    m_askedAgain = fraction;
}

bool BitrateAdapter::lossReport(qint64 nowMs, double fraction)
{
    // The receiver counts a lost packet before it is sent again: where packets are sent again,
    // the loss repair makes good is no trouble either.
    const double high = m_askedAgain >= 0 ? m_tuning.repairableLoss : m_tuning.lossHigh;
    return fraction > high && stepDown(nowMs);
}

BitrateAdapter::Format BitrateAdapter::lower() const
{
    Format next = m_format;
    const auto fps =
        std::find_if(rates.begin(), rates.end(), [this](int r) { return r < m_format.fps; });
    if (fps != rates.end() && *fps >= m_tuning.minFps) {
        next.fps = *fps;
        return next;
    }
    const auto height =
        std::find_if(heights.begin(), heights.end(), [this](int h) { return h < m_format.height; });
    if (!m_tuning.keepsSize && height != heights.end()) {
        next.width = *height * 16 / 9;
        next.height = *height;
    }
    return next;
}

BitrateAdapter::Format BitrateAdapter::higher() const
{
    if (m_format.height < m_top.height) {
        const auto height = std::find_if(heights.rbegin(), heights.rend(),
                                         [this](int h) { return h > m_format.height; });
        if (height == heights.rend() || *height >= m_top.height)
            return {m_top.width, m_top.height, m_format.fps};
        return {*height * 16 / 9, *height, m_format.fps};
    }
    const auto fps =
        std::find_if(rates.rbegin(), rates.rend(), [this](int r) { return r > m_format.fps; });
    return {m_format.width, m_format.height,
            fps == rates.rend() ? m_top.fps : std::min(*fps, m_top.fps)};
}

bool BitrateAdapter::stepDown(qint64 nowMs)
{
    m_lastTrouble = nowMs; // trouble that goes on keeps the rate from climbing
    if (m_lastDown >= 0 && nowMs - m_lastDown < m_tuning.holdMs)
        return false;
    const int next = qRound(m_target * m_tuning.down);
    if (next < floorOf(m_format)) {
        const Format degraded = lower();
        if (degraded == m_format && m_target <= floorOf(m_format))
            return false;
        // A lower format's floor may lie above the rate reached: it never rises on the way down.
        m_target = std::min(m_target, std::max(next, floorOf(degraded)));
        m_format = degraded;
    } else {
        m_target = next;
    }
    m_lastDown = m_lastChange = nowMs;
    return true;
}

bool BitrateAdapter::tick(qint64 nowMs)
{
    if (m_target >= m_ceiling && m_format == m_top)
        return false;
    if ((m_lastTrouble >= 0 && nowMs - m_lastTrouble < m_tuning.calmMs) ||
        (m_lastChange >= 0 && nowMs - m_lastChange < m_tuning.stepUpMs))
        return false;
    m_target = std::min(m_ceiling, qRound(m_target * m_tuning.up));
    // The format left last comes back where its floor is reached; the top one at the level's
    // rate, whose floor may lie above it.
    if (const Format better = higher();
        !(better == m_format) && m_target >= std::min(floorOf(better), m_ceiling))
        m_format = better;
    m_lastChange = nowMs;
    return true;
}
