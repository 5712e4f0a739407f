#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>

/// Where the call's pictures go in the video area. Every tile has the 16:9 shape of the pictures
/// the engine sends, and any picture is fitted whole inside its place: never cut, never stretched.
class CallLayout final
{
public:
    enum class Arrangement {
        Grid,        ///< everyone alike, as large as fits
        StripBelow,  ///< the first one large, the others in a row along the bottom
        StripBeside, ///< the first one large, the others in a column at the right
        Share,       ///< a share large, everyone in a row along the bottom
    };

    struct Placement
    {
        QRectF stage;        ///< the large tile, or the share; empty in a grid
        QList<QRectF> tiles; ///< the other tiles, in order
    };

    /// The shape of every tile: that of the camera pictures.
    static constexpr double tileAspect = 16.0 / 9.0;

    /// The places of `count` participants in `area`.
    static Placement place(const QRectF &area, int count, Arrangement arrangement);
    /// Where a picture of size `picture` is drawn in `place`: whole, centred, proportions kept.
    static QRectF fitted(const QSizeF &picture, const QRectF &place);
};
