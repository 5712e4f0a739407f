#include "engine/CallLayout.h"

#include <algorithm>
#include <cmath>

namespace {

using Arrangement = CallLayout::Arrangement;
constexpr double aspect = CallLayout::tileAspect;
constexpr QSizeF minimum = CallLayout::minimumTile;

/// The largest tile shape that fits `width` × `height`.
QSizeF tileWithin(double width, double height)
{
    return QSizeF(aspect, 1).scaled(QSizeF(std::max(width, 0.0), std::max(height, 0.0)),
                                    Qt::KeepAspectRatio);
}

bool readable(const QSizeF &tile)
{
    return tile.width() > minimum.width() - 0.5; // all tiles have the same shape
}

/// `count` tiles of `size` in a line from `start`, one `step` apart.
QList<QRectF> line(QPointF start, const QSizeF &size, QPointF step, int count)
{
    QList<QRectF> rects;
    for (int i = 0; i < count; ++i)
        rects.append(QRectF(start + i * step, size));
    return rects;
}

/// The number of columns that gives `count` tiles the largest size in `area`, and that size.
std::pair<int, QSizeF> bestColumns(const QRectF &area, int count)
{
    int columns = 1;
    QSizeF size;
    for (int c = 1; c <= count; ++c) {
        const int rows = (count + c - 1) / c;
        const QSizeF candidate = tileWithin(area.width() / c, area.height() / rows);
        if (candidate.width() > size.width() - 0.5) { // on a tie, side by side
            size = candidate;
            columns = c;
        }
    }
    return {columns, size};
}

/// How many places a grid of `count` has: all up to the most, fewer while its tiles would be
/// too small to read, but one participant and the count at least.
int gridPlaces(const QRectF &area, int count)
{
    int places = std::min(count, CallLayout::maxTiles);
    while (places > 2 && !readable(bestColumns(area, places).second))
        --places;
    return places;
}

/// `count` tiles alike, as large as fits, the rows centred.
QList<QRectF> grid(const QRectF &area, int count)
{
    const auto [columns, size] = bestColumns(area, count);
    const int rows = (count + columns - 1) / columns;
    const double top = area.top() + (area.height() - rows * size.height()) / 2;
    QList<QRectF> rects;
    for (int row = 0; row < rows; ++row) {
        const int inRow = std::min(columns, count - row * columns);
        const QPointF start(area.left() + (area.width() - inRow * size.width()) / 2,
                            top + row * size.height());
        rects += line(start, size, QPointF(size.width(), 0), inRow);
    }
    return rects;
}

/// How many of `count` tiles a strip `length` long holds, at most `most`: as many as are
/// readable side by side.
int stripPlaces(double length, double minimumLength, int count, int most)
{
    const int fit = std::max(1, int(std::floor(length / minimumLength + 0.001)));
    return std::min({count, fit, most});
}

/// The depth of a strip across an area `depth` deep: a quarter, or the readable minimum, but
/// never more than half.
double stripDepth(double depth, double minimumDepth)
{
    return std::min(std::max(depth / 4, minimumDepth), depth / 2);
}

/// Up to `most` of `count` small tiles in a row along the bottom of `area`, centred; `rest` is
/// what stays above them.
QList<QRectF> bottomRow(const QRectF &area, int count, int most, QRectF *rest)
{
    const int n = stripPlaces(area.width(), minimum.width(), count, most);
    const QSizeF size =
        tileWithin(area.width() / std::max(n, 1), stripDepth(area.height(), minimum.height()));
    *rest = area.adjusted(0, 0, 0, count > 0 ? -size.height() : 0);
    const QPointF start(area.left() + (area.width() - n * size.width()) / 2,
                        area.bottom() - size.height());
    return line(start, size, QPointF(size.width(), 0), count > 0 ? n : 0);
}

/// Up to `most` of `count` small tiles in a column along the right of `area`, centred; `rest`
/// is what stays beside them.
QList<QRectF> rightColumn(const QRectF &area, int count, int most, QRectF *rest)
{
    const int n = stripPlaces(area.height(), minimum.height(), count, most);
    const QSizeF size =
        tileWithin(stripDepth(area.width(), minimum.width()), area.height() / std::max(n, 1));
    *rest = area.adjusted(0, 0, count > 0 ? -size.width() : 0, 0);
    const QPointF start(area.right() - size.width(),
                        area.top() + (area.height() - n * size.height()) / 2);
    return line(start, size, QPointF(0, size.height()), count > 0 ? n : 0);
}

/// The small tile of Corner: a quarter of the area's width, the readable minimum at least,
/// never more than a quarter of the area, inside it, clear of the large tile's top line.
QRectF corner(const QRectF &area)
{
    const double margin = CallLayout::cornerMargin;
    double width = std::max(area.width() / 4, minimum.width());
    width = std::min(width, std::sqrt(area.width() * area.height() / 4 * aspect));
    const double top = area.height() - CallLayout::cornerTop - margin >= width / aspect
                           ? CallLayout::cornerTop
                           : margin;
    const QSizeF size =
        tileWithin(std::min(width, area.width() - 2 * margin), area.height() - top - margin);
    return QRectF(QPointF(area.right() - margin - size.width(), area.top() + top), size);
}

} // namespace

CallLayout::Placement CallLayout::place(const QRectF &area, int count, Arrangement arrangement)
{
    Placement placement;
    if (count <= 0 && arrangement != Arrangement::Share)
        return placement;
    if (arrangement == Arrangement::Corner && count > 2)
        arrangement = Arrangement::Grid;
    QRectF stageArea;
    int small = count; // participants in the tiles other than the stage
    switch (arrangement) {
    case Arrangement::Grid:
        placement.tiles = grid(area, gridPlaces(area, count));
        break;
    case Arrangement::Corner:
        placement.stage = area; // the picture is fitted whole into it as it is drawn
        if (count == 2)
            placement.tiles = {corner(area)};
        return placement;
    case Arrangement::Share:
        // The share is drawn fitted inside all that the row leaves.
        placement.tiles = bottomRow(area, count, maxTiles, &placement.stage);
        break;
    case Arrangement::StripBelow:
        small = count - 1;
        placement.tiles = bottomRow(area, small, maxTiles - 1, &stageArea);
        break;
    case Arrangement::StripBeside:
        small = count - 1;
        placement.tiles = rightColumn(area, small, maxTiles - 1, &stageArea);
        break;
    }
    if (placement.tiles.size() < small)
        placement.hidden = small - int(placement.tiles.size()) + 1;
    if (arrangement == Arrangement::StripBelow || arrangement == Arrangement::StripBeside)
        placement.stage = fitted(QSizeF(aspect, 1), stageArea);
    return placement;
}

QRectF CallLayout::fitted(const QSizeF &picture, const QRectF &place)
{
    if (picture.isEmpty())
        return place;
    QRectF target(QPointF(), picture.scaled(place.size(), Qt::KeepAspectRatio));
    target.moveCenter(place.center());
    return target;
}

QRectF CallLayout::shareShown(const QSizeF &picture, const QRectF &place, bool fill)
{
    if (fill || picture.isEmpty() || picture.width() > place.width() ||
        picture.height() > place.height())
        return fitted(picture, place);
    const QPointF corner = place.center() - QPointF(picture.width(), picture.height()) / 2;
    return QRectF(QPointF(std::floor(corner.x()), std::floor(corner.y())), picture);
}
