// A call between the home client (behind the NAT) and the office client across the network
// lab while the home link loses datagrams or drops for a while: the call holds, losses are
// repaired by retransmission and in-band FEC, and picture and sound come back when the link
// does. Needs root, `ip netns` and Janus.

#include "tests/support/LabParticipant.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/Needs.h"
#include "tests/support/NetworkLab.h"
#include "tests/support/ReceivedMedia.h"
#include "tests/support/ServicesProcess.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <chrono>
#include <limits>
#include <memory>

using Host = NetworkLab::Host;
using Link = NetworkLab::Link;
using Direction = NetworkLab::Direction;

namespace {

constexpr double heard = 1500;    // amplitude of the other's tone; a tone is sent at about 9800
constexpr int lossPercent = 10;   // of the datagrams on the home link, one way
constexpr int windowMs = 20000;   // measured under loss
constexpr qint64 returnMs = 5000; // picture and sound back after the link is
constexpr int detailsMs = 10000;  // for an engine's details on a lossy link

/// The steady clock's milliseconds, as the received media are stamped.
qint64 now()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

/// Retransmissions of a video stream in a details line (`sent` or `received`): asked, and
/// sent or received; -1 each when the line names none.
QPair<int, int> retransmissions(const QString &details, const QString &stream)
{
    const auto match =
        QRegularExpression(stream + QStringLiteral(" video[^,;]* nack (\\d+) rtx (\\d+)"))
            .match(details);
    return match.hasMatch() ? qMakePair(match.captured(1).toInt(), match.captured(2).toInt())
                            : qMakePair(-1, -1);
}

/// Whether the sound recorded since `file` held `bytes` carries `tone` at its end.
bool soundBack(const ReceivedMedia &media, const QString &file, qint64 bytes, int tone)
{
    const QString recording = media.recording();
    const bool grown =
        recording != file || media.recorded() > bytes + 200 * ReceivedMedia::bytesPerMs;
    return grown && levelAt(recording, tone) > heard;
}

} // namespace

class TestLabLinkEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void lossOnTheHomeLinkIsRepaired_data();
    void lossOnTheHomeLinkIsRepaired();
    void mediaComeBackAfterTheHomeLinkDrops();

private:
    /// Whether both engines are in the call and neither says its media are interrupted; `why`
    /// the details line that says otherwise.
    bool notInterrupted(QString *why);

    std::unique_ptr<NetworkLab> m_lab;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<LabParticipant> m_home, m_office;
};

void TestLabLinkEndToEnd::initTestCase()
{
    ORVALE_NEEDS(NetworkLab::unavailable({QStringLiteral("janus")}));
    m_lab = std::make_unique<NetworkLab>();
    QVERIFY2(m_lab->build(), qPrintable(m_lab->error()));
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES),
                                                   NetworkLab::address(Host::Server));
    m_services->setLauncher(m_lab->launcher(Host::Server));
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));
    m_home = std::make_unique<LabParticipant>(QStringLiteral("alice"), 440);
    m_office = std::make_unique<LabParticipant>(QStringLiteral("bob"), 660);
    QVERIFY(m_home->join(*m_lab, Host::Home, m_services->portal()));
    QVERIFY(m_office->join(*m_lab, Host::Office, m_services->portal()));
    const auto flowing = [](const LabParticipant &p, int tone) {
        return p.intactPictures() > 10 && p.level(tone) > heard;
    };
    QTRY_VERIFY_WITH_TIMEOUT(flowing(*m_home, m_office->tone()), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(flowing(*m_office, m_home->tone()), 30000);
}

bool TestLabLinkEndToEnd::notInterrupted(QString *why)
{
    for (LabParticipant *p : {m_home.get(), m_office.get()}) {
        *why = p->details(detailsMs);
        if (why->isEmpty() || !why->contains(QStringLiteral("2 participants")) ||
            why->contains(QStringLiteral("音视频已中断")))
            return false;
    }
    return true;
}

void TestLabLinkEndToEnd::lossOnTheHomeLinkIsRepaired_data()
{
    QTest::addColumn<bool>("up");
    QTest::newRow("home uplink") << true;
    QTest::newRow("home downlink") << false;
}

void TestLabLinkEndToEnd::lossOnTheHomeLinkIsRepaired()
{
    QFETCH(bool, up);
    const Direction direction = up ? Direction::Up : Direction::Down;
    LabParticipant &receiver = up ? *m_office : *m_home;
    LabParticipant &sender = up ? *m_home : *m_office;
    // The lossy hop is the home link: on the way up the relay asks the home publisher again,
    // on the way down the home subscriber asks the relay.
    LabParticipant &repairer = up ? sender : receiver;
    const QString stream = up ? QStringLiteral("sent") : QStringLiteral("received");
    QVERIFY(m_lab->setLoss(Link::Home, direction, lossPercent));
    auto lossless = qScopeGuard([this, direction] { m_lab->setLoss(Link::Home, direction, 0); });
    // The window opens once the lossy link is seen and repair has begun.
    QPair<int, int> before;
    QTRY_VERIFY_WITH_TIMEOUT(
        (before = retransmissions(repairer.details(detailsMs), stream)).first > 0, 20000);
    const qint64 from = now();
    const qint64 soundFrom = receiver.received().recorded();
    const QString recording = receiver.received().recording();
    QElapsedTimer window;
    window.start();
    while (window.elapsed() < windowMs) {
        QString why;
        QVERIFY2(notInterrupted(&why), qPrintable(why));
        QTest::qWait(2000);
    }
    const qint64 to = now();
    const ReceivedMedia media = receiver.received();
    QCOMPARE(media.recording(), recording); // the stream was never built again
    const ReceivedMedia::Pictures shown = media.intactPictures(from, to);
    const double sentPerSecond = ReceivedMedia::sentPerSecond(shown);
    QVERIFY2(sentPerSecond > 0, "too few pictures shown to tell how many were sent");
    const double intact = shown.size() / (sentPerSecond * double(to - from) / 1000);
    const int soundPackets = int((to - from) / ReceivedMedia::packetMs);
    const int soundLost = media.soundLost(soundFrom, media.recorded(), sender.tone(), to - from);
    const QPair<int, int> after = retransmissions(repairer.details(detailsMs), stream);
    const int asked = after.first - before.first, repaired = after.second - before.second;
    qInfo("intact %.1f %% of the pictures sent, sound lost %d of %d, nack %d rtx %d", 100 * intact,
          soundLost, soundPackets, asked, repaired);
    // Bounds for a loaded machine of two cores (a sanitizer build too), short of the goals for
    // a real link (85 % intact and 3 % of the sound lost at this loss), where 75–94 % are seen;
    // without retransmission and FEC about 55 % of the pictures and 10 % of the sound got through.
    QVERIFY2(intact >= 0.65, qPrintable(QString::number(intact)));
    QVERIFY2(soundLost * 20 <= soundPackets, qPrintable(QString::number(soundLost)));
    // Lost video is asked for again, and retransmissions come: a packet still missing is asked
    // for again at each round trip until it is too late, so requests far outnumber the packets
    // lost and those sent again.
    QVERIFY2(asked > 0 && repaired * 20 >= asked,
             qPrintable(QStringLiteral("%1 asked, %2 repaired").arg(asked).arg(repaired)));
}

void TestLabLinkEndToEnd::mediaComeBackAfterTheHomeLinkDrops()
{
    QVERIFY(m_lab->setLinkUp(Link::Home, false));
    auto linkUp = qScopeGuard([this] { m_lab->setLinkUp(Link::Home, true); });
    QTest::qWait(10000);
    struct Heard
    {
        LabParticipant *p;
        int tone;
        QString file;
        qint64 bytes;
        qint64 pictureBack = -1, soundBack = -1;
    };
    QList<Heard> ends{{m_home.get(), m_office->tone(), {}, 0},
                      {m_office.get(), m_home->tone(), {}, 0}};
    for (Heard &e : ends) {
        e.file = e.p->received().recording();
        e.bytes = e.p->received().recorded();
    }
    QVERIFY(m_lab->setLinkUp(Link::Home, true));
    const qint64 back = now();
    // Polled finely so that the moment sound returns is known to a tenth of a second; the
    // pictures carry their own moments.
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     bool all = true;
                     for (Heard &e : ends) {
                         const ReceivedMedia media = e.p->received();
                         if (e.soundBack < 0 && soundBack(media, e.file, e.bytes, e.tone))
                             e.soundBack = now() - back;
                         if (const auto shown =
                                 media.intactPictures(back, std::numeric_limits<qint64>::max());
                             e.pictureBack < 0 && !shown.isEmpty())
                             e.pictureBack = shown.firstKey() - back;
                         all = all && e.soundBack >= 0 && e.pictureBack >= 0;
                     }
                     return all;
                 },
                 30000),
             "picture or sound did not come back within 30 s");
    for (const Heard &e : ends) {
        qInfo("picture back after %lld ms, sound after %lld ms",
              static_cast<long long>(e.pictureBack), static_cast<long long>(e.soundBack));
        QVERIFY2(e.pictureBack <= returnMs, qPrintable(QString::number(e.pictureBack)));
        QVERIFY2(e.soundBack <= returnMs, qPrintable(QString::number(e.soundBack)));
    }
    QString why; // still in the call, its media no longer said to be interrupted
    QTRY_VERIFY2_WITH_TIMEOUT(notInterrupted(&why), qPrintable(why), 10000);
}

QTEST_GUILESS_MAIN(TestLabLinkEndToEnd)
#include "tst_lablink_e2e.moc"
