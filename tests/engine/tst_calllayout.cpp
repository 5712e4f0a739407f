#include "engine/CallLayout.h"

#include <QTest>

using Arrangement = CallLayout::Arrangement;
Q_DECLARE_METATYPE(CallLayout::Arrangement)

namespace {

/// Pixels of rounding allowed at the edges.
constexpr double slack = 0.01;

double aspect(const QRectF &r)
{
    return r.width() / r.height();
}

bool inside(const QRectF &inner, const QRectF &outer)
{
    return outer.adjusted(-slack, -slack, slack, slack).contains(inner);
}

bool overlap(const QRectF &a, const QRectF &b)
{
    const QRectF common = a.intersected(b);
    return common.width() > slack && common.height() > slack;
}

} // namespace

/// The places of the call's tiles keep the pictures' shape, stay inside the video area and never
/// cover each other, whatever the number of participants and the size of the area.
class TestCallLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void place_data();
    void place();
    void corner_data();
    void corner();
    void largeCall_data();
    void largeCall();
    void fitted_data();
    void fitted();
    void shareShown_data();
    void shareShown();
};

void TestCallLayout::place_data()
{
    QTest::addColumn<Arrangement>("arrangement");
    QTest::addColumn<int>("count");
    QTest::addColumn<QRectF>("area");
    const QList<std::pair<const char *, Arrangement>> arrangements = {
        {"grid", Arrangement::Grid},
        {"strip below", Arrangement::StripBelow},
        {"strip beside", Arrangement::StripBeside},
        {"share", Arrangement::Share}};
    // The conference window's usual area, a square-ish one, and the extremes of resizing.
    const QList<QRectF> areas = {QRectF(0, 0, 800, 450), QRectF(0, 28, 680, 520),
                                 QRectF(0, 0, 1600, 300), QRectF(10, 10, 300, 900)};
    for (const auto &[name, arrangement] : arrangements)
        for (const int count : {1, 2, 3, 5, 9, 16, 17, 20})
            for (const QRectF &area : areas)
                QTest::addRow("%s, %d in %gx%g", name, count, area.width(), area.height())
                    << arrangement << count << area;
}

void TestCallLayout::place()
{
    QFETCH(Arrangement, arrangement);
    QFETCH(int, count);
    QFETCH(QRectF, area);
    const CallLayout::Placement placement = CallLayout::place(area, count, arrangement);

    const bool share = arrangement == Arrangement::Share;
    const bool staged = arrangement != Arrangement::Grid;
    // Who has no place is counted on the last one.
    const qsizetype placed = placement.tiles.size() - (placement.hidden > 0 ? 1 : 0);
    QCOMPARE(placed + placement.hidden, share || !staged ? count : count - 1);
    QVERIFY(placement.tiles.size() + (staged && !share) <= CallLayout::maxTiles);
    if (placement.hidden > 0)
        for (const QRectF &tile : placement.tiles)
            QVERIFY2(tile.width() > CallLayout::minimumTile.width() - slack,
                     qPrintable(QStringLiteral("tile %1 wide").arg(tile.width())));
    QCOMPARE(placement.stage.isEmpty(), !staged);
    QList<QRectF> all = placement.tiles;
    if (staged) {
        all.prepend(placement.stage);
        QVERIFY(inside(placement.stage, area));
    }
    if (staged && !share)
        QVERIFY2(qAbs(aspect(placement.stage) / CallLayout::tileAspect - 1) < 0.01,
                 qPrintable(QStringLiteral("stage %1x%2")
                                .arg(placement.stage.width())
                                .arg(placement.stage.height())));
    for (const QRectF &tile : placement.tiles) {
        QVERIFY(tile.width() > 0);
        QVERIFY2(qAbs(aspect(tile) / CallLayout::tileAspect - 1) < 0.01,
                 qPrintable(QStringLiteral("tile %1x%2").arg(tile.width()).arg(tile.height())));
        QVERIFY(inside(tile, area));
        if (staged)
            QVERIFY(tile.width() * tile.height() <=
                    placement.stage.width() * placement.stage.height());
    }
    for (int i = 0; i < all.size(); ++i)
        for (int j = i + 1; j < all.size(); ++j)
            QVERIFY2(!overlap(all[i], all[j]),
                     qPrintable(QStringLiteral("%1 and %2").arg(i).arg(j)));
    if (!staged) {
        // As large as fits: the grid spans the area's width or its height.
        QRectF bounds;
        for (const QRectF &tile : placement.tiles)
            bounds = bounds.united(tile);
        QVERIFY(bounds.width() > area.width() - 1 || bounds.height() > area.height() - 1);
    }
}

void TestCallLayout::corner_data()
{
    QTest::addColumn<QRectF>("area");
    // The default window, a large one, the extremes of resizing, and areas too small for both a
    // readable own tile and a quarter.
    for (const QRectF &area :
         {QRectF(0, 0, 455, 350), QRectF(0, 0, 1280, 720), QRectF(300, 20, 1920, 1080),
          QRectF(0, 28, 1600, 300), QRectF(10, 10, 300, 900), QRectF(0, 0, 288, 162),
          QRectF(0, 0, 200, 150), QRectF(0, 0, 640, 100)})
        QTest::addRow("%gx%g", area.width(), area.height()) << area;
}

/// In a call of two, the other fills the area and the own tile lies small in its top right
/// corner: readable, and never more than a quarter of the area.
void TestCallLayout::corner()
{
    QFETCH(QRectF, area);
    const CallLayout::Placement placement = CallLayout::place(area, 2, Arrangement::Corner);
    QCOMPARE(placement.stage, area);
    QCOMPARE(placement.tiles.size(), 1);
    QCOMPARE(placement.hidden, 0);
    const QRectF own = placement.tiles.first();
    const QString size = QStringLiteral("%1x%2").arg(own.width()).arg(own.height());
    QVERIFY2(inside(own, area.adjusted(CallLayout::cornerMargin, CallLayout::cornerMargin,
                                       -CallLayout::cornerMargin, -CallLayout::cornerMargin)),
             qPrintable(size));
    QVERIFY2(qAbs(own.right() - (area.right() - CallLayout::cornerMargin)) < slack,
             qPrintable(size));
    QVERIFY2(own.top() <= area.top() + CallLayout::cornerTop + slack, qPrintable(size));
    QVERIFY2(qAbs(aspect(own) / CallLayout::tileAspect - 1) < 0.01, qPrintable(size));
    const double quarter = area.width() * area.height() / 4;
    QVERIFY2(own.width() * own.height() <= quarter + slack, qPrintable(size));
    const QSizeF minimum = CallLayout::minimumTile;
    const bool roomy = quarter >= minimum.width() * minimum.height() &&
                       area.height() >= minimum.height() + 2 * CallLayout::cornerMargin;
    if (roomy)
        QVERIFY2(own.width() > minimum.width() - slack, qPrintable(size));
    // Alone, one's own picture fills the area.
    QCOMPARE(CallLayout::place(area, 1, Arrangement::Corner).stage, area);
}

void TestCallLayout::largeCall_data()
{
    QTest::addColumn<Arrangement>("arrangement");
    QTest::addColumn<int>("count");
    QTest::addColumn<QRectF>("area");
    QTest::addColumn<int>("places"); // the small tiles, the count of the hidden included
    QTest::addColumn<int>("hidden");
    const QRectF hd(0, 0, 1280, 720), small(0, 0, 455, 350);
    QTest::newRow("grid of 9") << Arrangement::Grid << 9 << hd << 9 << 0;
    QTest::newRow("grid of 16") << Arrangement::Grid << 16 << hd << 16 << 0;
    QTest::newRow("grid of 16, smaller")
        << Arrangement::Grid << 16 << QRectF(0, 0, 800, 450) << 16 << 0;
    QTest::newRow("grid of 17") << Arrangement::Grid << 17 << hd << 16 << 2;
    QTest::newRow("grid of 20") << Arrangement::Grid << 20 << hd << 16 << 5;
    QTest::newRow("grid of 60") << Arrangement::Grid << 60 << hd << 16 << 45;
    // 16 would be 113 pixels wide: 12 are readable.
    QTest::newRow("grid of 16, default window") << Arrangement::Grid << 16 << small << 12 << 5;
    QTest::newRow("strip below of 20") << Arrangement::StripBelow << 20 << hd << 8 << 12;
    QTest::newRow("strip below of 9") << Arrangement::StripBelow << 9 << hd << 8 << 0;
    QTest::newRow("strip below of 16, large")
        << Arrangement::StripBelow << 16 << QRectF(0, 0, 1920, 1080) << 13 << 3;
    QTest::newRow("strip below of 20, wide")
        << Arrangement::StripBelow << 20 << QRectF(0, 0, 2560, 1440) << 15 << 5;
    QTest::newRow("strip beside of 10") << Arrangement::StripBeside << 10 << hd << 8 << 2;
    QTest::newRow("strip below of 5, default window")
        << Arrangement::StripBelow << 5 << small << 3 << 2;
    QTest::newRow("share with 10") << Arrangement::Share << 10 << hd << 8 << 3;
}

/// A large call: up to 16 tiles, none too small to read, alike, inside the area, apart; who
/// does not fit is counted on the last.
void TestCallLayout::largeCall()
{
    QFETCH(Arrangement, arrangement);
    QFETCH(int, count);
    QFETCH(QRectF, area);
    QFETCH(int, places);
    QFETCH(int, hidden);
    const CallLayout::Placement placement = CallLayout::place(area, count, arrangement);
    QCOMPARE(placement.tiles.size(), places);
    QCOMPARE(placement.hidden, hidden);
    for (int i = 0; i < placement.tiles.size(); ++i) {
        const QRectF &tile = placement.tiles[i];
        QVERIFY(inside(tile, area));
        QCOMPARE(tile.size(), placement.tiles.first().size());
        QVERIFY2(tile.width() > CallLayout::minimumTile.width() - slack,
                 qPrintable(QStringLiteral("%1 wide").arg(tile.width())));
        QVERIFY(!overlap(tile, placement.stage));
        for (int j = i + 1; j < placement.tiles.size(); ++j)
            QVERIFY2(!overlap(tile, placement.tiles[j]),
                     qPrintable(QStringLiteral("%1 and %2").arg(i).arg(j)));
    }
}

void TestCallLayout::fitted_data()
{
    QTest::addColumn<QSizeF>("picture");
    QTest::addColumn<QRectF>("place");
    const QList<QSizeF> pictures = {QSizeF(640, 360), QSizeF(320, 240), QSizeF(1920, 800),
                                    QSizeF(360, 640)};
    const QList<QRectF> places = {QRectF(0, 0, 170, 450), QRectF(3, 31, 794, 416),
                                  QRectF(0, 0, 1600, 200), QRectF(5, 5, 160, 90)};
    for (const QSizeF &picture : pictures)
        for (const QRectF &place : places)
            QTest::addRow("%gx%g in %gx%g", picture.width(), picture.height(), place.width(),
                          place.height())
                << picture << place;
}

void TestCallLayout::fitted()
{
    QFETCH(QSizeF, picture);
    QFETCH(QRectF, place);
    const QRectF target = CallLayout::fitted(picture, place);
    QVERIFY(inside(target, place));
    QVERIFY(qAbs(aspect(target) / aspect(QRectF(QPointF(), picture)) - 1) < 0.001);
    // Letterboxed, not shrunk further: it fills the place one way or the other.
    QVERIFY(target.width() > place.width() - 1 || target.height() > place.height() - 1);
    QVERIFY(qAbs(target.center().x() - place.center().x()) < slack);
    QVERIFY(qAbs(target.center().y() - place.center().y()) < slack);
}

void TestCallLayout::shareShown_data()
{
    QTest::addColumn<QSizeF>("picture");
    QTest::addColumn<QRectF>("place");
    QTest::addColumn<bool>("fill");
    QTest::addColumn<QRectF>("shown");
    const QRectF area(3, 31.5, 1274, 560);
    QTest::newRow("smaller: pixel for pixel, on whole pixels")
        << QSizeF(1024, 500) << area << false << QRectF(128, 61, 1024, 500);
    QTest::newRow("as large") << QSizeF(1274, 560) << area << false << QRectF(3, 31, 1274, 560);
    QTest::newRow("wider: fitted")
        << QSizeF(1920, 1080) << area << false << CallLayout::fitted(QSizeF(1920, 1080), area);
    QTest::newRow("taller: fitted")
        << QSizeF(1000, 600) << area << false << CallLayout::fitted(QSizeF(1000, 600), area);
    QTest::newRow("smaller, filling its place")
        << QSizeF(1024, 500) << area << true << CallLayout::fitted(QSizeF(1024, 500), area);
    QTest::newRow("no picture yet") << QSizeF() << area << false << area;
}

/// A shared screen is shown at its own size where the area allows, so that its text is drawn
/// without scaling; larger, or at the viewer's wish, it is fitted.
void TestCallLayout::shareShown()
{
    QFETCH(QSizeF, picture);
    QFETCH(QRectF, place);
    QFETCH(bool, fill);
    QFETCH(QRectF, shown);
    QCOMPARE(CallLayout::shareShown(picture, place, fill), shown);
}

QTEST_GUILESS_MAIN(TestCallLayout)
#include "tst_calllayout.moc"
