// What a call costs a client: processor time and resident memory of each participant's client
// process in a 2-person and a 4-person call with media through Janus (generated picture and
// tone, 640×360 at 15 fps, every received picture drawn into a 960×540 video view), against
// the same clients idle in a 2-person call of a deployment without media (--no-media), and
// against the floor: as many plain webrtcbin participants (bench_floor_participant) sending and
// decoding the same media through the same kind of Janus room, drawing and playing nothing,
// all measured in the same run. A client here is orvale-enginedriver --view: the client's bridge
// over the real engine, drawing into an offscreen video view, without the other windows.
// Run by hand, outside a network namespace (ICE needs a non-loopback address):
//   build/bench/bench_media_load [seconds]     (default 20 per call; uses 127.0.0.153:8080/9090)

#include "ConferenceMessages.h"
#include "EngineDriverProcess.h"
#include "JanusSupervisor.h"
#include "ServicesProcess.h"

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
    double cpuPercent = 0; ///< of one core, per client
    double residentMiB = 0;
    double picturesPerSecond = 0; ///< decoded, per client
    bool ok = false;
};

/// Samples the processes `pids` over `seconds`, after they have settled; `pictures(i)` counts
/// what participant `i` decoded so far.
Result sample(const std::vector<qint64> &pids, const std::function<qint64(size_t)> &pictures,
              int seconds, const std::function<bool()> &running)
{
    Result result;
    QTest::qWait(settleMs);
    std::vector<double> cpuBefore;
    std::vector<qint64> picturesBefore;
    for (size_t i = 0; i < pids.size(); ++i) {
        cpuBefore.push_back(cpuSeconds(pids[i]));
        picturesBefore.push_back(pictures(i));
    }
    QTest::qWait(seconds * 1000);
    if (!running())
        return result;
    for (size_t i = 0; i < pids.size(); ++i) {
        result.cpuPercent += (cpuSeconds(pids[i]) - cpuBefore[i]) * 100 / seconds;
        result.residentMiB += residentMiB(pids[i]);
        result.picturesPerSecond += double(pictures(i) - picturesBefore[i]) / seconds;
    }
    const auto people = double(pids.size());
    result.cpuPercent /= people;
    result.residentMiB /= people;
    result.picturesPerSecond /= people;
    result.ok = true;
    return result;
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

Result measure(bool media, int people, int seconds)
{
    ServicesProcess services(QStringLiteral(ORVALE_SERVICES), host);
    if (!services.start(media)) {
        std::fprintf(stderr, "orvale-services did not start: %s\n", qPrintable(services.output()));
        return {};
    }
    std::vector<std::unique_ptr<EngineDriverProcess>> clients;
    std::vector<qint64> pids;
    for (int i = 0; i < people; ++i) {
        auto client = std::make_unique<EngineDriverProcess>();
        if (!client->start({QStringLiteral("--view")}))
            return {};
        client->tell(QStringLiteral("login ") + users[i] + u' ' + users[i] +
                     QStringLiteral("1234 ") + services.portal());
        if (!client->waitFor("loginSuccess"))
            return {};
        if (i == 0) // alice opens her own room, the others join it
            client->tell(QStringLiteral("entity 1002"));
        client->tell(QStringLiteral("join 1002"));
        if (!client->waitFor("conference"))
            return {};
        pids.push_back(client->processId());
        clients.push_back(std::move(client));
    }
    return sample(
        pids, [&clients](size_t i) { return picturesReceived(*clients[i]); }, seconds,
        [&clients] {
            return std::all_of(clients.begin(), clients.end(),
                               [](const auto &c) { return c->running(); });
        });
}

/// The same call between floor participants, admitted to a room of the deployment's Janus
/// set up as the deployment sets up its rooms.
Result measureFloor(int people, int seconds)
{
    namespace CF = ConferenceMessages::Field;
    QTemporaryDir folder;
    JanusSupervisor janus(QStringLiteral("janus"), folder.path());
    QString error;
    if (!janus.start(&error) || !QTest::qWaitFor([&janus] { return janus.ready(); }, 20000)) {
        std::fprintf(stderr, "Janus did not start: %s\n", qPrintable(error));
        return {};
    }
    std::vector<std::unique_ptr<QProcess>> floor;
    std::vector<qint64> pids;
    const auto stampFile = [&folder](size_t i) { return folder.filePath(QString::number(i)); };
    for (int i = 0; i < people; ++i) {
        QJsonObject media;
        janus.admit(1002, users[i], [&media](const QJsonObject &m) { media = m; });
        if (!QTest::qWaitFor([&media] { return !media.isEmpty(); }, 10000) ||
            !media.value(CF::Available).toBool())
            return {};
        auto participant = std::make_unique<QProcess>();
        participant->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        participant->start(
            QStringLiteral(ORVALE_FLOOR),
            {media.value(CF::Url).toString(), QString::number(media.value(CF::Room).toInteger()),
             media.value(CF::Token).toString(), QString::number(media.value(CF::Id).toInteger()),
             stampFile(size_t(i))});
        if (!participant->waitForStarted())
            return {};
        pids.push_back(participant->processId());
        floor.push_back(std::move(participant));
    }
    const auto pictures = [&stampFile](size_t i) { return qint64(picturesDecoded(stampFile(i))); };
    const Result result = sample(pids, pictures, seconds, [&floor] {
        return std::all_of(floor.begin(), floor.end(),
                           [](const auto &p) { return p->state() == QProcess::Running; });
    });
    for (const auto &participant : floor) {
        participant->closeWriteChannel();
        if (!participant->waitForFinished(5000))
            participant->kill();
    }
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty() ||
        !EngineDriverProcess::hasIceAddress()) {
        std::fprintf(stderr, "bench_media_load: needs Janus and a non-loopback address\n");
        return 1;
    }
    const Result idle = measure(false, 2, seconds);
    const Result two = measure(true, 2, seconds);
    const Result twoFloor = measureFloor(2, seconds);
    const Result four = measure(true, 4, seconds);
    const Result fourFloor = measureFloor(4, seconds);
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
