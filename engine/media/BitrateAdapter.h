#pragma once

#include <QtGlobal>

/// Decides what the video encoder sends from what is known about the link: each sign of
/// trouble (a receiver's loss report above `lossHigh`, or above `repairableLoss` where lost packets
/// are sent again; a relay's slow-link report unless repair keeps up) steps the rate down at once;
/// a link quiet for `calmMs` lets it climb back step by step (one each `stepUpMs`) to the quality
/// level's rate (the ceiling). Times are milliseconds of any steady clock, given by the caller.
///
/// Given the picture's format, the rate never goes below a floor that suits it (`floorBits`
/// per pixel of each picture): where the next step would go under it, the picture degrades
/// instead, first its frame rate (30, 15, 10, 5 down to `minFps`), then its size one step
/// (1080, 720, 540, 360, 270, 180 lines; never for a share, whose text must stay readable).
/// The climb back is the same way in reverse: the rate rises, and where it reaches the floor
/// of the format left last, that format comes back. Without a format only `floor` holds.
class BitrateAdapter final
{
public:
    struct Tuning
    {
        int floor = 150000;   ///< never lower, whatever the picture
        double down = 0.7;    ///< factor of a step down
        double up = 1.1;      ///< factor of a step up
        qint64 holdMs = 1500; ///< one burst of reports counts once: no two steps down closer
        qint64 calmMs = 4000; ///< without trouble, before the first step up
        /// Between two steps up: one at each reading of the link (every two seconds), about 5 %
        /// a second, under the 8 % that congestion control allows itself. Slower, a picture
        /// degraded to its smallest size by a loss spell took a minute and a half to come back.
        qint64 stepUpMs = 1500;
        double lossHigh = 0.10; ///< a reported loss above this is trouble
        /// Where lost packets are sent again, up to this share of them lost (a receiver's
        /// report; a relay's slow-link report, with this share asked for again) is random loss
        /// that repair makes good, not a link too slow for the rate. Congestion loss grows past
        /// it at once, the packets sent again adding to the load.
        double repairableLoss = 0.20;
        double floorBits = 0;   ///< bits per pixel per picture that the format needs at least
        int floorFps = 0;       ///< the floor counts at least this many pictures a second
        int minFps = 10;        ///< the frame rate goes no lower
        bool keepsSize = false; ///< the picture never gets smaller
    };

    struct Format
    {
        int width = 0, height = 0, fps = 0;
        friend bool operator==(const Format &, const Format &) = default;
    };

    /// Tuning of a camera's picture: at least 0.05 bit per pixel per picture, half of the 0.1
    /// usually taken for a good real-time VP8 picture and about the least that the quality
    /// levels send (0.04 at 1080p30, 0.14 at 360p15): 1080p30 needs 3.1 Mbit/s, so the best
    /// level gives up frames at its first trouble; 360p15 needs 170 kbit/s, near the single
    /// floor that 150 kbit/s was.
    static Tuning camera();
    /// Tuning of a share: 12-pixel text stays readable down to 0.6 bit per pixel each second
    /// (1.2 Mbit/s at full HD), counted at 15 pictures a second so that fewer pictures leave
    /// each one more. Below, the encoder's quantizer reaches the cap that keeps letters whole
    /// and a fresh page loses strokes. Its size never changes.
    static Tuning share();

    explicit BitrateAdapter(int ceiling, Tuning tuning);
    explicit BitrateAdapter(int ceiling = 500000)
        : BitrateAdapter(ceiling, Tuning())
    {}
    /// Starts at `top`, the quality level's format, at its rate `ceiling`.
    BitrateAdapter(const Format &top, int ceiling, Tuning tuning);

    /// The quality level's rate. An unreduced rate follows it; a reduced one stays under it.
    void setCeiling(int ceiling);
    /// The relay reports the link too slow (it lost packets). True when the target changed.
    bool slowLink(qint64 nowMs);
    /// The share of the sent video packets (0…1) that the receiver asked for again in the last
    /// reading: the loss before repair. -1: unknown, as when nothing is sent again.
    void repairReport(double fraction);
    /// The fraction of the sent packets that the receiver reports lost (0…1).
    bool lossReport(qint64 nowMs, double fraction);
    /// Time passes: after a calm spell the rate climbs one step.
    bool tick(qint64 nowMs);
    int target() const { return m_target; }
    int ceiling() const { return m_ceiling; }
    /// The picture's format now; the top one until trouble makes it degrade.
    Format format() const { return m_format; }
    /// The lowest rate for pictures of `format`.
    int floorOf(const Format &format) const;

private:
    bool stepDown(qint64 nowMs);
    /// The next format down or up from the current one; the current one when there is none.
    Format lower() const;
    Format higher() const;

    Tuning m_tuning;
    int m_ceiling;
    int m_target;
    Format m_top;
    Format m_format;
    qint64 m_lastTrouble = -1;
    qint64 m_lastDown = -1;
    qint64 m_lastChange = -1;
    double m_askedAgain = -1; ///< the last repairReport()
};
