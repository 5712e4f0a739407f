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
    void fitted_data();
    void fitted();
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
        for (const int count : {1, 2, 3, 5, 9})
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
    QCOMPARE(placement.tiles.size(), share || !staged ? count : count - 1);
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

QTEST_GUILESS_MAIN(TestCallLayout)
#include "tst_calllayout.moc"
