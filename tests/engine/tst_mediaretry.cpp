#include "engine/media/MediaRetry.h"
#include "engine/media/NetworkWatch.h"

#include <QTest>

/// How the engine tries a failed stream again: for as long as the call lasts, waiting ever
/// longer up to a ceiling, and at once when the network comes back.
class TestMediaRetry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void neverGivesUpAndCapsItsWait();
    void triesAtOnceWhenTheNetworkReturns();
    void networkComesBack_data();
    void networkComesBack();
};

void TestMediaRetry::neverGivesUpAndCapsItsWait()
{
    MediaRetry retry;
    int previous = 0;
    for (int failure = 0; failure < 40; ++failure) {
        retry.schedule([] {});
        QVERIFY(retry.waitMs() >= previous);
        QVERIFY(retry.waitMs() <= MediaRetry::longestWaitMs);
        previous = retry.waitMs();
    }
    QCOMPARE(previous, MediaRetry::longestWaitMs);
}

void TestMediaRetry::triesAtOnceWhenTheNetworkReturns()
{
    MediaRetry retry;
    for (int failure = 0; failure < 10; ++failure)
        retry.schedule([] {});
    int tries = 0;
    retry.schedule([&tries] { ++tries; });
    const int longWait = retry.waitMs();
    retry.retryNow();
    QCOMPARE(tries, 1);
    QCOMPARE(retry.waitMs(), 0);
    retry.retryNow(); // nothing is waiting: nothing runs twice
    QCOMPARE(tries, 1);
    retry.schedule([] {});
    QVERIFY(retry.waitMs() < longWait); // the failures while away are forgotten
}

void TestMediaRetry::networkComesBack_data()
{
    using R = QNetworkInformation::Reachability;
    QTest::addColumn<R>("before");
    QTest::addColumn<R>("now");
    QTest::addColumn<bool>("back");
    QTest::newRow("disconnected, then online") << R::Disconnected << R::Online << true;
    QTest::newRow("local, then site") << R::Local << R::Site << true;
    QTest::newRow("online, then disconnected") << R::Online << R::Disconnected << false;
    QTest::newRow("first word") << R::Unknown << R::Online << false;
}

void TestMediaRetry::networkComesBack()
{
    QFETCH(QNetworkInformation::Reachability, before);
    QFETCH(QNetworkInformation::Reachability, now);
    QFETCH(bool, back);
    QCOMPARE(NetworkWatch::cameBack(before, now), back);
}

QTEST_GUILESS_MAIN(TestMediaRetry)
#include "tst_mediaretry.moc"
