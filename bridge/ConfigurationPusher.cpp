#include "bridge/ConfigurationPusher.h"

#include "bridge/TRQClientInEvent.h"

#include <QThreadPool>

#include <atomic>

namespace {

std::atomic<bool> waiting{false};

/// One thread: the pushes keep their order.
QThreadPool &queue()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}

} // namespace

void ConfigurationPusher::push()
{
    if (waiting.exchange(true))
        return; // the waiting push reads this choice too
    queue().start([] {
        waiting = false; // choices stored from now on need a push of their own
        TRQClientInEvent::ClientSyncRequestSetConfiguration();
    });
}

bool ConfigurationPusher::waitForDone(int msecs)
{
    return queue().waitForDone(msecs);
}
