#include "engine/media/BitrateAdapter.h"

#include <QRegularExpression>
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
    void degradesInOrder_data();
    void degradesInOrder();
    void floors_data();
    void floors();
};

namespace {

BitrateAdapter::Format parsed(const QString &text)
{
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[x@]")));
    return {parts.value(0).toInt(), parts.value(1).toInt(), parts.value(2).toInt()};
}

QString shown(const BitrateAdapter::Format &format)
{
    return QStringLiteral("%1x%2@%3").arg(format.width).arg(format.height).arg(format.fps);
}

} // namespace

void TestBitrateAdapter::follows_data()
{
    // Events "<ms>:<what>", what being slow (a slow-link report), loss<percent>, repair<percent>
    // (the share asked for again), or tick;
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
    QTest::newRow("after the calm spell, a step at each reading")
        << "0:slow 4000:tick 6000:tick 7000:tick" << QList<int>{350000, 385000, 423500, 423500};
    QTest::newRow("trouble restarts the calm spell")
        << "0:slow 3000:loss2 3500:slow 6000:tick 7600:tick"
        << QList<int>{350000, 350000, 245000, 245000, 269500};
    QTest::newRow("trouble held back still restarts the calm spell")
        << "0:slow 1000:slow 4500:tick 5000:tick" << QList<int>{350000, 350000, 350000, 385000};
    QTest::newRow("back to the level's rate, never above")
        << "0:slow 4000:tick 8000:tick 12000:tick 16000:tick 20000:tick"
        << QList<int>{350000, 385000, 423500, 465850, 500000, 500000};
    QTest::newRow("random loss that repair makes good holds the rate")
        << "0:repair8 500:slow 2500:slow" << QList<int>{500000, 500000, 500000};
    QTest::newRow("loss that outgrows repair steps down")
        << "0:repair8 500:slow 2000:repair30 2500:slow"
        << QList<int>{500000, 500000, 500000, 350000};
    QTest::newRow("with repair, only loss beyond it is trouble")
        << "0:repair12 0:loss15 2000:repair25 2000:loss25"
        << QList<int>{500000, 500000, 500000, 350000};
    QTest::newRow("held reports let a lowered rate climb back")
        << "0:slow 1000:repair5 2000:slow 4000:tick 6000:tick"
        << QList<int>{350000, 350000, 350000, 385000, 423500};
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
        else if (what.startsWith(u"repair"))
            adapter.repairReport(what.mid(6).toDouble() / 100);
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

void TestBitrateAdapter::degradesInOrder_data()
{
    // From the level's format at its rate, trouble every two seconds until nothing lower is
    // left: the formats the picture passes through; then calm back up through them in reverse.
    QTest::addColumn<bool>("share");
    QTest::addColumn<int>("ceiling");
    QTest::addColumn<QStringList>("formats");
    const QStringList small{"960x540@10", "640x360@10", "480x270@10", "320x180@10"};
    QTest::newRow("full HD: frame rate first, then size")
        << false << 2500000
        << QStringList{"1920x1080@30", "1920x1080@15", "1920x1080@10", "1280x720@10"} + small;
    QTest::newRow("720p at 15") << false << 1000000
                                << QStringList{"1280x720@15", "1280x720@10"} + small;
    QTest::newRow("540p at 10: only the size is left") << false << 700000 << small;
    QTest::newRow("270p at 30") << false << 400000
                                << QStringList{"480x270@30", "480x270@15", "480x270@10",
                                               "320x180@10"};
    QTest::newRow("a share keeps its size")
        << true << 2073000 << QStringList{"1920x1080@15", "1920x1080@10", "1920x1080@5"};
}

void TestBitrateAdapter::degradesInOrder()
{
    QFETCH(bool, share);
    QFETCH(int, ceiling);
    QFETCH(QStringList, formats);
    BitrateAdapter adapter(parsed(formats.first()), ceiling,
                           share ? BitrateAdapter::share() : BitrateAdapter::camera());
    QStringList down{shown(adapter.format())};
    qint64 at = 0;
    int rate = adapter.target();
    for (int i = 0; i < 100 && adapter.slowLink(at += 2000); ++i) {
        const BitrateAdapter::Format format = adapter.format();
        // The rate falls or the picture degrades at each step, never under the format's floor.
        QVERIFY(adapter.target() < rate || shown(format) != down.last());
        QVERIFY2(adapter.target() >= adapter.floorOf(format), qPrintable(shown(format)));
        if (shown(format) != down.last())
            down.append(shown(format));
        rate = adapter.target();
    }
    QCOMPARE(down, formats);
    QCOMPARE(adapter.target(), adapter.floorOf(adapter.format()));
    QStringList up{down.last()};
    for (int i = 0; i < 200 && adapter.tick(at += 4000); ++i) {
        QVERIFY(adapter.target() >= rate);
        QVERIFY(adapter.target() >= std::min(adapter.floorOf(adapter.format()), ceiling));
        if (shown(adapter.format()) != up.first())
            up.prepend(shown(adapter.format()));
        rate = adapter.target();
    }
    QCOMPARE(up, formats);
    QCOMPARE(adapter.target(), ceiling);
}

void TestBitrateAdapter::floors_data()
{
    QTest::addColumn<bool>("share");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("floor");
    QTest::newRow("full HD at 30") << false << "1920x1080@30" << 3110400;
    QTest::newRow("full HD at 10: never near 150 kbit/s") << false << "1920x1080@10" << 1036800;
    QTest::newRow("720p at 10") << false << "1280x720@10" << 460800;
    QTest::newRow("360p at 15") << false << "640x360@15" << 172800;
    QTest::newRow("a thumbnail's size at the lowest rate") << false << "320x180@10" << 30000;
    QTest::newRow("a full-HD share") << true << "1920x1080@15" << 1244160;
    QTest::newRow("a full-HD share, slower: the same") << true << "1920x1080@5" << 1244160;
    QTest::newRow("a small share") << true << "640x480@15" << 184320;
    QTest::newRow("a tiny share: the lowest rate") << true << "320x240@15" << 100000;
}

void TestBitrateAdapter::floors()
{
    QFETCH(bool, share);
    QFETCH(QString, format);
    QFETCH(int, floor);
    const BitrateAdapter adapter(parsed(format), 1000000,
                                 share ? BitrateAdapter::share() : BitrateAdapter::camera());
    QCOMPARE(adapter.floorOf(parsed(format)), floor);
}

QTEST_GUILESS_MAIN(TestBitrateAdapter)
#include "tst_bitrateadapter.moc"
