#include "engine/CallLayout.h"

#include <algorithm>
#include <cmath>

namespace {

using Arrangement = CallLayout::Arrangement;
constexpr double aspect = CallLayout::tileAspect;

/// The largest tile shape that fits `width` × `height`.
QSizeF tileWithin(double width, double height)
{
    return QSizeF(aspect, 1).scaled(QSizeF(std::max(width, 0.0), std::max(height, 0.0)),
                                    Qt::KeepAspectRatio);
}

/// `count` tiles of `size` in a line from `start`, one `step` apart.
QList<QRectF> line(QPointF start, const QSizeF &size, QPointF step, int count)
{
    QList<QRectF> rects;
    for (int i = 0; i < count; ++i)
        rects.append(QRectF(start + i * step, size));
    return rects;
}

/// Everyone alike: the number of columns that gives the largest tiles, the rows centred.
QList<QRectF> grid(const QRectF &area, int count)
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

/// `count` small tiles in a row along the bottom of `area`, at most a quarter of its height,
/// centred; `rest` is what stays above them.
QList<QRectF> bottomRow(const QRectF &area, int count, QRectF *rest)
{
    const QSizeF size = tileWithin(area.width() / std::max(count, 1), area.height() / 4);
    *rest = area.adjusted(0, 0, 0, count > 0 ? -size.height() : 0);
    const QPointF start(area.left() + (area.width() - count * size.width()) / 2,
                        area.bottom() - size.height());
    return line(start, size, QPointF(size.width(), 0), count);
}

/// `count` small tiles in a column along the right of `area`, at most a quarter of its width,
/// centred; `rest` is what stays beside them.
QList<QRectF> rightColumn(const QRectF &area, int count, QRectF *rest)
{
    const QSizeF size = tileWithin(area.width() / 4, area.height() / std::max(count, 1));
    *rest = area.adjusted(0, 0, count > 0 ? -size.width() : 0, 0);
    const QPointF start(area.right() - size.width(),
                        area.top() + (area.height() - count * size.height()) / 2);
    return line(start, size, QPointF(0, size.height()), count);
}

} // namespace

CallLayout::Placement CallLayout::place(const QRectF &area, int count, Arrangement arrangement)
{
    Placement placement;
    if (count <= 0 && arrangement != Arrangement::Share)
        return placement;
    QRectF stageArea;
    switch (arrangement) {
    case Arrangement::Grid:
        placement.tiles = grid(area, count);
        return placement;
    case Arrangement::Share:
        // The share is drawn fitted inside all that the row leaves.
        placement.tiles = bottomRow(area, count, &placement.stage);
        return placement;
    case Arrangement::StripBelow:
        placement.tiles = bottomRow(area, count - 1, &stageArea);
        break;
    case Arrangement::StripBeside:
        placement.tiles = rightColumn(area, count - 1, &stageArea);
        break;
    }
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
