#include "engine/CallRenderer.h"

#include "engine/CallLayout.h"
#include "engine/EngineState.h"

#include <QEvent>
#include <QImage>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

using TextCache = CallRenderer::TextCache;

struct Tile
{
    QString uri;
    QString name;
    bool micMuted = false;
    bool large = false;
    bool self = false;
    bool speakerMuted = false; ///< only known for the own tile
    bool speaking = false;
    QImage camera;         ///< the local camera on the own tile, the received video on others
    QString note;          ///< why the call carries no media, or empty
    bool poorLink = false; ///< the participant's connection loses much or answers slowly
    std::shared_ptr<FrameSlot> pictures; ///< where `camera` came from, told the width drawn at
    int rank = 0; ///< when not all have a place, the lower ranks get them first
};

const QColor speakingColour(0x0a, 0x7c, 0xff);
const QColor viewBackground(0x1e, 0x20, 0x24);

/// A received picture older than this means the video stopped: the tile shows the name again.
constexpr qint64 staleVideoMs = 1000;
/// How often the own pictures' pace is weighed against the others'; also the longest the own
/// tile waits when the others stop.
constexpr int ownPaceMs = 250;

/// The fresh picture of `uri` in `videos`, or none.
QImage freshPicture(const QHash<QString, EngineState::Frames> &videos, const QString &uri)
{
    const EngineState::Frames frames = videos.value(uri);
    return frames ? frames->fresh(staleVideoMs) : QImage();
}

/// A picture whole in its place, on black where their shapes differ: letterboxed, never cut;
/// fitted, unless drawn at `shown`.
void drawPicture(QPainter &p, const QRectF &r, const QImage &image, const QRectF &shown = {})
{
    // Whole pixels: a fractional target sends the scaled picture down a slower path.
    QRect target = (shown.isNull() ? CallLayout::fitted(image.size(), r) : shown).toAlignedRect();
    // A picture made for its place, give or take a pixel, is copied rather than scaled.
    if (std::abs(target.width() - image.width()) <= 2 &&
        std::abs(target.height() - image.height()) <= 2)
        target = QRect(target.topLeft() + QPoint((target.width() - image.width()) / 2,
                                                 (target.height() - image.height()) / 2),
                       image.size());
    for (const QRect &bar : QRegion(r.toAlignedRect()).subtracted(target))
        p.fillRect(bar, Qt::black);
    p.drawImage(target, image);
}

/// What lies outside the rounded corners of `inner`, built directly: subtracting one path from
/// another on every picture cost more than drawing the picture.
QPainterPath corners(const QRectF &inner, qreal radius)
{
    QPainterPath path;
    const qreal d = 2 * radius;
    const auto corner = [&path, d](QPointF at, QRectF arc, qreal start) {
        path.moveTo(at);
        path.arcTo(arc, start, 90);
        path.closeSubpath();
    };
    corner(inner.topLeft(), QRectF(inner.left(), inner.top(), d, d), 90);
    corner(inner.topRight(), QRectF(inner.right() - d, inner.top(), d, d), 0);
    corner(inner.bottomRight(), QRectF(inner.right() - d, inner.bottom() - d, d, d), 270);
    corner(inner.bottomLeft(), QRectF(inner.left(), inner.bottom() - d, d, d), 180);
    return path;
}

/// The tile's name (where a picture hides the centred one), microphone, speaker and media, in
/// the client's language: the engine draws inside the client, whose translators are installed.
QString statusLine(const Tile &tile)
{
    QStringList parts;
    if (!tile.camera.isNull())
        parts << tile.name;
    parts << QStringLiteral("● ") + (tile.micMuted ? CallRenderer::tr("麦克风已关闭")
                                                   : CallRenderer::tr("麦克风已打开"));
    if (tile.self && tile.speakerMuted)
        parts << CallRenderer::tr("扬声器已关闭");
    if (!tile.note.isEmpty())
        parts << CallRenderer::tr(tile.note.toUtf8().constData());
    return parts.join(QStringLiteral("  "));
}

/// Top right: a signal of one bar lit of three, and the words (`text`), so that it is read, not
/// guessed; a small tile shows the signal alone, and the view's description says the words.
void drawPoorLink(QPainter &p, const QRectF &r, const QString &text)
{
    const QFontMetricsF metrics(p.font());
    const qreal barWidth = 3, gap = 2, height = metrics.height() - 4;
    const QRectF label(r.right() - 16 - metrics.horizontalAdvance(text), r.top() + 8,
                       metrics.horizontalAdvance(text), metrics.height());
    const QRectF box = label.adjusted(-(3 * barWidth + 2 * gap + 12), -2, 6, 2);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 160));
    p.drawRoundedRect(box, 4, 4);
    const QColor warning(0xf5, 0xa6, 0x23);
    for (int i = 0; i < 3; ++i) {
        const qreal h = height * (i + 1) / 3;
        const QRectF bar(box.left() + 6 + i * (barWidth + gap), label.center().y() + height / 2 - h,
                         barWidth, h);
        p.fillRect(bar, i == 0 ? warning : QColor(0x80, 0x80, 0x80));
    }
    p.setPen(warning);
    p.drawText(label, Qt::AlignCenter, text);
    p.restore();
}

/// The status line of `tile` in `width`: all of it, else the name and the microphone, else the
/// name cut short and the microphone's coloured dot, rather than half a word.
QString fittedStatus(const Tile &tile, const QFontMetrics &metrics, int width)
{
    const QString name = tile.camera.isNull() ? QString() : tile.name;
    const QString separator = name.isEmpty() ? QString() : QStringLiteral("  ");
    const QString microphone =
        QStringLiteral("● ") +
        (tile.micMuted ? CallRenderer::tr("麦克风已关闭") : CallRenderer::tr("麦克风已打开"));
    for (const QString &choice : {statusLine(tile), QString(name + separator + microphone)})
        if (metrics.horizontalAdvance(choice) <= width)
            return choice;
    const QString dot = separator + QStringLiteral("●");
    return metrics.elidedText(name, Qt::ElideRight, width - metrics.horizontalAdvance(dot)) + dot;
}

/// The status line of `tile` in `width` and `font`, laid out once: a picture redraws its tile
/// many times a second, and shaping the same line each time was a large part of drawing it.
const QStaticText &laidOut(TextCache &cache, const QFont &font, const Tile &tile, int width)
{
    const QString key = font.family() + u'\x1f' + QString::number(font.pointSizeF()) + u'\x1f' +
                        QString::number(width) + u'\x1f' + statusLine(tile) + u'\x1f' + tile.name +
                        u'\x1f' + QString::number(tile.camera.isNull());
    auto found = cache.find(key);
    if (found == cache.end()) {
        if (cache.size() > 64) // names, states and sizes come and go
            cache.clear();
        const QFontMetrics metrics(font);
        QStaticText laid(fittedStatus(tile, metrics, width));
        laid.setTextFormat(Qt::PlainText);
        laid.prepare(QTransform(), font);
        found = cache.insert(key, laid);
    }
    return *found;
}

/// Tells the stream of `picture` the width it is drawn at in `place`, in pixels of `ratio` to
/// the point: no larger one is made.
void askForWidth(const std::shared_ptr<FrameSlot> &pictures, const QImage &picture,
                 const QRectF &place, qreal ratio = 1)
{
    if (pictures && !picture.isNull())
        pictures->setShownWidth(
            qRound(CallLayout::fitted(picture.size(), place).toAlignedRect().width() * ratio));
}

/// What the status line keeps beside the poor-link mark's words, else the mark drops them.
constexpr qreal nameRoom = 64;

/// What lies over a tile's picture or background: the bar under the text (over a picture), the
/// rounded corners, the status line, the poor-link mark and the speaker's border.
void drawMarks(QPainter &p, const QRectF &r, const Tile &tile, TextCache &texts)
{
    const QRectF inner = r.adjusted(3, 3, -3, -3);
    if (!tile.camera.isNull()) {
        p.fillRect(QRectF(inner.left(), inner.top(), inner.width(), 26), QColor(0, 0, 0, 140));
        p.fillPath(corners(inner, 8), viewBackground);
    }
    QFont font = p.font();
    font.setPointSizeF(9);
    p.setFont(font);
    p.setPen(tile.micMuted ? QColor(0xf2, 0x6b, 0x6b) : QColor(0x6b, 0xd3, 0x8a));
    // Along the top: the client's control bar floats over the bottom of the area.
    QRectF line = r.adjusted(10, 8, -10, 0);
    if (tile.poorLink) {
        QString words = CallRenderer::tr("网络不佳");
        const qreal wordsWidth = QFontMetricsF(p.font()).horizontalAdvance(words);
        if (line.width() - wordsWidth - 30 < nameRoom)
            words.clear();
        drawPoorLink(p, r, words);
        line.setRight(line.right() - (words.isEmpty() ? 0 : wordsWidth) - 30);
    }
    p.drawStaticText(line.topLeft(), laidOut(texts, font, tile, int(line.width())));
    if (tile.speaking) { // a border in the accent colour, inside the tile's rounded edge
        QPainterPath border;
        border.addRoundedRect(inner, 8, 8);
        border.addRoundedRect(inner.adjusted(3, 3, -3, -3), 5, 5);
        p.fillPath(border, speakingColour);
    }
}

constexpr int topBand = 30;    ///< the bar, the text, the top corners and border
constexpr int bottomBand = 10; ///< the bottom corners and border

/// The marks over a picture, drawn once into a band along the top of the tile and one along its
/// bottom and laid over each new picture: drawing them anew each time cost more than the
/// picture. Between the bands, the border's sides are plain rectangles.
void drawMarksOverPicture(QPainter &p, const QRect &r, const Tile &tile,
                          CallRenderer::Caches &caches)
{
    const QRect inner = r.adjusted(3, 3, -3, -3);
    if (inner.height() < 2 * (topBand + bottomBand))
        return drawMarks(p, r, tile, caches.texts);
    const qreal ratio = p.device()->devicePixelRatioF();
    const QString key = QStringLiteral("%1x%2@%3 %4%5%6%7 ")
                            .arg(inner.width())
                            .arg(inner.height())
                            .arg(ratio)
                            .arg(p.font().family() + QString::number(p.font().pointSizeF()))
                            .arg(tile.micMuted)
                            .arg(tile.poorLink)
                            .arg(tile.speaking) +
                        statusLine(tile);
    if (!caches.bands.contains(key)) {
        if (caches.bands.size() > 32) // sizes and states come and go
            caches.bands.clear();
        const auto band = [&](int top, int height) {
            QImage image(QSize(inner.width(), height) * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setFont(p.font());
            painter.translate(-inner.left(), -top);
            drawMarks(painter, r, tile, caches.texts);
            return image;
        };
        caches.bands.insert(
            key, {band(inner.top(), topBand), band(inner.bottom() + 1 - bottomBand, bottomBand)});
    }
    const auto &[top, bottom] = caches.bands.value(key);
    p.drawImage(inner.topLeft(), top);
    p.drawImage(QPoint(inner.left(), inner.bottom() + 1 - bottomBand), bottom);
    if (tile.speaking) {
        const int height = inner.height() - topBand - bottomBand;
        p.fillRect(QRect(inner.left(), inner.top() + topBand, 3, height), speakingColour);
        p.fillRect(QRect(inner.right() - 2, inner.top() + topBand, 3, height), speakingColour);
    }
}

void drawTile(QPainter &p, const QRectF &place, const Tile &tile, CallRenderer::Caches &caches)
{
    if (!tile.camera.isNull()) {
        // Whole pixels, so that the marks drawn once fit each new picture exactly.
        const QRect r = place.toAlignedRect();
        // A rectangular clip keeps the scaled picture on the painter's fast path, which a
        // rounded clip leaves for a per-pixel mask on every frame; the corners are rounded after.
        p.save();
        p.setClipRect(r.adjusted(3, 3, -3, -3));
        drawPicture(p, r.adjusted(3, 3, -3, -3), tile.camera);
        p.restore();
        return drawMarksOverPicture(p, r, tile, caches);
    }
    QPainterPath path;
    path.addRoundedRect(place.adjusted(3, 3, -3, -3), 8, 8);
    p.fillPath(path, tile.large ? QColor(0x2b, 0x3a, 0x4f) : QColor(0x33, 0x36, 0x3d));
    p.save();
    p.setPen(QColor(0xe8, 0xea, 0xed));
    QFont font = p.font();
    font.setPointSizeF(tile.large ? 16 : 11);
    p.setFont(font);
    p.drawText(place.adjusted(10, 28, -10, -10), Qt::AlignCenter | Qt::TextWordWrap, tile.name);
    p.restore();
    drawMarks(p, place, tile, caches.texts);
}

/// The place of those who have none: a tile with their number, "+N".
void drawHidden(QPainter &p, const QRectF &place, int hidden)
{
    QPainterPath path;
    path.addRoundedRect(place.adjusted(3, 3, -3, -3), 8, 8);
    p.fillPath(path, QColor(0x33, 0x36, 0x3d));
    p.save();
    p.setPen(QColor(0xe8, 0xea, 0xed));
    QFont font = p.font();
    font.setPointSizeF(std::clamp(place.height() / 5, 11.0, 28.0));
    font.setBold(true);
    p.setFont(font);
    p.drawText(place, Qt::AlignCenter, QStringLiteral("+%1").arg(hidden));
    p.restore();
}

/// The tiles' marks are pictures: the view tells assistive technology in words.
void describePoorLinks(QWidget *view, const QList<Tile> &tiles)
{
    QStringList names;
    for (const Tile &tile : tiles)
        if (tile.poorLink)
            names.append(tile.name);
    const QString description =
        names.isEmpty() ? QString()
                        : CallRenderer::tr("网络不佳: %1").arg(names.join(QStringLiteral(", ")));
    if (view->accessibleDescription() != description)
        view->setAccessibleDescription(description);
}

/// Ranks `tiles` for the places on screen: `kept` first, then the latest speakers.
void rankTiles(QList<Tile> &tiles, const SpeakerStage &speakers, const QStringList &kept)
{
    QStringList uris;
    for (const Tile &tile : std::as_const(tiles))
        uris.append(tile.uri);
    const QStringList order = speakers.byPriority(uris, kept);
    QHash<QString, int> ranks;
    for (qsizetype i = 0; i < order.size(); ++i)
        ranks.insert(order[i], int(i));
    for (Tile &tile : tiles)
        tile.rank = ranks.value(tile.uri);
}

/// Which of `tiles` from `first` on get the `room` places: the lowest ranks, in their order.
QList<qsizetype> chosen(const QList<Tile> &tiles, qsizetype first, qsizetype room)
{
    QList<qsizetype> indices;
    for (qsizetype i = first; i < tiles.size(); ++i)
        indices.append(i);
    std::stable_sort(indices.begin(), indices.end(),
                     [&tiles](qsizetype a, qsizetype b) { return tiles[a].rank < tiles[b].rank; });
    indices.resize(std::clamp<qsizetype>(room, 0, indices.size()));
    std::sort(indices.begin(), indices.end());
    return indices;
}

} // namespace

struct CallRenderer::Scene
{
    QList<Tile> tiles;
    QString share;
    QImage sharePicture;
    std::shared_ptr<FrameSlot> sharePictures;
    bool shareFilled = false; ///< the share fills its area, rather than pixel for pixel
    int mode = 0;
    bool active = false;
    QList<QRectF> at;    ///< where each tile goes; empty for one without a place
    QList<QRect> places; ///< where each tile was drawn, for redrawing it
    QRect stage;         ///< where the share's picture was drawn
    QRectF more;         ///< where those without a place are counted
    CallLayout::Arrangement arrangement = CallLayout::Arrangement::Grid;
    bool staged = false; ///< the first tile is on the stage
    int hidden = 0;      ///< how many have no place

    /// Whether `other` draws the same but for the pictures themselves.
    bool sameLayout(const Scene &other) const
    {
        const auto shape = [](const QImage &i) { return i.isNull() ? QSize() : i.size(); };
        const auto sameTile = [&shape](const Tile &a, const Tile &b) {
            return a.uri == b.uri && a.name == b.name && a.micMuted == b.micMuted &&
                   a.large == b.large && a.self == b.self && a.speakerMuted == b.speakerMuted &&
                   a.speaking == b.speaking && a.note == b.note && a.poorLink == b.poorLink &&
                   a.rank == b.rank && shape(a.camera) == shape(b.camera);
        };
        return active == other.active && mode == other.mode && share == other.share &&
               shape(sharePicture) == shape(other.sharePicture) &&
               shareFilled == other.shareFilled &&
               std::equal(tiles.begin(), tiles.end(), other.tiles.begin(), other.tiles.end(),
                          sameTile);
    }
};

CallRenderer::CallRenderer(QWidget *view, EngineState &state)
    : QObject(view)
    , m_view(view)
    , m_state(state)
    , m_repaint([this] {
        QMetaObject::invokeMethod(
            this, [this] { requestRepaint(); }, Qt::QueuedConnection);
    })
{
    view->installEventFilter(this);
    view->setAttribute(Qt::WA_OpaquePaintEvent); // every pixel is drawn here
    m_pace.setInterval(ownPaceMs);
    connect(&m_pace, &QTimer::timeout, this, &CallRenderer::pace);
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, [this] { repaintSoon({}); });
    QMutexLocker lock(&state.mutex);
    state.repaint = m_repaint.function();
}

CallRenderer::~CallRenderer()
{
    publishShown({}); // nothing is on screen once the view goes
    {
        QMutexLocker lock(&m_state.mutex);
        if (m_repaint.handedOut(m_state.repaint))
            m_state.repaint = nullptr;
    }
    // The streams keep copies: from here on they call nothing, and none is still calling.
    m_repaint.revoke();
    m_state.cameraFrame.setRidesAlong(false); // no painter is left to draw it with others
}

bool CallRenderer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Paint) {
        paint(static_cast<QPaintEvent *>(event)->region());
        return true;
    }
    if (watched == m_view && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        return switchShareFill(static_cast<QMouseEvent *>(event)->position().toPoint());
    return QObject::eventFilter(watched, event);
}

bool CallRenderer::switchShareFill(const QPoint &at)
{
    if (!m_painted || m_painted->arrangement != CallLayout::Arrangement::Share ||
        !m_painted->stage.contains(at))
        return false; // the client's own use of the double click
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.shareFilled = !m_state.shareFilled;
    }
    m_view->update();
    return true;
}

void CallRenderer::requestRepaint()
{
    if (!m_view)
        return;
    const Scene now = scene();
    if (!m_painted || !now.sameLayout(*m_painted))
        return m_view->update();
    // Each stream brings its pictures at its own pace: drawing every tile for each was most of
    // what a call cost beyond its media.
    for (qsizetype i = 0; i < now.tiles.size() && i < m_painted->places.size(); ++i)
        if (!m_painted->places[i].isEmpty() &&
            now.tiles[i].camera.cacheKey() != m_painted->tiles[i].camera.cacheKey())
            repaintSoon(m_painted->places[i]);
    if (now.sharePicture.cacheKey() != m_painted->sharePicture.cacheKey())
        repaintSoon(m_painted->stage);
    if (!m_pace.isActive())
        m_pace.start();
}

void CallRenderer::repaintSoon(const QRect &rect)
{
    m_due += rect;
    // Pictures drawn faster than the screen refreshes are never seen: those of several streams
    // that come within one frame are drawn together.
    const double hertz = m_view && m_view->screen() ? m_view->screen()->refreshRate() : 60;
    const qint64 frameMs = qint64(1000 / std::clamp(hertz, 30.0, 240.0));
    const qint64 wait = m_sincePaint.isValid() ? frameMs - m_sincePaint.elapsed() : 0;
    if (wait > 0) {
        if (!m_frame.isActive())
            m_frame.start(int(wait));
        return;
    }
    m_frame.stop();
    if (m_view && !m_due.isEmpty())
        m_view->update(m_due);
    m_due = QRegion();
}

qint64 CallRenderer::otherPictureCount() const
{
    qint64 count = 0;
    QMutexLocker lock(&m_state.mutex);
    for (const auto *videos : {&m_state.remoteVideo, &m_state.shareVideo})
        for (const EngineState::Frames &frames : *videos)
            count += frames ? frames->latest().count : 0;
    return count;
}

void CallRenderer::pace()
{
    FrameSlot &own = m_state.cameraFrame;
    const qint64 count = own.latest().count, others = otherPictureCount();
    const qint64 ownPictures = count - m_ownCount;
    const qint64 otherPictures = std::max<qint64>(0, others - m_othersCount); // some may have left
    m_ownCount = count;
    m_othersCount = others;
    // Drawn in the same repaint as another stream's picture, the own one costs no wake-up and
    // no repaint of its own. The rates are evened out, so that the streams' jitter does not tell
    // a slower stream from an equal one; the others stopping ends the ride at once.
    m_otherRate += (double(otherPictures) - m_otherRate) / 4;
    m_ownRate += (double(ownPictures) - m_ownRate) / 4;
    const bool ride = ownPictures > 0 && otherPictures > 0 && m_otherRate >= 0.9 * m_ownRate;
    const bool rode = own.ridesAlong();
    own.setRidesAlong(ride);
    if (rode && !ride)
        requestRepaint(); // the last own picture may be waiting
    else if (!ride && ownPictures == 0)
        m_pace.stop(); // until pictures come again
}

CallRenderer::Scene CallRenderer::scene() const
{
    Scene scene;
    QList<Tile> &tiles = scene.tiles;
    {
        QMutexLocker lock(&m_state.mutex);
        scene.active = m_state.inConference;
        const int mode = scene.mode = m_state.previewMode;
        const qint64 now = FrameSlot::nowMs();
        // Unpinned, a layout with a stage gives it to the active speaker.
        const QString speaker = m_state.speakers.staged(now, {}, m_state.selfUri);
        const bool speakerStaged = m_state.pinnedUri.isEmpty() && mode != 0;
        for (const auto &p : std::as_const(m_state.participants)) {
            Tile tile;
            tile.uri = p.uri;
            tile.name = p.name;
            tile.micMuted = p.micMuted;
            tile.large = !m_state.pinnedUri.isEmpty() && p.uri == m_state.pinnedUri;
            tile.self = !m_state.selfUri.isEmpty() && p.uri == m_state.selfUri;
            tile.speaking = m_state.speakers.isSpeaking(p.uri);
            // A stopped stream's last picture would pass for a live one.
            const bool interrupted = m_state.interruptedMedia.contains(p.uri);
            if (tile.self)
                tile.speakerMuted = m_state.speakerMuted;
            if (interrupted) {
            } else if (tile.self) {
                // What the others see: nothing while the camera is off or none is sent.
                if (!m_state.cameraPrivacy && !m_state.noCameraSent)
                    tile.camera = m_state.cameraFrame.latest().image; // shared, not copied
                // The state outlives the renderer: the slot is not owned here.
                tile.pictures =
                    std::shared_ptr<FrameSlot>(std::shared_ptr<FrameSlot>(), &m_state.cameraFrame);
            } else {
                tile.pictures = m_state.remoteVideo.value(p.uri);
                tile.camera = freshPicture(m_state.remoteVideo, p.uri);
            }
            tile.note = !m_state.mediaNote.isEmpty() ? m_state.mediaNote
                        : interrupted                ? QString::fromUtf8(EngineState::mediaLostNote)
                                                     : QString();
            tile.poorLink = m_state.poorLinks.contains(p.uri);
            if (tile.large || (speakerStaged && p.uri == speaker))
                tiles.prepend(tile); // the pinned one, or the speaker, takes the large place
            else
                tiles.append(tile);
        }
        // Unpinned, the stage goes to someone else: nobody needs to watch themselves large.
        if (tiles.size() > 1 && !tiles.first().large && tiles.first().self)
            tiles.move(0, tiles.size() - 1);
        const bool stageFirst = mode != 0 || !m_state.pinnedUri.isEmpty();
        rankTiles(tiles, m_state.speakers,
                  {stageFirst && !tiles.isEmpty() ? tiles.first().uri : QString(),
                   m_state.pinnedUri, speaker, m_state.selfUri});
        if (m_state.shownShare > 0 && m_state.shownShare <= m_state.shares.size()) {
            const EngineState::Share &shown = m_state.shares[m_state.shownShare - 1];
            scene.share = shown.name;
            scene.sharePicture = freshPicture(m_state.shareVideo, shown.uri);
            scene.sharePictures = m_state.shareVideo.value(shown.uri);
            scene.shareFilled = m_state.shareFilled;
        }
    }
    return scene;
}

void CallRenderer::paint(const QRegion &region)
{
    Scene now = scene();
    // The scene moved on since the partial redraw was asked for: the rest of the view is old.
    if (region != QRegion(m_view->rect()) && m_painted && !now.sameLayout(*m_painted))
        m_view->update();
    draw(now, region);
    m_painted = std::make_unique<Scene>(std::move(now));
    m_sincePaint.start();
}

void CallRenderer::arrange(Scene &scene, const QRectF &area) const
{
    const QList<Tile> &tiles = scene.tiles;
    using Arrangement = CallLayout::Arrangement;
    const bool staged = scene.mode != 0 || (!tiles.isEmpty() && tiles.first().large);
    Arrangement arrangement = !staged           ? Arrangement::Grid
                              : scene.mode == 2 ? Arrangement::StripBeside
                                                : Arrangement::StripBelow;
    if (tiles.size() == 2)
        arrangement = Arrangement::Corner; // the other large, oneself small over them
    if (!scene.sharePicture.isNull())
        arrangement = Arrangement::Share; // the share takes the stage, everyone lines up below
    scene.arrangement = arrangement;
    const CallLayout::Placement placement = CallLayout::place(area, int(tiles.size()), arrangement);
    scene.stage = placement.stage.toAlignedRect();
    const qsizetype onStage =
        arrangement == Arrangement::Share || placement.stage.isEmpty() ? 0 : 1;
    const qsizetype room = placement.tiles.size() - (placement.hidden > 0 ? 1 : 0);
    scene.at = QList<QRectF>(tiles.size());
    scene.staged = onStage;
    if (onStage)
        scene.at[0] = placement.stage;
    const QList<qsizetype> small = chosen(tiles, onStage, room);
    for (qsizetype k = 0; k < small.size(); ++k)
        scene.at[small[k]] = placement.tiles[k];
    scene.hidden = placement.hidden;
    scene.more = placement.hidden > 0 ? placement.tiles.last() : QRectF();
    for (const QRectF &place : std::as_const(scene.at))
        scene.places.append(place.isEmpty() ? QRect()
                                            : place.toAlignedRect().adjusted(-1, -1, 1, 1));
}

void CallRenderer::tellShown(const Scene &scene)
{
    QHash<QString, QSize> shown;
    for (qsizetype i = 0; i < scene.tiles.size(); ++i) {
        const Tile &tile = scene.tiles[i];
        const QRectF box = scene.at[i].adjusted(3, 3, -3, -3);
        if (scene.at[i].isEmpty()) {
            if (tile.pictures)
                tile.pictures->setShownWidth(0); // not drawn
            continue;
        }
        askForWidth(tile.pictures, tile.camera, box);
        if (!tile.self)
            shown.insert(tile.uri, box.toAlignedRect().size());
    }
    // A share is drawn pixel for pixel on screens of more pixels than points too.
    askForWidth(scene.sharePictures, scene.sharePicture, scene.stage, m_view->devicePixelRatioF());
    publishShown(shown);
}

void CallRenderer::publishShown(const QHash<QString, QSize> &shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    std::function<void()> changed;
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.shownVideo = shown;
        changed = m_state.shownChanged;
    }
    if (changed)
        changed();
}

void CallRenderer::draw(Scene &scene, const QRegion &region)
{
    const QList<Tile> &tiles = scene.tiles;
    const QString &share = scene.share;
    describePoorLinks(m_view, tiles);
    QPainter p(m_view);
    p.setRenderHint(QPainter::Antialiasing);
    if (!scene.active) {
        publishShown({});
        return p.fillRect(m_view->rect(), viewBackground);
    }
    QRectF area = m_view->rect();
    const QRectF banner(area.x(), area.y(), area.width(), share.isEmpty() ? 0 : 28);
    area.setTop(banner.bottom());
    arrange(scene, area);
    tellShown(scene);
    const bool shareShown = scene.arrangement == CallLayout::Arrangement::Share;
    // The background only where no picture lies: each one covers its place.
    QRegion background(region);
    if (shareShown)
        background -= scene.stage.adjusted(1, 1, -1, -1);
    for (qsizetype i = 0; i < tiles.size(); ++i)
        if (!tiles[i].camera.isNull())
            background -= scene.places[i].adjusted(5, 5, -5, -5);
    for (const QRect &part : background)
        p.fillRect(part, viewBackground);
    if (!share.isEmpty()) {
        p.fillRect(banner, QColor(0x0a, 0x7c, 0xff));
        p.setPen(Qt::white);
        p.drawText(banner.adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   tr("正在观看共享: %1").arg(share));
    }
    if (shareShown && region.intersects(scene.stage))
        drawPicture(
            p, scene.stage, scene.sharePicture,
            CallLayout::shareShown(QSizeF(scene.sharePicture.size()) / m_view->devicePixelRatioF(),
                                   scene.stage, scene.shareFilled));
    drawTiles(p, scene, region);
}

void CallRenderer::drawTiles(QPainter &p, const Scene &scene, const QRegion &region)
{
    const bool corner = scene.arrangement == CallLayout::Arrangement::Corner;
    for (qsizetype i = 0; i < scene.tiles.size(); ++i) {
        if (scene.places[i].isEmpty() || !region.intersects(scene.places[i]))
            continue; // no place, or another stream's picture: its tile is as drawn
        Tile tile = scene.tiles[i];
        tile.large = scene.staged && i == 0;
        if (corner && i > 0) { // a frame parts it from the picture it lies over
            QPainterPath frame;
            frame.addRoundedRect(scene.at[i], 10, 10);
            p.fillPath(frame, viewBackground);
        }
        drawTile(p, scene.at[i], tile, m_caches);
    }
    if (scene.hidden > 0 && region.intersects(scene.more.toAlignedRect()))
        drawHidden(p, scene.more, scene.hidden);
}
