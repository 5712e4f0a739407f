// A Janus run on its own as a relay of a deployment elsewhere: `orvale-outsiderelay <folder>
// <address>` starts Janus with its API and its media on `address`, writes the secrets a
// deployment reads into "<folder>/secrets", says "relay <url> <janus pid>" once Janus answers,
// and stops Janus when its input closes or it is asked to stop (SIGTERM, SIGINT).

#include "services/JanusSupervisor.h"
#include "tests/support/JanusProbe.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void askToStop(int)
{
    const char byte = 0;
    (void)::write(stopPipe[1], &byte, 1);
}

bool writeSecrets(const QString &folder)
{
    QFile file(folder + QStringLiteral("/secrets"));
    return file.open(QIODevice::WriteOnly) &&
           file.write(JanusProbe(folder).relaySecrets().toUtf8()) > 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: orvale-outsiderelay <folder> <address>\n", stderr);
        return 2;
    }
    const QString folder = arguments.at(1), address = arguments.at(2);
    // Stopping goes through the event loop, so that Janus is stopped with this program.
    if (::pipe(stopPipe) != 0)
        return 1;
    std::signal(SIGTERM, askToStop);
    std::signal(SIGINT, askToStop);
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });

    JanusSupervisor janus(QStringLiteral("janus"), folder);
    janus.setAddress(address, 0, address);
    QObject::connect(&janus, &JanusSupervisor::lost, &app, [] { QCoreApplication::exit(1); });
    QString error;
    if (!janus.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, &app, [&] {
        if (!janus.ready())
            return;
        ready.stop();
        if (!writeSecrets(folder))
            return QCoreApplication::exit(1);
        std::printf("relay %s %lld\n", qPrintable(janus.url()), janus.pid());
        std::fflush(stdout);
    });
    ready.start(50);
    return app.exec();
}
