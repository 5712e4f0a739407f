#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>

/// Where the call's pictures go in the video area. Every tile has the 16:9 shape of the pictures
/// the engine sends, and any picture is fitted whole inside its place: never cut, never stretched.
/// No more tiles than `maxTiles`, and none smaller than `minimumTile` where the area allows: who
/// does not fit is counted on the last place instead ("+N").
class CallLayout final
{
public:
    enum class Arrangement {
        Grid,        ///< everyone alike, as large as fits
        StripBelow,  ///< the first one large, the others in a row along the bottom
        StripBeside, ///< the first one large, the others in a column at the right
        Share,       ///< a share large, everyone in a row along the bottom
        Corner,      ///< two: the first fills the area, the second small in its top right corner
    };

    struct Placement
    {
        QRectF stage;        ///< the large tile, or the share; empty in a grid
        QList<QRectF> tiles; ///< the other tiles, in order
        /// Participants without a place; when some, the last of `tiles` is where they are counted.
        int hidden = 0;
    };

    /// The shape of every tile: that of the camera pictures.
    static constexpr double tileAspect = 16.0 / 9.0;
    /// The most tiles on screen, the stage and the count of the hidden included.
    static constexpr int maxTiles = 16;
    /// The smallest tile whose name, microphone, speaking and poor-link marks can still be read.
    static constexpr QSizeF minimumTile{144, 81};
    /// Between the small tile of Corner and the edges of the area.
    static constexpr double cornerMargin = 8;
    /// Above the small tile of Corner: the large tile's status line and poor-link mark.
    static constexpr double cornerTop = 36;

    /// The places of `count` participants in `area`.
    static Placement place(const QRectF &area, int count, Arrangement arrangement);
    /// Where a picture of size `picture` is drawn in `place`: whole, centred, proportions kept.
    static QRectF fitted(const QSizeF &picture, const QRectF &place);
    /// Where a shared screen of size `picture` is drawn in `place`: pixel for pixel, centred on
    /// whole pixels, where it fits, so that small text stays as sharp as it was sent; fitted()
    /// where it does not, or wherever it is to `fill` its place.
    static QRectF shareShown(const QSizeF &picture, const QRectF &place, bool fill);
};
