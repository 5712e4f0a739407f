// A two-person call across the network lab at 0, 5 and 10 % UDP loss on one side, both ways
// (A's uplink and A's downlink): pictures shown intact at the receiver per second against the
// pictures the sender sent (both from the frame stamps), the longest freeze, audio lost after
// repair and the loss the receiver's statistics saw before it, and the selected candidate pair
// where the engine reports one.
//
// A and B are engine drivers (the client's bridge over the real engine, a process each), the
// deployment runs on the lab's server host behind its TLS front (nginx). By default A is at home
// behind the NAT and B in the office, and the loss is on the home link. With --one-host both run on
// the server host, A under a user of its own so that nft can drop A's datagrams (and those sent to
// A) alone: that measures engines whose deployment cannot be reached from other hosts. Run as root:
//   build/bench/bench_lab_call [--seconds N] [--one-host]     (60 s per loss by default)

#include "bench/EngineDriverProcess.h"
#include "tests/support/NetworkLab.h"
#include "tests/support/ReceivedMedia.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TlsFront.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

using Host = NetworkLab::Host;
constexpr uid_t lossyUser = 65534; // nobody: A in the server host, told apart by nft
constexpr int toneOfA = 440, toneOfB = 660;

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

/// A's datagrams, and those sent to A on flows A has used, dropped at `percent`, in the
/// server host where A and B share one network stack.
QByteArray lossOfUser(int percent)
{
    QByteArray rules = "table inet orvlabloss\n"
                       "delete table inet orvlabloss\n"
                       "table inet orvlabloss {\n"
                       "  chain lossy {\n"
                       "    type filter hook output priority 0;\n";
    if (percent > 0) {
        const QByteArray user = QByteArray::number(lossyUser), share = QByteArray::number(percent);
        rules += "    meta l4proto udp meta skuid " + user + " ct mark set 0x6c\n";
        rules += "    meta l4proto udp meta skuid " + user + " numgen random mod 100 lt " + share +
                 " drop\n";
        rules += "    meta l4proto udp meta skuid != " + user +
                 " ct mark 0x6c numgen random mod 100 lt " + share + " drop\n";
    }
    return rules + "  }\n}\n";
}

/// One participant: its driver, and the folders it writes its received pictures and sound to.
struct Participant
{
    QString name, stamps, sound, certificate;
    std::unique_ptr<EngineDriverProcess> driver;
    ReceivedMedia received() const { return ReceivedMedia(stamps, sound); }
};

/// The participant's folders and engine settings; the engine and the client trust the
/// deployment's `certificate`, copied where the participant's user can read it.
bool prepare(Participant &p, const QTemporaryDir &folder, int tone, bool asLossyUser,
             const QString &certificate)
{
    const QString own = folder.filePath(p.name);
    p.stamps = own + QStringLiteral("/stamps");
    p.sound = own + QStringLiteral("/sound");
    const QString home = own + QStringLiteral("/home");
    p.certificate = own + QStringLiteral("/ca.pem");
    if (!QDir().mkpath(p.sound) || !QDir().mkpath(home) || !QFile::copy(certificate, p.certificate))
        return false;
    QFile settings(own + QStringLiteral("/engine.ecf"));
    if (!settings.open(QIODevice::WriteOnly))
        return false;
    settings.write(QStringLiteral("[engine]\naudioRecordFolder=%1\ntoneFrequency=%2\ncaFile=%3\n")
                       .arg(p.sound)
                       .arg(tone)
                       .arg(p.certificate)
                       .toUtf8());
    settings.close();
    if (asLossyUser)
        for (const QString &path : {folder.path(), own, p.sound, home})
            if (::chown(QFile::encodeName(path).constData(), lossyUser, lossyUser) != 0 ||
                !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther))
                return false;
    // Its home is its runtime folder too, which only its owner may enter.
    if (asLossyUser &&
        !QFile::setPermissions(home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    p.driver = std::make_unique<EngineDriverProcess>(p.stamps);
    return true;
}

QStringList asUser(const QString &home)
{
    return {QStringLiteral("setpriv"),
            QStringLiteral("--reuid=%1").arg(lossyUser),
            QStringLiteral("--regid=%1").arg(lossyUser),
            QStringLiteral("--clear-groups"),
            QStringLiteral("env"),
            QStringLiteral("HOME=") + home,
            QStringLiteral("XDG_RUNTIME_DIR=") + home};
}

/// The figure after `label` in the driver's details line, or -1.
double figure(const QByteArray &details, const QString &pattern)
{
    const auto match = QRegularExpression(pattern).match(QString::fromUtf8(details));
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

/// The selected candidate pair of the sent stream (`own`) or of the first received one, as the
/// details line names it ("… , pair host udp to host udp; …"), or a dash.
QString selectedPair(const QByteArray &details, bool own)
{
    const QStringList links = QString::fromUtf8(details).split(QStringLiteral("; "));
    for (const QString &link : links) {
        const bool sent = link.startsWith(QStringLiteral("own: "));
        if (sent != own || (!own && !link.contains(QStringLiteral("received video"))))
            continue;
        const qsizetype at = link.lastIndexOf(QStringLiteral(", pair "));
        if (at >= 0)
            return link.mid(at + 7);
    }
    return QStringLiteral("-");
}

/// One direction's figures over a window.
struct Direction
{
    double shownPerSecond = 0, sentPerSecond = -1;
    qint64 freezeMs = 0;
    int soundLost = 0, soundPackets = 0;
    double lossBeforeRepair = -1;
    QString pair;
};

struct Window
{
    qint64 from = 0, to = 0;
    qint64 recordedAtStart = 0, recordedAtEnd = 0;
};

const QString audioLossPattern = QStringLiteral("received audio[^,]*loss ([0-9.]+) %");

Window openWindow(const Participant &receiver)
{
    Window w;
    w.from = nowMs();
    w.recordedAtStart = receiver.received().recorded();
    return w;
}

Direction closeWindow(const Window &w, Participant &sender, Participant &receiver, int tone)
{
    Direction d;
    d.soundPackets = int((w.to - w.from) / ReceivedMedia::packetMs);
    const double seconds = double(w.to - w.from) / 1000;
    const QByteArray sent = sender.driver->ask(QStringLiteral("details"), "details:");
    const QByteArray received = receiver.driver->ask(QStringLiteral("details"), "details:");
    const ReceivedMedia media = receiver.received();
    const ReceivedMedia::Pictures shown = media.intactPictures(w.from, w.to);
    d.sentPerSecond = ReceivedMedia::sentPerSecond(shown);
    d.shownPerSecond = shown.size() / seconds;
    d.freezeMs = ReceivedMedia::longestFreeze(shown, w.from, w.to);
    d.soundLost = media.soundLost(w.recordedAtStart, w.recordedAtEnd, tone, w.to - w.from);
    d.lossBeforeRepair = figure(received, audioLossPattern);
    d.pair = selectedPair(sent, true) + QStringLiteral(" / ") + selectedPair(received, false);
    return d;
}

void print(const char *way, int loss, const Direction &d)
{
    const double share = d.sentPerSecond > 0 ? 100 * d.shownPerSecond / d.sentPerSecond : -1;
    const QString sound = d.soundPackets > 0
                              ? QStringLiteral("%1 of %2 (%3 %)")
                                    .arg(d.soundLost)
                                    .arg(d.soundPackets)
                                    .arg(100.0 * d.soundLost / d.soundPackets, 0, 'f', 1)
                              : QStringLiteral("-");
    const QString before = d.lossBeforeRepair >= 0
                               ? QStringLiteral("%1 %").arg(d.lossBeforeRepair, 0, 'f', 1)
                               : QStringLiteral("-");
    std::printf("%-20s %3d %%  intact %5.1f/s of %5.1f/s sent (%5.1f %%)  longest freeze %5lld ms"
                "  audio lost after repair %s, received loss %s  pairs (sent / received) %s\n",
                way, loss, d.shownPerSecond, d.sentPerSecond, share,
                static_cast<long long>(d.freezeMs), qPrintable(sound), qPrintable(before),
                qPrintable(d.pair));
    std::fflush(stdout);
}

bool setLoss(NetworkLab &lab, bool across, int percent)
{
    if (!across)
        return lab.loadRules(Host::Server, lossOfUser(percent));
    return lab.setLoss(NetworkLab::Link::Home, NetworkLab::Direction::Up, percent) &&
           lab.setLoss(NetworkLab::Link::Home, NetworkLab::Direction::Down, percent);
}

int fail(const char *why)
{
    std::fprintf(stderr, "bench_lab_call: %s\n", why);
    return 1;
}

bool joinCall(Participant &p, const QStringList &launcher, const QString &user,
              const QString &portal)
{
    p.driver->setLauncher(launcher);
    if (!p.driver->start({QStringLiteral("--view")}))
        return false;
    p.driver->tell(QStringLiteral("trust ") + p.certificate);
    if (!p.driver->waitFor("trusting"))
        return false;
    p.driver->tell(QStringLiteral("settings ") + QFileInfo(p.stamps).path() +
                   QStringLiteral("/engine.ecf"));
    p.driver->tell(QStringLiteral("login ") + user + u' ' + user + QStringLiteral("1234 ") +
                   portal);
    if (!p.driver->waitFor("loginSuccess"))
        return false;
    p.driver->tell(QStringLiteral("entity 1002"));
    p.driver->tell(QStringLiteral("join 1002")); // alice's room
    return p.driver->waitFor("conference");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool across = !arguments.contains(QStringLiteral("--one-host"));
    const qsizetype at = arguments.indexOf(QStringLiteral("--seconds"));
    const int seconds = at > 0 ? std::max(1, arguments.value(at + 1).toInt()) : 60;
    if (const QString why = NetworkLab::unavailable(); !why.isEmpty())
        return fail(qPrintable(why));
    NetworkLab lab;
    if (!lab.build())
        return fail(qPrintable(lab.error()));

    // The deployment on the server host's loopback behind its TLS front, as on a server; that
    // host is a network of its own, where every port is free.
    const TlsFront::Ports ports{443, 9090, 8080, 8081, 8088};
    const QString server = NetworkLab::address(Host::Server);
    ServicesProcess services(QStringLiteral(ORVALE_SERVICES), QStringLiteral("127.0.0.1"),
                             {QStringLiteral("--login-port"), QString::number(ports.web),
                              QStringLiteral("--tls-port"), QStringLiteral("8443"),
                              QStringLiteral("--portal-port"), QString::number(ports.portal),
                              QStringLiteral("--janus-port"), QString::number(ports.janus),
                              QStringLiteral("--public-url"), QStringLiteral("https://") + server});
    services.setLauncher(lab.launcher(Host::Server));
    if (!services.start(true))
        return fail(
            qPrintable(QStringLiteral("orvale-services did not start: ") + services.output()));
    const QString certificate = services.dataPath() + QStringLiteral("/cert.pem");
    TlsFront front(server, ports, certificate, services.dataPath() + QStringLiteral("/key.pem"));
    front.setLauncher(lab.launcher(Host::Server));
    if (QString error; !front.start(&error))
        return fail(qPrintable(error));
    QTemporaryDir folder;
    Participant a{QStringLiteral("a"), {}, {}, {}, {}}, b{QStringLiteral("b"), {}, {}, {}, {}};
    if (!prepare(a, folder, toneOfA, !across, certificate) ||
        !prepare(b, folder, toneOfB, false, certificate))
        return fail("could not prepare the participants' folders");
    const QStringList launcherOfA =
        across ? lab.launcher(Host::Home)
               : lab.launcher(Host::Server) + asUser(folder.filePath(QStringLiteral("a/home")));
    const QStringList launcherOfB = lab.launcher(across ? Host::Office : Host::Server);
    if (!joinCall(a, launcherOfA, QStringLiteral("alice"), front.base()) ||
        !joinCall(b, launcherOfB, QStringLiteral("bob"), front.base()))
        return fail("a participant did not get into the call");
    // Both see each other before any measure.
    if (!QTest::qWaitFor(
            [&] {
                const qint64 now = nowMs();
                return !a.received().intactPictures(now - 1000, now).isEmpty() &&
                       !b.received().intactPictures(now - 1000, now).isEmpty() &&
                       !a.received().recording().isEmpty() && !b.received().recording().isEmpty();
            },
            30000))
        return fail(qPrintable(QStringLiteral("no pictures or sound came through (%1 %2 %3 %4)")
                                   .arg(QDir(a.sound).entryList(QDir::Files).join(u' '),
                                        QDir(b.sound).entryList(QDir::Files).join(u' '))
                                   .arg(QFileInfo(a.stamps).size())
                                   .arg(QFileInfo(b.stamps).size())));

    std::printf("%s, %d s per loss, loss on A's side (%s):\n",
                across ? "A at home behind the NAT, B in the office" : "A and B on the server host",
                seconds, across ? "the home link" : "A's own datagrams");
    for (int loss : {0, 5, 10}) {
        if (!setLoss(lab, across, loss))
            return fail(qPrintable(lab.error()));
        QTest::qWait(2000); // the repair settles on the new link
        Window up = openWindow(b), down = openWindow(a);
        QTest::qWait(seconds * 1000);
        up.to = down.to = nowMs();
        up.recordedAtEnd = b.received().recorded();
        down.recordedAtEnd = a.received().recorded();
        print("A→B (A's uplink)", loss, closeWindow(up, a, b, toneOfA));
        print("B→A (A's downlink)", loss, closeWindow(down, b, a, toneOfB));
    }
    setLoss(lab, across, 0);
    return 0;
}
