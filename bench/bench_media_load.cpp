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
//
// Larger calls have one client among light participants (LightGuest): guests of the review room
// who send a clip encoded once at the start (a moving 640×360 picture at 15 fps near the client's
// rate, and a tone) and receive nothing, so that the processor time is the client's own. The
// client's figures there stand against its own in a 2-person call of the same kind. Its download
// rate is what the guests sent over the same seconds (RTP payload, from their own connections'
// counters): each guest's only subscriber is the client, and the relay forwards all it gets.
// Beside it, the rate the client's statistics state (its links' received rates, asked every two
// seconds and averaged); those are read on the engine's busy thread, and when replies queue
// there a reading can count two seconds' bytes over a few milliseconds. The guests are cheap: in
// one 16-person call their fifteen streams took 12 % of one core in this process, the client 57 %.
// Which calls run:
//   build/bench/bench_media_load [seconds] [--people 2,4,9,16]
// (2 to 4 people: clients and floor as above, and the light call; more: the light call only.)

#include "bench/EngineDriverProcess.h"
#include "bench/LightGuest.h"
#include "bench/ProcessTime.h"
#include "bridge/shared/ConferenceMessages.h"
#include "services/JanusSupervisor.h"
#include "tests/support/EncodedClip.h"
#include "tests/support/ServicesProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <gst/gst.h>

namespace {

const QString host = QStringLiteral("127.0.0.153");
const QStringList users{QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol"),
                        QStringLiteral("dave")};
constexpr int settleMs = 5000;      // media negotiated, first key frames, caches warm
constexpr qint64 reviewRoom = 2001; // 20 seats, PIN 1234, in the demo data
constexpr int readingMs = 2000;     // how often the engine reads its links' statistics

double cpuSeconds(qint64 pid)
{
    return ProcessTime::seconds(pid);
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
    double downloadKbit = -1;     ///< per participant, sent toward it; negative when not known
    double statedKbit = -1;       ///< per participant, as its own statistics read; the same
    bool ok = false;
};

/// A call under way: its participants' processes, how to count what participant `i` decoded so
/// far, and what keeps it running (released in reverse order).
struct Call
{
    std::vector<qint64> pids;
    std::function<qint64(size_t)> pictures;
    std::function<bool()> running;
    /// The bytes sent toward participant `i` so far; empty when not known.
    std::function<qint64(size_t)> bytesToward;
    /// The rate at which participant `i` receives now as its own statistics read, in kbit/s;
    /// empty when not read.
    std::function<double(size_t)> statedRate;
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
    std::vector<std::vector<qint64>> picturesBefore(calls.size()), bytesBefore(calls.size());
    for (size_t c = 0; c < calls.size(); ++c)
        for (size_t i = 0; i < calls[c]->pids.size(); ++i) {
            cpuBefore[c].push_back(cpuSeconds(calls[c]->pids[i]));
            picturesBefore[c].push_back(calls[c]->pictures(i));
            bytesBefore[c].push_back(calls[c]->bytesToward ? calls[c]->bytesToward(i) : 0);
        }
    // Asking for the stated rate takes a moment: the figures are over the time it really took.
    std::vector<double> statedSum(calls.size());
    int readings = 0;
    QElapsedTimer timer;
    timer.start();
    for (qint64 left = seconds * 1000; left > 0; left = seconds * 1000 - timer.elapsed()) {
        QTest::qWait(int(std::min<qint64>(readingMs, left)));
        ++readings;
        for (size_t c = 0; c < calls.size(); ++c)
            for (size_t i = 0; calls[c]->statedRate && i < calls[c]->pids.size(); ++i)
                statedSum[c] += calls[c]->statedRate(i);
    }
    const double elapsed = double(timer.elapsed()) / 1000;
    for (size_t c = 0; c < calls.size(); ++c) {
        const Call &call = *calls[c];
        Result &result = results[c];
        if (!call.ok || !call.running())
            continue;
        double downloadKbit = 0;
        for (size_t i = 0; i < call.pids.size(); ++i) {
            result.cpuPercent += (cpuSeconds(call.pids[i]) - cpuBefore[c][i]) * 100 / elapsed;
            result.residentMiB += residentMiB(call.pids[i]);
            result.picturesPerSecond += double(call.pictures(i) - picturesBefore[c][i]) / elapsed;
            if (call.bytesToward)
                downloadKbit +=
                    double(call.bytesToward(i) - bytesBefore[c][i]) * 8 / 1000 / elapsed;
        }
        const auto people = double(call.pids.size());
        result.cpuPercent /= people;
        result.residentMiB /= people;
        result.picturesPerSecond /= people;
        if (call.bytesToward)
            result.downloadKbit = downloadKbit / people;
        if (call.statedRate)
            result.statedKbit = statedSum[c] / people / std::max(1, readings);
        result.ok = true;
    }
    return results;
}

/// The sum of the numbers `pattern` captures in a client's conference details. Asked of the
/// engine, so that it stamps nothing itself.
double sumOfDetails(EngineDriverProcess &client, const QRegularExpression &pattern)
{
    double total = 0;
    const QString details = QString::fromUtf8(client.ask(QStringLiteral("details"), "details:"));
    for (auto it = pattern.globalMatch(details); it.hasNext();)
        total += it.next().captured(1).toDouble();
    return total;
}

/// The pictures a client's engine received so far ("camera of <uri> <count> <size>" per stream).
qint64 picturesReceived(EngineDriverProcess &client)
{
    static const QRegularExpression counts(QStringLiteral("camera of \\S+ (\\d+)"));
    return qint64(sumOfDetails(client, counts));
}

/// The rate at which a client's engine receives, in kbit/s: the sum of its links' last readings
/// of received sound and pictures.
double receivedKbit(EngineDriverProcess &client)
{
    static const QRegularExpression rates(QStringLiteral("received (?:video|audio) (\\d+) kbit/s"));
    return sumOfDetails(client, rates);
}

/// The participants whose pictures a client's engine has received.
int feedsWithPictures(EngineDriverProcess &client)
{
    static const QRegularExpression counts(QStringLiteral("camera of \\S+ ([1-9]\\d*)"));
    const QString details = QString::fromUtf8(client.ask(QStringLiteral("details"), "details:"));
    int feeds = 0;
    for (auto it = counts.globalMatch(details); it.hasNext(); it.next())
        ++feeds;
    return feeds;
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

/// One client in the review room among `people` - 1 light guests sending `clip`, each started
/// once the one before it is up; the call runs when the client has pictures of them all, or
/// after 30 s with fewer (said on standard error).
void startLightCall(Call &call, int people, const EncodedClip &clip)
{
    auto services = std::make_shared<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), host);
    call.parts.push_back(services);
    if (!services->start(true)) {
        std::fprintf(stderr, "orvale-services did not start: %s\n", qPrintable(services->output()));
        return;
    }
    auto client = std::make_shared<EngineDriverProcess>();
    call.parts.push_back(client);
    if (!client->start({QStringLiteral("--view")}))
        return;
    client->tell(QStringLiteral("login alice alice1234 ") + services->portal());
    if (!client->waitFor("loginSuccess"))
        return;
    client->tell(QStringLiteral("join %1 1234").arg(reviewRoom));
    if (!client->waitFor("conference"))
        return;
    auto guests = std::make_shared<std::vector<std::unique_ptr<LightGuest>>>();
    call.parts.push_back(guests);
    const QString portal = QUrl(services->portal()).authority();
    const QString roomKey = services->roomKey(reviewRoom);
    for (int i = 1; i < people; ++i) {
        auto guest = std::make_unique<LightGuest>(clip);
        if (!guest->join(portal, roomKey, QStringLiteral("1234"),
                         QStringLiteral("guest %1").arg(i)))
            return;
        const LightGuest &g = *guest;
        guests->push_back(std::move(guest));
        if (!QTest::qWaitFor([&g] { return g.answered() || !g.error().isEmpty(); }, 20000) ||
            !g.error().isEmpty()) {
            std::fprintf(stderr, "light guest %d not published: %s\n", i, qPrintable(g.error()));
            return;
        }
    }
    if (!QTest::qWaitFor([&client, people] { return feedsWithPictures(*client) == people - 1; },
                         30000))
        std::fprintf(stderr, "bench_media_load: pictures of %d of %d light guests arrived\n",
                     feedsWithPictures(*client), people - 1);
    call.pids.push_back(client->processId());
    call.pictures = [client](size_t) { return picturesReceived(*client); };
    call.statedRate = [client](size_t) { return receivedKbit(*client); };
    // Each guest's only subscriber is the client, and the relay forwards all it gets.
    call.bytesToward = [guests](size_t) {
        qint64 bytes = 0;
        for (const auto &guest : *guests)
            bytes += guest->bytesSent();
        return bytes;
    };
    call.running = [client] { return client->running(); };
    call.ok = true;
}

Result measureLight(int people, int seconds, const EncodedClip &clip)
{
    Call call;
    startLightCall(call, people, clip);
    return sample({&call}, seconds).front();
}

double loadAverage()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? load.readAll().split(' ').value(0).toDouble() : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    QCommandLineParser options;
    options.addPositionalArgument(QStringLiteral("seconds"), QStringLiteral("per call (60)"));
    options.addOption({QStringLiteral("people"), QStringLiteral("the calls' sizes (2,4,9,16)"),
                       QStringLiteral("list"), QStringLiteral("2,4,9,16")});
    options.process(app);
    const QStringList positional = options.positionalArguments();
    const int seconds = positional.isEmpty() ? 60 : std::max(3, positional.first().toInt());
    std::vector<int> sizes;
    for (const QString &size : options.value(QStringLiteral("people")).split(u','))
        if (const int people = size.toInt(); people >= 2 && people <= 20)
            sizes.push_back(people);
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty() ||
        !EngineDriverProcess::hasIceAddress() || sizes.empty()) {
        std::fprintf(stderr, "bench_media_load: needs Janus, a non-loopback address and sizes "
                             "from 2 to 20\n");
        return 1;
    }
    const double loadBefore = loadAverage();
    std::vector<std::pair<int, std::pair<Result, Result>>> withFloor;
    Result idle;
    const bool small = std::any_of(sizes.begin(), sizes.end(),
                                   [](int people) { return people <= int(users.size()); });
    if (small) {
        Call call;
        startClients(call, false, 2);
        idle = sample({&call}, seconds).front();
    }
    for (int people : sizes)
        if (people <= int(users.size()))
            withFloor.emplace_back(people, measureAgainstFloor(people, seconds));
    EncodedClip clip;
    if (!clip.encode({}, 4)) {
        std::fprintf(stderr, "bench_media_load: the clip could not be encoded\n");
        return 1;
    }
    std::vector<std::pair<int, Result>> light;
    for (int people : sizes)
        light.emplace_back(people, measureLight(people, seconds, clip));
    const bool failed =
        (small && !idle.ok) ||
        std::any_of(withFloor.begin(), withFloor.end(),
                    [](const auto &c) { return !c.second.first.ok || !c.second.second.ok; }) ||
        std::any_of(light.begin(), light.end(), [](const auto &c) { return !c.second.ok; });
    if (failed) {
        std::fprintf(stderr, "bench_media_load: a call could not be set up\n");
        return 1;
    }
    if (small) {
        std::printf("Per participant, over %d s of each call (processor time as %% of one core):\n",
                    seconds);
        std::printf("%-34s %8s %9s %9s %10s %9s %18s\n", "call", "CPU %", "× idle", "× floor",
                    "RSS MiB", "× idle", "pictures in / s");
        const auto row = [&idle](const QByteArray &name, const Result &r, const Result &floor) {
            std::printf("%-34s %8.2f %9.1f %9.2f %10.1f %9.2f %18.1f\n", name.constData(),
                        r.cpuPercent, r.cpuPercent / std::max(idle.cpuPercent, 0.001),
                        r.cpuPercent / std::max(floor.cpuPercent, 0.001), r.residentMiB,
                        r.residentMiB / idle.residentMiB, r.picturesPerSecond);
        };
        row("2 people, no media (idle)", idle,
            withFloor.front().first == 2 ? withFloor.front().second.second : Result{});
        for (const auto &[people, results] : withFloor) {
            row(QByteArray::number(people) + " people, audio and video", results.first,
                results.second);
            row(QByteArray::number(people) + " plain webrtcbin (floor)", results.second,
                results.second);
        }
    }
    std::printf("One client among light guests sending a clip (%dx%d at %d fps, %.0f kbit/s, and "
                "a tone), over %d s of each call:\n",
                EncodedClip::Picture{}.width, EncodedClip::Picture{}.height,
                EncodedClip::Picture{}.fps, clip.videoBitsPerSecond() / 1000, seconds);
    std::printf("%-34s %8s %9s %10s %9s %18s %12s %16s %16s\n", "call", "CPU %", "× 2", "RSS MiB",
                "× 2", "pictures in / s", "of sent", "download kbit/s", "by its stats");
    const auto twoLight =
        std::find_if(light.begin(), light.end(), [](const auto &call) { return call.first == 2; });
    const Result *two = twoLight != light.end() ? &twoLight->second : nullptr;
    for (const auto &[people, r] : light) {
        const QByteArray name = QByteArray::number(people) + " people, 1 client + " +
                                QByteArray::number(people - 1) + " light";
        const double sent = double((people - 1) * EncodedClip::Picture{}.fps);
        // Without the 2-person call to stand against, the ratios are left blank.
        const auto ratio = [two](double value, double base) {
            return two ? QByteArray::number(value / std::max(base, 0.001), 'f', 2) : "-";
        };
        std::printf("%-34s %8.2f %9s %10.1f %9s %18.1f %11.0f%% %16.0f %16.0f\n", name.constData(),
                    r.cpuPercent, ratio(r.cpuPercent, two ? two->cpuPercent : 0).constData(),
                    r.residentMiB, ratio(r.residentMiB, two ? two->residentMiB : 0).constData(),
                    r.picturesPerSecond, r.picturesPerSecond * 100 / sent, r.downloadKbit,
                    r.statedKbit);
    }
    std::printf("Load average (1 min) of the machine: %.2f at the start, %.2f at the end\n",
                loadBefore, loadAverage());
    return 0;
}
