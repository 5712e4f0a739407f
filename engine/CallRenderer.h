#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QStaticText>
#include <QTimer>
#include <QWidget>

#include "engine/OwnedCallback.h"

#include <memory>

class QPainter;
struct EngineState;

/// Draws the call into the client's video view: a tile per participant with the name and the
/// microphone state (and a mark when the participant's connection is poor, which the view's
/// accessible description also says), the pinned participant large, the preview mode as the layout,
/// and the watched share named and, once its pictures arrive, drawn (pixel for pixel where it
/// fits, or filling its area after a double click on it). In a call of two the other fills the
/// view and the own picture lies small in a corner. No more tiles than can be read (16
/// at most): the pinned, the staged speaker, oneself and the latest speakers have places, the
/// others are counted on the last tile. The state learns which remote tiles are shown, and at
/// what size (EngineState::shownVideo). Lives on the view's (the application's) thread.
class CallRenderer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CallRenderer)

public:
    /// Lines of text laid out once, by font, width and text.
    using TextCache = QHash<QString, QStaticText>;
    /// What is drawn the same over each picture of a tile, drawn once.
    struct Caches
    {
        TextCache texts;
        QHash<QString, std::pair<QImage, QImage>> bands; ///< top and bottom, by size and state
    };

    CallRenderer(QWidget *view, EngineState &state);
    ~CallRenderer() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Scene;
    /// What the view is to show now, read from the state.
    Scene scene() const;
    /// A new picture redraws only its tile; anything else redraws the whole view.
    void requestRepaint();
    /// A double click at `at` on the watched share switches between its own size and filling
    /// its area; says whether it was on the share.
    bool switchShareFill(const QPoint &at);
    /// Redraws `rect` as soon as the screen can show it, together with whatever else is due.
    void repaintSoon(const QRect &rect);
    /// Lets the own pictures wait for the others' while those come at least as often.
    void pace();
    /// Pictures of the other participants and of the shares so far.
    qint64 otherPictureCount() const;
    void paint(const QRegion &region);
    /// Draws what of `scene` lies in `region` and notes in it where its tiles went.
    void draw(Scene &scene, const QRegion &region);
    /// Gives the tiles of `scene` their places in `area`: those that do not fit, none.
    void arrange(Scene &scene, const QRectF &area) const;
    void drawTiles(QPainter &p, const Scene &scene, const QRegion &region);
    /// Tells each stream the size its pictures are drawn at (none for those not drawn), and the
    /// state who is shown.
    void tellShown(const Scene &scene);
    void publishShown(const QHash<QString, QSize> &shown);

    QPointer<QWidget> m_view;
    EngineState &m_state;
    OwnedCallback m_repaint;          ///< the state's `repaint` while this renderer draws the view
    std::unique_ptr<Scene> m_painted; ///< the scene last drawn, with where its tiles went
    Caches m_caches;
    QHash<QString, QSize> m_shown; ///< the remote tiles on screen as last told the state
    QTimer m_pace;
    QRegion m_due;              ///< what new pictures wait to redraw
    QTimer m_frame;             ///< when the screen can show the next frame
    QElapsedTimer m_sincePaint; ///< since the view was last drawn
    qint64 m_ownCount = 0;      ///< the own stream's picture count at the last pace
    qint64 m_othersCount = 0;   ///< the other streams' picture count at the last pace
    double m_otherRate = 0;     ///< others' pictures per pace, evened out over a few paces
    double m_ownRate = 0;       ///< the own pictures per pace, likewise
};
