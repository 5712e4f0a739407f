#include "engine/media/BitrateAdapter.h"

#include <QTest>

/// The encoder's rate as the link's reports arrive, on a clock the test moves.
class TestBitrateAdapter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void follows_data();
    void follows();
    void ceilingChange_data();
    void ceilingChange();
};

void TestBitrateAdapter::follows_data()
{
    // Events "<ms>:<what>", what being slow (a slow-link report), loss<percent>, or tick;
    // the target after each one.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<int>>("targets");
    QTest::newRow("a slow link steps down at once") << "0:slow" << QList<int>{350000};
    QTest::newRow("a burst of reports counts once")
        << "0:slow 300:slow 900:slow" << QList<int>{350000, 350000, 350000};
    QTest::newRow("trouble that goes on keeps stepping down")
        << "0:slow 1500:slow 3000:slow" << QList<int>{350000, 245000, 171500};
    QTest::newRow("never below the floor") << "0:slow 2000:slow 4000:slow 6000:slow 8000:slow"
                                           << QList<int>{350000, 245000, 171500, 150000, 150000};
    QTest::newRow("high loss is trouble, low loss is not")
        << "0:loss3 1000:loss8 2000:loss25" << QList<int>{500000, 500000, 350000};
    QTest::newRow("climbs after a calm spell, one step at a time")
        << "0:slow 2000:tick 4000:tick 8000:tick 9000:tick"
        << QList<int>{350000, 350000, 385000, 423500, 423500};
    QTest::newRow("trouble restarts the calm spell")
        << "0:slow 3000:loss2 3500:slow 6000:tick 7600:tick"
        << QList<int>{350000, 350000, 245000, 245000, 269500};
    QTest::newRow("trouble held back still restarts the calm spell")
        << "0:slow 1000:slow 4500:tick 5000:tick" << QList<int>{350000, 350000, 350000, 385000};
    QTest::newRow("back to the level's rate, never above")
        << "0:slow 4000:tick 8000:tick 12000:tick 16000:tick 20000:tick"
        << QList<int>{350000, 385000, 423500, 465850, 500000, 500000};
    QTest::newRow("an untroubled link stays at the level's rate")
        << "0:tick 5000:tick 10000:loss1" << QList<int>{500000, 500000, 500000};
}

void TestBitrateAdapter::follows()
{
    QFETCH(QString, events);
    QFETCH(QList<int>, targets);
    BitrateAdapter adapter(500000);
    QList<int> seen;
    int before = adapter.target();
    for (const QString &event : events.split(u' ')) {
        const qint64 at = event.section(u':', 0, 0).toLongLong();
        const QString what = event.section(u':', 1);
        bool changed = false;
        if (what == u"slow")
            changed = adapter.slowLink(at);
        else if (what == u"tick")
            changed = adapter.tick(at);
        else
            changed = adapter.lossReport(at, what.mid(4).toDouble() / 100);
        QCOMPARE(changed, adapter.target() != before);
        before = adapter.target();
        seen.append(adapter.target());
    }
    QCOMPARE(seen, targets);
}

void TestBitrateAdapter::ceilingChange_data()
{
    QTest::addColumn<bool>("reduced");
    QTest::addColumn<int>("ceiling");
    QTest::addColumn<int>("target");
    QTest::newRow("unreduced follows a higher level") << false << 1000000 << 1000000;
    QTest::newRow("unreduced follows a lower level") << false << 400000 << 400000;
    QTest::newRow("reduced stays reduced under a higher level") << true << 1000000 << 350000;
    QTest::newRow("reduced goes under a lower level") << true << 300000 << 300000;
}

void TestBitrateAdapter::ceilingChange()
{
    QFETCH(bool, reduced);
    QFETCH(int, ceiling);
    QFETCH(int, target);
    BitrateAdapter adapter(500000);
    if (reduced)
        adapter.slowLink(0);
    adapter.setCeiling(ceiling);
    QCOMPARE(adapter.target(), target);
    QCOMPARE(adapter.ceiling(), ceiling);
}

QTEST_GUILESS_MAIN(TestBitrateAdapter)
#include "tst_bitrateadapter.moc"
