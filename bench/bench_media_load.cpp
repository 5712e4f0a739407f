// What a call costs a client: processor time and resident memory of each participant's client
// process in a 2-person and a 4-person call with media through Janus (generated picture and
// tone, 640×360 at 15 fps, every received picture drawn into a 960×540 video view), against
// the same clients idle in a 2-person call of a deployment without media (--no-media),
// measured in the same run. A client here is orvale-enginedriver --view: the client's bridge
// over the real engine, drawing into an offscreen video view, without the other windows.
// Run by hand, outside a network namespace (ICE needs a non-loopback address):
//   build/bench/bench_media_load [seconds]     (default 20 per call; uses 127.0.0.153:8080/9090)

#include "EngineDriverProcess.h"
#include "ServicesProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
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

Result measure(bool media, int people, int seconds)
{
    Result result;
    QTemporaryDir folder;
    ServicesProcess services(QStringLiteral(ORVALE_SERVICES), host);
    if (!services.start(media)) {
        std::fprintf(stderr, "orvale-services did not start: %s\n", qPrintable(services.output()));
        return result;
    }
    std::vector<std::unique_ptr<EngineDriverProcess>> clients;
    const auto stampFile = [&folder](size_t i) { return folder.filePath(QString::number(i)); };
    for (int i = 0; i < people; ++i) {
        auto client = std::make_unique<EngineDriverProcess>(stampFile(i));
        if (!client->start({QStringLiteral("--view")}))
            return result;
        client->tell(QStringLiteral("login ") + users[i] + u' ' + users[i] +
                     QStringLiteral("1234 ") + services.portal());
        if (!client->waitFor("loginSuccess"))
            return result;
        if (i == 0) // alice opens her own room, the others join it
            client->tell(QStringLiteral("entity 1002"));
        client->tell(QStringLiteral("join 1002"));
        if (!client->waitFor("conference"))
            return result;
        clients.push_back(std::move(client));
    }
    QTest::qWait(settleMs);
    std::vector<double> cpuBefore;
    std::vector<qsizetype> picturesBefore;
    for (size_t i = 0; i < clients.size(); ++i) {
        cpuBefore.push_back(cpuSeconds(clients[i]->processId()));
        picturesBefore.push_back(picturesDecoded(stampFile(i)));
    }
    QTest::qWait(seconds * 1000);
    for (size_t i = 0; i < clients.size(); ++i) {
        if (!clients[i]->running())
            return result;
        const qint64 pid = clients[i]->processId();
        result.cpuPercent += (cpuSeconds(pid) - cpuBefore[i]) * 100 / seconds;
        result.residentMiB += residentMiB(pid);
        result.picturesPerSecond +=
            double(picturesDecoded(stampFile(i)) - picturesBefore[i]) / seconds;
    }
    result.cpuPercent /= people;
    result.residentMiB /= people;
    result.picturesPerSecond /= people;
    result.ok = true;
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
    const Result four = measure(true, 4, seconds);
    if (!idle.ok || !two.ok || !four.ok) {
        std::fprintf(stderr, "bench_media_load: a call could not be set up\n");
        return 1;
    }
    std::printf("Per client, over %d s of each call (processor time as %% of one core):\n",
                seconds);
    std::printf("%-30s %8s %9s %10s %9s %18s\n", "call", "CPU %", "× idle", "RSS MiB", "× idle",
                "pictures in / s");
    const auto row = [&idle](const char *name, const Result &r) {
        std::printf("%-30s %8.2f %9.1f %10.1f %9.2f %18.1f\n", name, r.cpuPercent,
                    r.cpuPercent / std::max(idle.cpuPercent, 0.001), r.residentMiB,
                    r.residentMiB / idle.residentMiB, r.picturesPerSecond);
    };
    row("2 people, no media (idle)", idle);
    row("2 people, audio and video", two);
    row("4 people, audio and video", four);
    return 0;
}
