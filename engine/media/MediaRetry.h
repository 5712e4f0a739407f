#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

/// Starts a failed stream again after a wait that doubles with each failure in a row (0.5 s,
/// 1 s, 2 s, 4 s, then 8 s), and gives up after a few. A stream that has carried media for a
/// while counts as mended: its next failure waits the shortest time again.
class MediaRetry final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MediaRetry)

public:
    explicit MediaRetry(QObject *parent = nullptr);

    /// Calls `again` after the wait; false, and nothing is called, once the tries are used up.
    bool schedule(std::function<void()> again);
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
