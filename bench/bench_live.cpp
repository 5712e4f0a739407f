// Time from choosing the running demo broadcast to its first decoded frame, and the resident
// memory the open player adds, for the client's live list and player against a bare
// QMediaPlayer with a QVideoSink and a QAudioOutput playing the same stream, alternating, each
// in a fresh process, against one orvale-services.
// Run by hand: build/bench/bench_live [rounds]   (inside `unshare -n` with lo up, or beside a
// deployment that does not use 127.0.0.116)

#include "model/AppUser.h"
#include "model/LiveModel.h"
#include "model/Preferences.h"
#include "tests/support/ServicesProcess.h"
#include "ui/live/DirectLiveCellView.h"
#include "ui/live/DirectLiveList.h"
#include "ui/live/LiveVideoLayer.h"
#include "ui/live/PlayDirectLive.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMediaPlayer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString host = QStringLiteral("127.0.0.116");
const QString stream = QStringLiteral("http://127.0.0.116:8080/live/hls/index.m3u8");
constexpr int settleMs = 3000; // playback time before the memory is read

double residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble();
    return 0;
}

/// Prints "<ms to first frame> <added KiB>" for one player kind; run in a child process.
int playOnce(bool client)
{
    QElapsedTimer clock;
    qint64 firstFrameMs = -1;
    const auto onFrame = [&](const QVideoFrame &frame) {
        if (frame.isValid() && firstFrameMs < 0)
            firstFrameMs = clock.elapsed();
    };
    double before = 0;
    std::unique_ptr<DirectLiveList> list;
    std::unique_ptr<QMediaPlayer> player;
    QVideoSink sink;
    if (client) {
        Preferences().setLiveServiceUrl(QStringLiteral("http://%1:8080").arg(host));
        AppUser::defaultUser()->coId = QStringLiteral("C001");
        list = std::make_unique<DirectLiveList>();
        list->show();
        if (!QTest::qWaitFor([&] { return list->tableView()->count() == 2; }, 10000))
            return 1;
        auto *row = qobject_cast<DirectLiveCellView *>(
            list->tableView()->itemWidget(list->tableView()->item(0)));
        QTest::qWait(500); // cover pictures and the list's own work out of the way
        before = residentKiB();
        clock.start();
        row->playButton()->click();
        QObject::connect(list->playWindow()->videoSink(), &QVideoSink::videoFrameChanged, onFrame);
    } else {
        QWidget window;
        window.show();
        QTest::qWait(500);
        before = residentKiB();
        clock.start();
        player = std::make_unique<QMediaPlayer>();
        auto *audio = new QAudioOutput(player.get());
        player->setAudioOutput(audio);
        player->setVideoSink(&sink);
        QObject::connect(&sink, &QVideoSink::videoFrameChanged, onFrame);
        player->setSource(QUrl(stream));
        player->play();
    }
    if (!QTest::qWaitFor([&] { return firstFrameMs >= 0; }, 20000))
        return 1;
    QTest::qWait(settleMs);
    std::printf("%lld %.0f\n", firstFrameMs, residentKiB() - before);
    std::fflush(stdout);
    return 0;
}

struct Sample
{
    double ms = 0;
    double addedMiB = 0;
};

bool measure(const QString &kind, const QProcessEnvironment &environment, Sample *sample)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(), {kind});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return false;
    const QList<QByteArray> words = process.readAllStandardOutput().trimmed().split(' ');
    if (words.size() != 2)
        return false;
    sample->ms = words[0].toDouble();
    sample->addedMiB = words[1].toDouble() / 1024.0;
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool streamServed()
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(stream))));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 5000))
        return false;
    return reply->error() == QNetworkReply::NoError;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && (qstrcmp(argv[1], "client") == 0 || qstrcmp(argv[1], "baseline") == 0)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return playOnce(qstrcmp(argv[1], "client") == 0);
    }
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    ServicesProcess services(QStringLiteral(ORVALE_SERVICES), host);
    if (!services.start()) {
        std::fprintf(stderr, "orvale-services did not start\n");
        return 1;
    }
    if (!QTest::qWaitFor([] { return streamServed(); }, 60000)) {
        std::fprintf(stderr, "the live test stream is not served\n");
        return 1;
    }
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*=false"));

    std::vector<double> clientMs, clientMiB, baseMs, baseMiB;
    for (int i = 0; i < rounds; ++i) {
        Sample client, base;
        if (!measure(QStringLiteral("client"), environment, &client) ||
            !measure(QStringLiteral("baseline"), environment, &base)) {
            std::fprintf(stderr, "round %d failed\n", i + 1);
            return 1;
        }
        clientMs.push_back(client.ms);
        clientMiB.push_back(client.addedMiB);
        baseMs.push_back(base.ms);
        baseMiB.push_back(base.addedMiB);
        std::printf("round %d: client %.0f ms %+.1f MiB, bare player %.0f ms %+.1f MiB\n", i + 1,
                    client.ms, client.addedMiB, base.ms, base.addedMiB);
    }
    const double cm = median(clientMs), bm = median(baseMs);
    const double cr = median(clientMiB), br = median(baseMiB);
    std::printf("median first frame: client %.0f ms, bare player %.0f ms, ratio %.2f\n", cm, bm,
                bm > 0 ? cm / bm : 0);
    std::printf("median added memory: client %.1f MiB, bare player %.1f MiB, ratio %.2f\n", cr, br,
                br > 0 ? cr / br : 0);
    return 0;
}
