#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

/// Starts a failed stream again after a wait that doubles with each failure in a row (0.5 s,
/// 1 s, 2 s … up to about 30 s), for as long as the call lasts. A stream that has carried media for
/// a while counts as mended: its next failure waits the shortest time again. When the machine's
/// network comes back, the waiting try starts at once.
class MediaRetry final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MediaRetry)

public:
    /// The longest wait between two tries.
    static constexpr int longestWaitMs = 30000;

    explicit MediaRetry(QObject *parent = nullptr);

    /// Calls `again` after the wait.
    void schedule(std::function<void()> again);
    /// The wait of the scheduled try, or 0 when none is scheduled.
    int waitMs() const { return m_wait.isActive() ? m_wait.interval() : 0; }
    /// The network came back: a scheduled try starts now, and the waits start short again.
    void retryNow();
    /// The stream carries media again.
    void succeeded();
    /// Forgets a scheduled try and the failures so far.
    void cancel();

private:
    QTimer m_wait;
    QTimer m_steady; ///< how long a stream must run before its failures are forgotten
    int m_failures = 0;
    std::function<void()> m_again;
};
