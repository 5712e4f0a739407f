// What a call costs a client: processor time and resident memory of each participant's client
// process in a 2-person and a 4-person call with media through Janus (generated picture and
// tone, 640×360 at 15 fps, every received picture drawn into a 960×540 video view), against
// the same clients idle in a 2-person call of a deployment without media (--no-media), and
// against the floor: as many plain webrtcbin participants (bench_floor_participant) sending and
// decoding the same media through the same kind of Janus room, drawing and playing nothing.
// Each floor call runs beside its clients' call, and both are sampled over the same seconds. A
// client here is orvale-enginedriver --view: the client's bridge over the real engine, drawing into
// an offscreen video view, without the other windows. Run by hand, outside a network namespace (ICE
// needs a non-loopback address):
//   build/bench/bench_media_load [seconds]     (default 60 per call; uses 127.0.0.153:8080/9090)
// Over 20 s the ratio to the floor moved by up to ±0.06 between runs, so the default is longer.

#include "bench/EngineDriverProcess.h"
#include "bridge/shared/ConferenceMessages.h"
#include "services/JanusSupervisor.h"
#include "tests/support/ServicesProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QString host = QStringLiteral("127.0.0.153");
const QStringList users{QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol"),
                        QStringLiteral("dave")};
constexpr int settleMs = 5000; // media negotiated, first key frames, caches warm

/// Processor time so far of the threads of `pid` alive now, in seconds: the scheduler's
/// nanosecond count, since an idle client uses less than the clock ticks of /proc/PID/stat can
/// show.
double cpuSeconds(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    double total = 0;
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + u'/' + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

double residentMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

qsizetype picturesDecoded(const QString &stampFile)
{
    QFile file(stampFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
}

struct Result
{
    double cpuPercent = 0; ///< of one core, per participant
    double residentMiB = 0;
    double picturesPerSecond = 0; ///< decoded, per participant
    bool ok = false;
};

/// A call under way: its participants' processes, how to count what participant `i` decoded so
/// far, and what keeps it running (released in reverse order).
struct Call
{
    std::vector<qint64> pids;
    std::function<qint64(size_t)> pictures;
    std::function<bool()> running;
    std::vector<std::shared_ptr<void>> parts;
    bool ok = false;

    ~Call()
    {
        while (!parts.empty())
            parts.pop_back();
    }
};

/// Samples `calls` side by side over the same `seconds`, after they have settled: whatever else
/// the machine does in that time weighs on all of them alike.
std::vector<Result> sample(const std::vector<Call *> &calls, int seconds)
{
    std::vector<Result> results(calls.size());
    QTest::qWait(settleMs);
    std::vector<std::vector<double>> cpuBefore(calls.size());
    std::vector<std::vector<qint64>> picturesBefore(calls.size());
    for (size_t c = 0; c < calls.size(); ++c)
        for (size_t i = 0; i < calls[c]->pids.size(); ++i) {
            cpuBefore[c].push_back(cpuSeconds(calls[c]->pids[i]));
            picturesBefore[c].push_back(calls[c]->pictures(i));
        }
    QTest::qWait(seconds * 1000);
    for (size_t c = 0; c < calls.size(); ++c) {
        const Call &call = *calls[c];
        Result &result = results[c];
        if (!call.ok || !call.running())
            continue;
        for (size_t i = 0; i < call.pids.size(); ++i) {
            result.cpuPercent += (cpuSeconds(call.pids[i]) - cpuBefore[c][i]) * 100 / seconds;
            result.residentMiB += residentMiB(call.pids[i]);
            result.picturesPerSecond += double(call.pictures(i) - picturesBefore[c][i]) / seconds;
        }
        const auto people = double(call.pids.size());
        result.cpuPercent /= people;
        result.residentMiB /= people;
        result.picturesPerSecond /= people;
        result.ok = true;
    }
    return results;
}

/// The pictures a client's engine received so far, from its conference details ("camera of
/// <uri> <count> <size>" per stream). Asked of the engine, so that it stamps nothing itself.
qint64 picturesReceived(EngineDriverProcess &client)
{
    static const QRegularExpression counts(QStringLiteral("camera of \\S+ (\\d+)"));
    qint64 total = 0;
    const QString details = QString::fromUtf8(client.ask(QStringLiteral("details"), "details:"));
    for (auto it = counts.globalMatch(details); it.hasNext();)
        total += it.next().captured(1).toLongLong();
    return total;
}

/// Clients in a call through the deployment's own services.
void startClients(Call &call, bool media, int people)
{
    auto services = std::make_shared<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), host);
    call.parts.push_back(services);
    if (!services->start(media)) {
        std::fprintf(stderr, "orvale-services did not start: %s\n", qPrintable(services->output()));
        return;
    }
    auto clients = std::make_shared<std::vector<std::unique_ptr<EngineDriverProcess>>>();
    call.parts.push_back(clients);
    for (int i = 0; i < people; ++i) {
        auto client = std::make_unique<EngineDriverProcess>();
        if (!client->start({QStringLiteral("--view")}))
            return;
        client->tell(QStringLiteral("login ") + users[i] + u' ' + users[i] +
                     QStringLiteral("1234 ") + services->portal());
        if (!client->waitFor("loginSuccess"))
            return;
        if (i == 0) // alice opens her own room, the others join it
            client->tell(QStringLiteral("entity 1002"));
        client->tell(QStringLiteral("join 1002"));
        if (!client->waitFor("conference"))
            return;
        call.pids.push_back(client->processId());
        clients->push_back(std::move(client));
    }
    call.pictures = [clients](size_t i) { return picturesReceived(*clients->at(i)); };
    call.running = [clients] {
        return std::all_of(clients->begin(), clients->end(),
                           [](const auto &c) { return c->running(); });
    };
    call.ok = true;
}

/// The same call between floor participants, admitted to a room of a Janus of their own set up
/// as the deployment sets up its rooms.
void startFloor(Call &call, int people)
{
    namespace CF = ConferenceMessages::Field;
    auto folder = std::make_shared<QTemporaryDir>();
    auto janus = std::make_shared<JanusSupervisor>(QStringLiteral("janus"), folder->path());
    call.parts.push_back(folder);
    call.parts.push_back(janus);
    QString error;
    if (!janus->start(&error) || !QTest::qWaitFor([&janus] { return janus->ready(); }, 20000)) {
        std::fprintf(stderr, "Janus did not start: %s\n", qPrintable(error));
        return;
    }
    auto floor = std::make_shared<std::vector<std::unique_ptr<QProcess>>>();
    // Released before Janus: each participant is told to leave and given time to.
    call.parts.push_back(std::shared_ptr<void>(nullptr, [floor](void *) {
        for (const auto &participant : *floor) {
            participant->closeWriteChannel();
            if (!participant->waitForFinished(5000))
                participant->kill();
        }
    }));
    const auto stampFile = [folder](size_t i) { return folder->filePath(QString::number(i)); };
    for (int i = 0; i < people; ++i) {
        QJsonObject media;
        janus->admit(1002, users[i], people, [&media](const QJsonObject &m) { media = m; });
        if (!QTest::qWaitFor([&media] { return !media.isEmpty(); }, 10000) ||
            !media.value(CF::Available).toBool())
            return;
        auto participant = std::make_unique<QProcess>();
        participant->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        participant->start(
            QStringLiteral(ORVALE_FLOOR),
            {media.value(CF::Url).toString(), QString::number(media.value(CF::Room).toInteger()),
             media.value(CF::Token).toString(), QString::number(media.value(CF::Id).toInteger()),
             stampFile(size_t(i)), media.value(CF::RelayToken).toString()});
        if (!participant->waitForStarted())
            return;
        call.pids.push_back(participant->processId());
        floor->push_back(std::move(participant));
    }
    call.pictures = [stampFile](size_t i) { return qint64(picturesDecoded(stampFile(i))); };
    call.running = [floor] {
        return std::all_of(floor->begin(), floor->end(),
                           [](const auto &p) { return p->state() == QProcess::Running; });
    };
    call.ok = true;
}

/// A call of `people` clients and the same call of floor participants, measured side by side.
std::pair<Result, Result> measureAgainstFloor(int people, int seconds)
{
    Call clients, floor;
    startClients(clients, true, people);
    startFloor(floor, people);
    const std::vector<Result> results = sample({&clients, &floor}, seconds);
    return {results[0], results[1]};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 60;
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty() ||
        !EngineDriverProcess::hasIceAddress()) {
        std::fprintf(stderr, "bench_media_load: needs Janus and a non-loopback address\n");
        return 1;
    }
    Result idle;
    {
        Call call;
        startClients(call, false, 2);
        idle = sample({&call}, seconds).front();
    }
    const auto [two, twoFloor] = measureAgainstFloor(2, seconds);
    const auto [four, fourFloor] = measureAgainstFloor(4, seconds);
    if (!idle.ok || !two.ok || !four.ok || !twoFloor.ok || !fourFloor.ok) {
        std::fprintf(stderr, "bench_media_load: a call could not be set up\n");
        return 1;
    }
    std::printf("Per participant, over %d s of each call (processor time as %% of one core):\n",
                seconds);
    std::printf("%-34s %8s %9s %9s %10s %9s %18s\n", "call", "CPU %", "× idle", "× floor",
                "RSS MiB", "× idle", "pictures in / s");
    const auto row = [&idle](const char *name, const Result &r, const Result &floor) {
        std::printf("%-34s %8.2f %9.1f %9.2f %10.1f %9.2f %18.1f\n", name, r.cpuPercent,
                    r.cpuPercent / std::max(idle.cpuPercent, 0.001),
                    r.cpuPercent / std::max(floor.cpuPercent, 0.001), r.residentMiB,
                    r.residentMiB / idle.residentMiB, r.picturesPerSecond);
    };
    row("2 people, no media (idle)", idle, twoFloor);
    row("2 people, audio and video", two, twoFloor);
    row("2 plain webrtcbin (floor)", twoFloor, twoFloor);
    row("4 people, audio and video", four, fourFloor);
    row("4 plain webrtcbin (floor)", fourFloor, fourFloor);
    return 0;
}
