#pragma once

#include <QtGlobal>

/// Decides the video encoder's target bit rate from what is known about the link: each sign of
/// trouble (a relay's slow-link report, a receiver's loss report above `lossHigh`) steps the
/// rate down at once; a link quiet for `calmMs` lets it climb back step by step to the quality
/// level's rate (the ceiling). The rate never goes below `floor`, which keeps the picture
/// usable. Times are milliseconds of any steady clock, given by the caller.
class BitrateAdapter final
{
public:
    struct Tuning
    {
        int floor = 150000;
        double down = 0.7;      ///< factor of a step down
        double up = 1.1;        ///< factor of a step up
        qint64 holdMs = 1500;   ///< one burst of reports counts once: no two steps down closer
        qint64 calmMs = 4000;   ///< without trouble, between two steps up
        double lossHigh = 0.10; ///< a reported loss above this is trouble
    };

    explicit BitrateAdapter(int ceiling, Tuning tuning);
    explicit BitrateAdapter(int ceiling = 500000)
        : BitrateAdapter(ceiling, Tuning())
    {}

    /// The quality level's rate. An unreduced rate follows it; a reduced one stays under it.
    void setCeiling(int ceiling);
    /// The relay reports the link too slow. True when the target changed.
    bool slowLink(qint64 nowMs);
    /// The fraction of the sent packets that the receiver reports lost (0…1).
    bool lossReport(qint64 nowMs, double fraction);
    /// Time passes: after a calm spell the rate climbs one step.
    bool tick(qint64 nowMs);
    int target() const { return m_target; }
    int ceiling() const { return m_ceiling; }

private:
    bool stepDown(qint64 nowMs);

    Tuning m_tuning;
    int m_ceiling;
    int m_target;
    qint64 m_lastTrouble = -1;
    qint64 m_lastDown = -1;
    qint64 m_lastChange = -1;
};
