#include "engine/SpeakerStage.h"

#include <QTest>

/// Who has the stage as people start and stop speaking, on a clock the test moves.
class TestSpeakerStage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void staged_data();
    void staged();
    void byPriority_data();
    void byPriority();
};

void TestSpeakerStage::staged_data()
{
    // Each step: "<ms> +X" X starts speaking, "<ms> -X" X stops, "<ms> =X" X is on the stage
    // ("<ms> =" nobody).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("pinned");
    QTest::addColumn<QString>("self");
    QTest::newRow("nobody has spoken") << QStringList{"0 ="} << ""
                                       << "";
    QTest::newRow("the first speaker takes the stage at once") << QStringList{"0 +A", "0 =A"} << ""
                                                               << "";
    QTest::newRow("the next speaker waits for the hold")
        << QStringList{"0 +A", "0 =A", "500 -A", "600 +B", "2400 =A", "2500 =B"} << ""
        << "";
    QTest::newRow("a speaker who goes on keeps the stage")
        << QStringList{"0 +A", "0 =A", "100 +B", "9000 =A"} << ""
        << "";
    QTest::newRow("the stage moves a hold after the speaker stops")
        << QStringList{"0 +A", "0 =A", "100 +B", "5000 -A", "6999 =A", "7000 =B"} << ""
        << "";
    QTest::newRow("the last speaker stays in silence")
        << QStringList{"0 +A", "0 =A", "1000 -A", "60000 =A"} << ""
        << "";
    QTest::newRow("the latest to start takes the stage")
        << QStringList{"0 +A", "0 =A", "100 -A", "200 +B", "300 +C", "5000 =C"} << ""
        << "";
    QTest::newRow("a newcomer is held off for as long as the stage is young")
        << QStringList{"0 +A",    "0 =A",    "10 -A",   "20 +B",   "1999 =A",
                       "2010 =B", "2020 -B", "2030 +A", "4009 =B", "4020 =A"}
        << ""
        << "";
    QTest::newRow("own speech never takes the stage")
        << QStringList{"0 +S", "0 =", "100 +A", "100 =A", "200 -A", "300 +S", "9000 =A"} << ""
        << "S";
    QTest::newRow("a pin overrides the speaker")
        << QStringList{"0 +A", "0 =C", "100 -A", "200 +B", "9000 =C"} << "C"
        << "";
}

void TestSpeakerStage::staged()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, pinned);
    QFETCH(QString, self);
    SpeakerStage stage;
    for (const QString &step : std::as_const(steps)) {
        const qint64 at = step.section(u' ', 0, 0).toLongLong();
        const QString what = step.section(u' ', 1);
        const QString who = what.mid(1);
        if (what.startsWith(u'='))
            QVERIFY2(stage.staged(at, pinned, self) == who, qPrintable(step));
        else
            stage.setSpeaking(who, what.startsWith(u'+'), at);
    }
}

void TestSpeakerStage::byPriority_data()
{
    // Each step: "+X" X starts speaking, "-X" X stops.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("order");
    const QStringList everyone = {"A", "B", "C", "D", "E"};
    QTest::newRow("nobody has spoken") << QStringList() << QStringList() << everyone;
    QTest::newRow("the latest to start first, speaking or not")
        << QStringList{"+D", "+B", "-D", "-B", "+E"} << QStringList()
        << QStringList{"E", "B", "D", "A", "C"};
    QTest::newRow("speaking again moves up") << QStringList{"+C", "+D", "-C", "+C"} << QStringList()
                                             << QStringList{"C", "D", "A", "B", "E"};
    QTest::newRow("the kept before the speakers")
        << QStringList{"+D", "+B"} << QStringList{"E", "C"} << QStringList{"E", "C", "B", "D", "A"};
    QTest::newRow("a kept speaker once")
        << QStringList{"+D", "+B"} << QStringList{"B", "", "A", "B"}
        << QStringList{"B", "A", "D", "C", "E"};
    QTest::newRow("who left is left out")
        << QStringList{"+X", "+C"} << QStringList{"Y"} << QStringList{"C", "A", "B", "D", "E"};
}

/// Who gets the places on screen when not all fit: the kept (the pinned, the staged, oneself),
/// then the latest speakers, then the others in the roster's order.
void TestSpeakerStage::byPriority()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, order);
    SpeakerStage stage;
    for (const QString &step : std::as_const(steps))
        stage.setSpeaking(step.mid(1), step.startsWith(u'+'), 0);
    QCOMPARE(stage.byPriority({"A", "B", "C", "D", "E"}, kept), order);
    stage.clear();
    QCOMPARE(stage.byPriority({"A", "B", "C", "D", "E"}, {}),
             QStringList({"A", "B", "C", "D", "E"}));
}

QTEST_APPLESS_MAIN(TestSpeakerStage)
#include "tst_speakerstage.moc"
