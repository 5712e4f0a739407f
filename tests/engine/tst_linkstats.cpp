#include "engine/media/LinkStats.h"

#include <QTest>

/// A connection's quality from two readings of its counters, two seconds apart.
class TestLinkStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quality_data();
    void quality();
    void namesTheCandidatePair();
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
