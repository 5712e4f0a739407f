// How soon a call shows and sounds: the time from B's join request to the first decoded
// picture and the first sound of A (already in the call) reaching B's speaker, over several
// joins, median and spread, against a goal of 1 s on loopback. A and B are engine drivers
// (the client's bridge over the real engine, each in a process of its own) drawing into an
// offscreen video view; the moments come from B's engine (its frame stamp file), on the steady
// clock that all processes of a machine share.
// Run by hand, outside a network namespace (ICE needs a non-loopback address):
//   build/bench/bench_join [joins]     (default 7; uses 127.0.0.154:8080/9090)

#include "bench/EngineDriverProcess.h"
#include "tests/support/ServicesProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

const QString host = QStringLiteral("127.0.0.154");
constexpr double goalMs = 1000;
constexpr int settleMs = 1500; // between a leave and the next join

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

/// The first decoded picture's and the first sound's moments in a stamp file, -1 while none.
struct FirstMoments
{
    qint64 picture = -1, sound = -1;
};

FirstMoments firstMoments(const QString &stampFile)
{
    FirstMoments first;
    QFile file(stampFile);
    if (!file.open(QIODevice::ReadOnly))
        return first;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2)
            continue;
        if (words[0] == "sound" && first.sound < 0)
            first.sound = words[1].toLongLong();
        else if (words[0] != "sound" && first.picture < 0)
            first.picture = words[1].toLongLong();
    }
    return first;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char *what, const std::vector<double> &ms)
{
    std::printf("%-14s median %6.0f ms (%.2f × goal)  min %6.0f  max %6.0f  over %zu joins\n", what,
                median(ms), median(ms) / goalMs, *std::min_element(ms.begin(), ms.end()),
                *std::max_element(ms.begin(), ms.end()), ms.size());
}

/// B joins A's call once; the two delays, or nothing when media never came.
bool joinOnce(const ServicesProcess &services, const QString &stampFile, double *picture,
              double *sound)
{
    EngineDriverProcess b(stampFile);
    if (!b.start({QStringLiteral("--view")}))
        return false;
    b.tell(QStringLiteral("login bob bob1234 ") + services.portal());
    if (!b.waitFor("loginSuccess"))
        return false;
    const qint64 asked = nowMs();
    b.tell(QStringLiteral("join 1002"));
    FirstMoments first;
    if (!QTest::qWaitFor(
            [&] {
                first = firstMoments(stampFile);
                return first.picture >= 0 && first.sound >= 0;
            },
            20000))
        return false;
    *picture = double(first.picture - asked);
    *sound = double(first.sound - asked);
    b.tell(QStringLiteral("leave"));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int joins = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty() ||
        !EngineDriverProcess::hasIceAddress()) {
        std::fprintf(stderr, "bench_join: needs Janus and a non-loopback address\n");
        return 1;
    }
    ServicesProcess services(QStringLiteral(ORVALE_SERVICES), host);
    QTemporaryDir folder;
    if (!services.start(true)) {
        std::fprintf(stderr, "orvale-services did not start: %s\n", qPrintable(services.output()));
        return 1;
    }
    EngineDriverProcess a(folder.filePath(QStringLiteral("a")));
    if (!a.start({QStringLiteral("--view")}))
        return 1;
    a.tell(QStringLiteral("login alice alice1234 ") + services.portal());
    if (!a.waitFor("loginSuccess"))
        return 1;
    a.tell(QStringLiteral("entity 1002"));
    a.tell(QStringLiteral("join 1002"));
    if (!a.waitFor("conference"))
        return 1;
    std::vector<double> pictures, sounds;
    for (int i = 0; i < joins; ++i) {
        double picture = 0, sound = 0;
        if (!joinOnce(services, folder.filePath(QString::number(i)), &picture, &sound)) {
            std::fprintf(stderr, "bench_join: join %d brought no media\n", i + 1);
            return 1;
        }
        pictures.push_back(picture);
        sounds.push_back(sound);
        QTest::qWait(settleMs);
    }
    std::printf("From the join request to A's first media at B:\n");
    report("first picture", pictures);
    report("first sound", sounds);
    return 0;
}
