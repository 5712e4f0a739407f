// Time from process start to the login window's first paint, and resident memory then, for the
// client and for a minimal Qt Widgets window, alternating, in one run.
// Run by hand: build/bench/bench_startup [rounds]   (QT_QPA_PLATFORM as you like)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Sample
{
    double ms = 0;
    double rssMiB = 0;
};

bool measure(const QString &program, const QProcessEnvironment &environment, Sample *sample)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    if (!process.waitForStarted(10000))
        return false;
    QByteArray out;
    while (!out.contains('\n') && process.waitForReadyRead(20000))
        out += process.readAllStandardOutput();
    sample->ms = double(clock.nsecsElapsed()) / 1e6;
    const QList<QByteArray> words = out.trimmed().split(' ');
    process.waitForFinished(10000);
    if (words.size() != 2 || words[0] != "first-paint")
        return false;
    sample->rssMiB = words[1].toDouble() / 1024.0;
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const QString dir = QCoreApplication::applicationDirPath();
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString());
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.info=false"));

    std::vector<double> clientMs, clientMiB, minimalMs, minimalMiB, linkedMs, linkedMiB;
    for (int i = 0; i < rounds; ++i) {
        Sample client, minimal, linked;
        if (!measure(dir + QStringLiteral("/startup_minimal"), environment, &minimal) ||
            !measure(dir + QStringLiteral("/startup_orvale"), environment, &client) ||
            !measure(dir + QStringLiteral("/startup_minimal_linked"), environment, &linked)) {
            std::fprintf(stderr, "a start-up did not report its first paint\n");
            return 1;
        }
        clientMs.push_back(client.ms);
        clientMiB.push_back(client.rssMiB);
        minimalMs.push_back(minimal.ms);
        minimalMiB.push_back(minimal.rssMiB);
        linkedMs.push_back(linked.ms);
        linkedMiB.push_back(linked.rssMiB);
    }
    const double cm = median(clientMs), mm = median(minimalMs);
    const double cr = median(clientMiB), mr = median(minimalMiB);
    std::printf("platform %s, %d rounds, medians\n",
                qPrintable(environment.value(QStringLiteral("QT_QPA_PLATFORM"))), rounds);
    std::printf("minimal window  %7.1f ms  %6.1f MiB\n", mm, mr);
    std::printf(
        "minimal, linked %7.1f ms  %6.1f MiB   (the same window with the client's libraries)\n",
        median(linkedMs), median(linkedMiB));
    std::printf("orvale login    %7.1f ms  %6.1f MiB\n", cm, cr);
    std::printf("ratio           %7.2fx   %6.2fx\n", cm / mm, cr / mr);
    return 0;
}
