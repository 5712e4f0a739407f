// Glass-to-glass delay of a call's video on one machine: A (an engine driver, the real engine
// in a process of its own) sends its generated picture stamped with the time it leaves the
// generator; B (this process: the client's bridge over the real engine, drawing into a video
// view) reads the stamp of every decoded picture. Reported: the delay to B's decoder and to
// the first repaint of B's view after it, median and 95th percentile, against the 150 ms
// one-way delay that ITU-T G.114 treats as good for conversation.
// Run by hand, outside a network namespace (ICE needs a non-loopback address):
//   build/bench/bench_media_latency [pictures]     (default 300; uses 127.0.0.152:8080/9090)

#include "bench/EngineDriverProcess.h"
#include "tests/support/InProcessCaller.h"
#include "tests/support/ServicesProcess.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

const QString host = QStringLiteral("127.0.0.152");
constexpr double goodOneWayMs = 150; // ITU-T G.114
constexpr int warmUpPictures = 30;   // the first second: ICE settling, the first key frame

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

/// Notes when the video view starts each repaint; sees the event before the engine's renderer.
class PaintClock final : public QObject
{
public:
    explicit PaintClock(QWidget *view)
        : m_view(view)
    {}
    std::vector<qint64> paints;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_view && event->type() == QEvent::Paint)
            paints.push_back(nowMs());
        return false;
    }

private:
    QWidget *m_view;
};

struct Stamp
{
    qint64 sent = 0, decoded = 0;
};

std::vector<Stamp> readStamps(const QString &path)
{
    std::vector<Stamp> stamps;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return stamps;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 2)
            stamps.push_back({words[0].toLongLong(), words[1].toLongLong()});
    }
    return stamps;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

void report(const char *what, const std::vector<double> &ms)
{
    const double median = percentile(ms, 0.5), p95 = percentile(ms, 0.95);
    std::printf("%-22s %4zu pictures  median %6.1f ms (%.2f × 150 ms)  95th %6.1f ms (%.2f × "
                "150 ms)\n",
                what, ms.size(), median, median / goodOneWayMs, p95, p95 / goodOneWayMs);
}

bool fail(const QString &why)
{
    std::fprintf(stderr, "bench_media_latency: %s\n", qPrintable(why));
    return false;
}

bool run(int pictures)
{
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty())
        return fail(QStringLiteral("Janus is not installed"));
    if (!EngineDriverProcess::hasIceAddress())
        return fail(QStringLiteral("no non-loopback address for ICE (network namespace?)"));
    QTemporaryDir folder;
    const QString stampsOfB = folder.filePath(QStringLiteral("b.stamps"));
    qputenv("ORVALE_FRAME_STAMPS", stampsOfB.toUtf8());

    ServicesProcess services(QStringLiteral(ORVALE_SERVICES), host);
    if (!services.start(true))
        return fail(QStringLiteral("orvale-services did not start: ") + services.output());

    // B: alice in her own room, drawing the call into a view of the size A sends.
    QWidget view;
    view.resize(640, 360);
    view.show();
    PaintClock paintClock(&view);
    qApp->installEventFilter(&paintClock);
    InProcessCaller b;
    if (!b.signIn(services.portal(), QStringLiteral("alice"), &view))
        return fail(QStringLiteral("alice could not sign in"));
    if (!b.join(services.portal(), 1002))
        return fail(QStringLiteral("alice could not join her room"));

    // A: demo joins alice's room and sends.
    EngineDriverProcess a(folder.filePath(QStringLiteral("a.stamps")));
    if (!a.start())
        return fail(QStringLiteral("the engine driver did not start"));
    a.tell(QStringLiteral("login demo demo1234 ") + services.portal());
    if (!a.waitFor("loginSuccess"))
        return fail(QStringLiteral("demo could not sign in"));
    a.tell(QStringLiteral("join 1002"));
    const int wanted = warmUpPictures + pictures;
    // At 15 pictures a second, with a generous margin for the first key frame.
    if (!QTest::qWaitFor([&] { return int(readStamps(stampsOfB).size()) >= wanted; },
                         wanted * 1000 / 15 * 2 + 20000))
        return fail(
            QStringLiteral("only %1 stamped pictures reached B").arg(readStamps(stampsOfB).size()));
    qApp->removeEventFilter(&paintClock);

    const std::vector<Stamp> stamps = readStamps(stampsOfB);
    std::vector<double> decoded, shown;
    size_t paint = 0;
    for (size_t i = warmUpPictures; i < size_t(wanted); ++i) {
        decoded.push_back(double(stamps[i].decoded - stamps[i].sent));
        // Shown by the first repaint after decoding, unless a newer picture replaced it first.
        while (paint < paintClock.paints.size() && paintClock.paints[paint] < stamps[i].decoded)
            ++paint;
        const bool replaced = i + 1 < stamps.size() && paint < paintClock.paints.size() &&
                              stamps[i + 1].decoded <= paintClock.paints[paint];
        if (paint < paintClock.paints.size() && !replaced)
            shown.push_back(double(paintClock.paints[paint] - stamps[i].sent));
    }
    std::printf("Video of a two-person call through Janus on this machine, 640×360 at 15 fps, "
                "VP8\n");
    report("A's source → B decoded", decoded);
    report("A's source → B shown", shown);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int pictures = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    return run(pictures) ? 0 : 1;
}
