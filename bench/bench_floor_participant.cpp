// One participant of the floor that bench_media_load measures the client against:
//   bench_floor_participant <janus url> <room> <token> <publisher id> <picture log> <relay token>
// Runs until its standard input closes.

#include "bench/FloorParticipant.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QUrl>

#include <gst/gst.h>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 7) {
        std::fprintf(stderr,
                     "usage: bench_floor_participant URL ROOM TOKEN ID PICTURE-LOG RELAY-TOKEN\n");
        return 2;
    }
    FloorParticipant participant(QUrl(args[1]), args[2].toLongLong(), args[3], args[4].toLongLong(),
                                 args[5]);
    participant.setRelayToken(args[6]);
    QObject::connect(&participant, &FloorParticipant::failed, &app, [&app](const QString &why) {
        std::fprintf(stderr, "bench_floor_participant: %s\n", qPrintable(why));
        app.exit(1);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    participant.start();
    return app.exec();
}
