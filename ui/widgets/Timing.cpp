#include "ui/widgets/Timing.h"

#include <cmath>

namespace {

int milliseconds(double seconds)
{
    return int(std::lround(std::max(0.0, seconds) * 1000.0));
}

} // namespace

void Timing::performBlockAfterDelay(double seconds, const QObject *context,
                                    std::function<void()> block)
{
    if (!block || !context)
        return;
    QTimer::singleShot(milliseconds(seconds), context, std::move(block));
}

QTimer *Timing::addTimerInRunLoopWithTimeInterval(double seconds, bool repeats, QObject *context,
                                                  std::function<void()> block)
{
    auto *timer = new QTimer(context);
    timer->setInterval(milliseconds(seconds));
    timer->setSingleShot(!repeats);
    QObject::connect(timer, &QTimer::timeout, context, [block = std::move(block)] {
        if (block)
            block();
    });
    timer->start();
    return timer;
}
