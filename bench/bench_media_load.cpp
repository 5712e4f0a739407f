// What a call costs a client: processor time and resident memory of each participant's client
// process in a 2-person and a 4-person call with media through Janus (generated picture and
// tone, 640×360 at 15 fps, every received picture drawn into a 960×540 video view), against
// the same clients idle in a 2-person call of a deployment without media (--no-media),
// measured in the same run. A client here is orvale-enginedriver --view: the client's bridge
// over the real engine, drawing into an offscreen video view, without the other windows.
// Run by hand, outside a network namespace (ICE needs a non-loopback address):
//   build/bench/bench_media_load [seconds]     (default 20 per call; uses 127.0.0.153:8080/9090)

#include "ServicesProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
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

/// One client, answering one line per command on standard output.
class Client
{
public:
    Client(const QString &stampFile)
        : m_stampFile(stampFile)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Each decoded picture is noted, which shows that media really flow.
        environment.insert(QStringLiteral("ORVALE_FRAME_STAMPS"), stampFile);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {QStringLiteral("--view")});
    }
    ~Client()
    {
        tell(QStringLiteral("logout"));
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    void tell(const QString &line) { m_process.write((line + u'\n').toUtf8()); }
    bool waitFor(const QByteArray &prefix)
    {
        return QTest::qWaitFor(
            [&] {
                m_output += m_process.readAllStandardOutput();
                return m_output.startsWith(prefix) || m_output.contains(QByteArray('\n' + prefix));
            },
            20000);
    }
    /// Processor time so far of the threads alive now, in seconds: the scheduler's nanosecond
    /// count, since an idle client uses less than the clock ticks of /proc/PID/stat can show.
    double cpuSeconds() const
    {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(m_process.processId());
        double total = 0;
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(tasks + u'/' + task + QStringLiteral("/schedstat"));
            if (stat.open(QIODevice::ReadOnly))
                total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
        }
        return total;
    }
    double residentMiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        return 0;
    }
    qsizetype picturesDecoded() const
    {
        QFile file(m_stampFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    }
    bool running() const { return m_process.state() == QProcess::Running; }

private:
    QString m_stampFile;
    QProcess m_process;
    QByteArray m_output;
};

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
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < people; ++i) {
        auto client = std::make_unique<Client>(folder.filePath(QStringLiteral("%1").arg(i)));
        if (!client->waitFor("ready"))
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
    for (const auto &client : clients) {
        cpuBefore.push_back(client->cpuSeconds());
        picturesBefore.push_back(client->picturesDecoded());
    }
    QTest::qWait(seconds * 1000);
    for (size_t i = 0; i < clients.size(); ++i) {
        if (!clients[i]->running())
            return result;
        result.cpuPercent += (clients[i]->cpuSeconds() - cpuBefore[i]) * 100 / seconds;
        result.residentMiB += clients[i]->residentMiB();
        result.picturesPerSecond +=
            double(clients[i]->picturesDecoded() - picturesBefore[i]) / seconds;
    }
    result.cpuPercent /= people;
    result.residentMiB /= people;
    result.picturesPerSecond /= people;
    result.ok = true;
    return result;
}

bool nonLoopbackAddress()
{
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol)
            return true;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty() ||
        !nonLoopbackAddress()) {
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
