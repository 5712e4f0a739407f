// 10,000 "participants changed" out-events fired from a thread of their own, as the engine
// does, each handled on the main thread; against bare queued calls from a thread in the
// same run. Run by hand: build/bench/bench_outevents [events]

#include "bridge/ConfClientDelegate.h"
#include "bridge/TRQClientOnOutEvent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <vector>

namespace {

using Clock = QElapsedTimer;

struct Run
{
    qint64 totalNs = 0;
    qint64 worstDelayNs = 0;
    int handled = 0;
};

/// Counts the calls of the one operation out-event 1202 makes.
class CountingDelegate final : public ConfClientDelegate
{
public:
    QObject *context() override { return &m_context; }
    CountingDelegate(const Clock &clock, std::vector<qint64> &handledAt)
        : m_clock(clock)
        , m_handledAt(handledAt)
    {}
    void errorWithText(const QString &) override {}
    void loginSuccess() override {}
    void endConference() override {}
    void showAlertWithMessage(const QString &) override {}
    bool isMainWindowVisible() const override { return true; }
    void acceptIncomeCallWithName(const QString &) override {}
    void incomeCallTimeOut() override {}
    void addControllView() override {}
    void closeConferenceWindow() override {}
    void getContactsInConference() override { m_handledAt.push_back(m_clock.nsecsElapsed()); }
    QSize conferenceVideoSize() const override { return {}; }
    void arrangeWindowsForConference() override {}
    void closeAllWindowsForSignOut() override {}

private:
    const Clock &m_clock;
    std::vector<qint64> &m_handledAt;
    QObject m_context;
};

/// Fires `events` times from a new thread; `handled` fills on the main thread.
template <class Fire>
Run measure(const Clock &clock, int events, Fire fire, const std::vector<qint64> &handled)
{
    std::vector<qint64> firedAt(static_cast<size_t>(events));
    const qint64 start = clock.nsecsElapsed();
    QThread *thread = QThread::create([&] {
        for (int i = 0; i < events; ++i) {
            firedAt[size_t(i)] = clock.nsecsElapsed();
            fire();
        }
    });
    thread->start();
    while (handled.size() < size_t(events) && clock.nsecsElapsed() - start < 60'000'000'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    thread->wait();
    delete thread;
    Run run;
    run.handled = int(handled.size());
    run.totalNs = handled.empty() ? 0 : handled.back() - start;
    for (size_t i = 0; i < handled.size(); ++i)
        run.worstDelayNs = std::max(run.worstDelayNs, handled[i] - firedAt[i]);
    return run;
}

void report(const char *name, int events, const Run &run)
{
    std::printf("%-28s handled %5d of %d, %9.0f events/s, worst queueing delay %7.2f ms\n", name,
                run.handled, events, run.handled / (double(run.totalNs) / 1e9),
                double(run.worstDelayNs) / 1e6);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int events = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;

    Clock clock;
    clock.start();
    std::vector<qint64> bare;
    const Run baseline = measure(
        clock, events,
        [&] {
            QMetaObject::invokeMethod(
                &app, [&] { bare.push_back(clock.nsecsElapsed()); }, Qt::QueuedConnection);
        },
        bare);

    std::vector<qint64> handled;
    CountingDelegate delegate(clock, handled);
    const Run dispatched = measure(
        clock, events, [&] { TRQClientOnOutEvent(1202, nullptr, 0, &delegate); }, handled);

    report("bare queued calls", events, baseline);
    report("out-event 1202 dispatched", events, dispatched);
    std::printf("throughput ratio (dispatched / bare): %.2f\n",
                (dispatched.handled / double(dispatched.totalNs)) /
                    (baseline.handled / double(baseline.totalNs)));
    return dispatched.handled == events ? 0 : 1;
}
