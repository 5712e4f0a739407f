#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

/// Delayed and repeated actions on the calling thread's event loop. Every action is tied to a
/// context object and does nothing once that object is gone.
class Timing final
{
public:
    /// Runs `block` once after `seconds`; an empty block schedules nothing.
    static void performBlockAfterDelay(double seconds, const QObject *context,
                                       std::function<void()> block);
    /// A started timer, owned by `context`, running `block` at each firing.
    static QTimer *addTimerInRunLoopWithTimeInterval(double seconds, bool repeats, QObject *context,
                                                     std::function<void()> block);
};
