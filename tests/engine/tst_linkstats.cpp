#include "engine/media/LinkStats.h"
#include "engine/media/RepairWait.h"

#include <QRegularExpression>
#include <QTest>

/// A connection's quality from two readings of its counters, two seconds apart.
class TestLinkStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quality_data();
    void quality();
    void repairsShown();
    void lossBeforeRepair_data();
    void lossBeforeRepair();
    void jitterBuffer_data();
    void jitterBuffer();
    void namesTheCandidatePair();
    void waitsLongerWhileDamaged_data();
    void waitsLongerWhileDamaged();
};

void TestLinkStats::quality_data()
{
    QTest::addColumn<bool>("sending");
    QTest::addColumn<qint64>("lostBetween");  ///< received: lost between the readings
    QTest::addColumn<double>("fractionLost"); ///< sent: the receiver's report
    QTest::addColumn<double>("roundTripMs");
    QTest::addColumn<bool>("poor");
    QTest::addColumn<QString>("shown");
    QTest::newRow("received, clean")
        << false << qint64(0) << -1.0 << -1.0 << false << "received video 400 kbit/s loss 0.0 %";
    QTest::newRow("received, 5 % lost")
        << false << qint64(5) << -1.0 << -1.0 << false << "loss 5.0 %";
    QTest::newRow("received, 6 % lost")
        << false << qint64(6) << -1.0 << -1.0 << true << "loss 6.0 %";
    QTest::newRow("sent, reported loss") << true << qint64(0) << 0.08 << 20.0 << true
                                         << "sent video 400 kbit/s loss 8.0 % rtt 20 ms";
    QTest::newRow("sent, slow round trip")
        << true << qint64(0) << 0.0 << 450.0 << true << "rtt 450 ms";
    QTest::newRow("sent, fine") << true << qint64(0) << 0.01 << 400.0 << false << "loss 1.0 %";
}

void TestLinkStats::quality()
{
    QFETCH(bool, sending);
    QFETCH(qint64, lostBetween);
    QFETCH(double, fractionLost);
    QFETCH(double, roundTripMs);
    QFETCH(bool, poor);
    QFETCH(QString, shown);
    LinkStats::Counters c;
    c.video = true;
    c.sending = sending;
    c.bytes = 1000000;
    if (!sending) {
        c.packetsReceived = 1000;
        c.packetsLost = 10;
    }
    LinkStats link;
    link.update(0, {c}, {});
    c.bytes += 100000; // 400 kbit/s over two seconds
    if (!sending) {
        c.packetsReceived += 100 - lostBetween;
        c.packetsLost += lostBetween;
    }
    c.fractionLost = fractionLost;
    c.roundTripMs = roundTripMs;
    link.update(2000, {c}, {});
    QCOMPARE(link.poor(), poor);
    QVERIFY2(link.describe().contains(shown), qPrintable(link.describe()));
}

/// Retransmissions and the pictures dropped for damage are said with the video they concern.
void TestLinkStats::repairsShown()
{
    LinkStats::Counters sent, received;
    sent.video = received.video = sent.sending = true;
    received.sending = false;
    LinkStats link;
    LinkStats::Frames frames;
    frames.damaged = 3;
    const LinkStats::Resent resent{{12, 11}, {4, 4}};
    link.update(0, {sent, received}, frames, resent);
    sent.bytes = received.bytes = 100000;
    frames.done = 100;
    link.update(2000, {sent, received}, frames, resent);
    QVERIFY2(link.describe().contains(
                 QRegularExpression(QStringLiteral("sent video [^,]* nack 12 rtx 11,"))),
             qPrintable(link.describe()));
    QVERIFY(link.describe().contains(u"received video 400 kbit/s frames 100 decoded 0 dropped "
                                     u"nack 4 rtx 4 3 damaged"));
    // Repaired packets hide a lossy link from the loss; the damaged pictures show it.
    QVERIFY(!link.poor());
    frames.done += 90;
    frames.damaged += 10;
    link.update(4000, {sent, received}, frames, resent);
    QVERIFY(link.poor());
}

void TestLinkStats::lossBeforeRepair_data()
{
    // The sent video's packets and the relay's requests for them so far, at each reading.
    QTest::addColumn<QList<qint64>>("packetsSent");
    QTest::addColumn<QList<qint64>>("requests");
    QTest::addColumn<double>("percent");
    QTest::newRow("a tenth asked again")
        << QList<qint64>{1000, 2000} << QList<qint64>{50, 150} << 10.0;
    QTest::newRow("nothing asked") << QList<qint64>{1000, 1500} << QList<qint64>{7, 7} << 0.0;
    QTest::newRow("no retransmission agreed")
        << QList<qint64>{1000, 2000} << QList<qint64>{-1, -1} << -1.0;
    QTest::newRow("nothing sent in between")
        << QList<qint64>{1000, 1000} << QList<qint64>{0, 9} << -1.0;
    QTest::newRow("a sender that started over")
        << QList<qint64>{1000, 20} << QList<qint64>{50, 1} << -1.0;
    QTest::newRow("few packets: counted over earlier readings too")
        << QList<qint64>{0, 40, 80, 120, 160} << QList<qint64>{0, 0, 12, 12, 12} << 10.0;
}

void TestLinkStats::lossBeforeRepair()
{
    QFETCH(QList<qint64>, packetsSent);
    QFETCH(QList<qint64>, requests);
    QFETCH(double, percent);
    LinkStats link;
    LinkStats::Counters sent, audio;
    sent.video = sent.sending = audio.sending = true;
    audio.packetsSent = 100000; // never counted with the video's
    for (int i = 0; i < packetsSent.size(); ++i) {
        sent.packetsSent = packetsSent[i];
        link.update(i * 2000, {audio, sent}, {}, {{requests[i], requests[i]}, {}});
    }
    QCOMPARE(link.sentVideoAskedAgainPercent(), percent);
}

void TestLinkStats::jitterBuffer_data()
{
    QTest::addColumn<double>("jitterMs");
    QTest::addColumn<double>("roundTripMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("a calm link: the floor") << 1.0 << 2.0 << LinkStats::shortestJitterBufferMs;
    QTest::newRow("unknown: room for a slow link") << -1.0 << -1.0 << 300;
    QTest::newRow("jitter and delay") << 10.0 << 40.0 << 250;
    QTest::newRow("a wild link: the ceiling") << 80.0 << 300.0 << LinkStats::longestJitterBufferMs;
}

void TestLinkStats::jitterBuffer()
{
    QFETCH(double, jitterMs);
    QFETCH(double, roundTripMs);
    QFETCH(int, expected);
    QCOMPARE(LinkStats::jitterBufferMs(jitterMs, roundTripMs), expected);
}

void TestLinkStats::namesTheCandidatePair()
{
    LinkStats::Counters c;
    c.bytes = 1000;
    LinkStats link;
    link.setPair(QStringLiteral("relay tcp to host udp"));
    link.update(0, {c}, {});
    QCOMPARE(link.describe(), QString()); // nothing to say before two readings
    c.bytes += 1000;
    link.update(2000, {c}, {});
    QVERIFY2(link.describe().endsWith(QStringLiteral(", pair relay tcp to host udp")),
             qPrintable(link.describe()));
}

QTEST_GUILESS_MAIN(TestLinkStats)
#include "tst_linkstats.moc"

void TestLinkStats::waitsLongerWhileDamaged_data()
{
    // Readings of the damaged pictures so far, 2 s apart; the wait added after the last one.
    QTest::addColumn<QList<qint64>>("damaged");
    QTest::addColumn<int>("extra");
    constexpr int longer = RepairWait::extraMs;
    const int calm = int(RepairWait::calmMs / 2000);
    QTest::newRow("never damaged") << QList<qint64>{0, 0, 0} << 0;
    QTest::newRow("damaged once") << QList<qint64>{0, 3, 3} << longer;
    QTest::newRow("a calm spell after") << QList<qint64>{0, 3} + QList<qint64>(calm, 3) << 0;
    QTest::newRow("damaged again in the calm")
        << QList<qint64>{0, 3} + QList<qint64>(calm - 1, 3) + QList<qint64>{4, 4} << longer;
    QTest::newRow("a new stream counts from 0")
        << QList<qint64>{0, 3} + QList<qint64>(calm, 3) + QList<qint64>{0, 2} << longer;
}

void TestLinkStats::waitsLongerWhileDamaged()
{
    QFETCH(QList<qint64>, damaged);
    RepairWait wait;
    int extra = -1;
    for (qsizetype i = 0; i < damaged.size(); ++i)
        extra = wait.update(damaged[i], i * 2000);
    QTEST(extra, "extra");
}
