#include "app/AppLanguage.h"
#include "engine/CallLayout.h"
#include "engine/CallRenderer.h"
#include "engine/EngineState.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>

using Language = AppLanguage::Language;

namespace {

/// Keeps the texts painted through it, and nothing else.
class TextEngine final : public QPaintEngine
{
public:
    TextEngine()
        : QPaintEngine(AllFeatures)
    {}
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override {}
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawImage(const QRectF &, const QImage &, const QRectF &,
                   Qt::ImageConversionFlags) override
    {}
    void drawPath(const QPainterPath &) override {}
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
    void drawRects(const QRectF *, int) override {}
    void drawTextItem(const QPointF &, const QTextItem &item) override
    {
        texts.append(item.text());
    }
    Type type() const override { return User; }

    QStringList texts;
};

/// A paint device of a widget's size that records what is written on it.
class TextDevice final : public QPaintDevice
{
public:
    explicit TextDevice(QSize size)
        : m_size(size)
    {}
    QPaintEngine *paintEngine() const override { return &m_engine; }
    /// Everything written, in order.
    QString text() const { return m_engine.texts.join(QString()); }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return m_size.width();
        case PdmHeight:
            return m_size.height();
        case PdmWidthMM:
            return m_size.width() * 254 / 960;
        case PdmHeightMM:
            return m_size.height() * 254 / 960;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return INT_MAX;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    QSize m_size;
    mutable TextEngine m_engine;
};

/// The part of `image` in `colour`.
double shareOf(const QImage &image, const QColor &colour)
{
    qint64 count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour;
    return double(count) / (double(image.width()) * image.height());
}

/// The part of what `view` shows on the screen (not a fresh rendering) in `colour`.
double onScreen(const QWidget &view, const QColor &colour)
{
    return shareOf(view.screen()->grabWindow(view.winId()).toImage(), colour);
}

/// The regions of a widget's paint events and when they came, when installed before the filter
/// that ends them.
struct PaintLog : QObject
{
    QList<QRect> painted;
    QList<qint64> atMs;
    QElapsedTimer clock;
    PaintLog() { clock.start(); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted.append(static_cast<QPaintEvent *>(event)->rect());
            atMs.append(clock.elapsed());
        }
        return false;
    }
};

EngineState::Participant participant(const QString &uri, const QString &name, bool micMuted)
{
    EngineState::Participant p;
    p.uri = uri;
    p.name = name;
    p.micMuted = micMuted;
    return p;
}

} // namespace

/// The engine draws into the client's video view, so what it writes there follows the language
/// the client has installed.
class TestCallRenderer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data();
    void texts();
    void speaker_data();
    void speaker();
    void poorLink_data();
    void poorLink();
    void interruptedStreamIsNamedOnItsTileOnly();
    void ownTileShowsWhatIsSent_data();
    void ownTileShowsWhatIsSent();
    void newPictureRedrawsItsTileOnly();
    void ownPicturesRideAlongOthers();
    void picturesAreDrawnAtTheScreensRate();
    void narrowTileKeepsNameAndDot();
    void twoPersonCall_data();
    void twoPersonCall();
    void largeCall_data();
    void largeCall();
    void grid_data();
    void grid();
    void viewGoesWhilePicturesArrive();
    void shareShownPixelForPixel_data();
    void shareShownPixelForPixel();
};

void TestCallRenderer::texts_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("absent");
    const QStringList english = {"● Microphone on", "● Microphone off", "Speaker off",
                                 "Watching share: Screen 1"};
    const QStringList chinese = {"● 麦克风已打开", "● 麦克风已关闭", "扬声器已关闭",
                                 "正在观看共享: Screen 1"};
    QTest::newRow("English, without media")
        << Language::English << QString::fromUtf8(EngineState::noMediaNote)
        << english + QStringList{"No audio or video"} << chinese + QStringList{"无音视频"};
    QTest::newRow("English, media lost")
        << Language::English << QString::fromUtf8(EngineState::mediaLostNote)
        << english + QStringList{"Audio and video interrupted"}
        << chinese + QStringList{"音视频已中断"};
    QTest::newRow("Chinese") << Language::Chinese << QString::fromUtf8(EngineState::mediaLostNote)
                             << chinese + QStringList{"音视频已中断"}
                             << english + QStringList{"Audio and video interrupted"};
}

void TestCallRenderer::texts()
{
    QFETCH(Language, language);
    QFETCH(QString, note);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, absent);
    AppLanguage languages;
    QVERIFY(languages.use(language));

    EngineState state;
    state.inConference = true;
    // Three: the own tile of a call of two is small, and says less.
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", true),
                          participant("sip:cy", "Cy", true)};
    state.selfUri = "sip:ann";
    state.speakerMuted = true;
    state.mediaNote = note;
    state.shares = {{"sip:bo", "Screen 1"}}; // named by the sharer's engine, in its language
    state.shownShare = 1;
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    TextDevice device(view.size());
    view.render(&device);

    const QString drawn = device.text();
    for (const QString &text : shown)
        QVERIFY2(drawn.contains(text), qPrintable(text + " in: " + drawn));
    for (const QString &text : absent)
        QVERIFY2(!drawn.contains(text), qPrintable(text + " in: " + drawn));
}

void TestCallRenderer::speaker_data()
{
    QTest::addColumn<QString>("speaking");
    QTest::addColumn<QString>("pinned");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("staged"); // whose picture is the large one; empty: all alike
    QTest::newRow("nobody speaks") << ""
                                   << "" << 0 << "";
    QTest::newRow("Cy speaks in the grid") << "sip:cy"
                                           << "" << 0 << "";
    QTest::newRow("Cy speaks, with a stage") << "sip:cy"
                                             << "" << 1 << "sip:cy";
    QTest::newRow("Cy speaks, with a stage beside") << "sip:cy"
                                                    << "" << 2 << "sip:cy";
    QTest::newRow("Bo speaks, Cy pinned") << "sip:bo"
                                          << "sip:cy" << 1 << "sip:cy";
    QTest::newRow("own speech takes no stage") << "sip:ann"
                                               << "" << 1 << "sip:bo";
}

/// The speaking participant's tile is outlined; unpinned, a layout with a stage gives the
/// speaker the large place.
void TestCallRenderer::speaker()
{
    QFETCH(QString, speaking);
    QFETCH(QString, pinned);
    QFETCH(int, mode);
    QFETCH(QString, staged);
    const QHash<QString, QColor> colours{{"sip:bo", QColor(0xd0, 0x40, 0x30)},
                                         {"sip:cy", QColor(0x30, 0xb0, 0x50)}};
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", false),
                          participant("sip:cy", "Cy", false)};
    state.selfUri = "sip:ann";
    state.pinnedUri = pinned;
    state.previewMode = mode;
    const qint64 now = SpeakerStage::clockMs();
    for (auto it = colours.cbegin(); it != colours.cend(); ++it) {
        QImage picture(160, 90, QImage::Format_RGB32);
        picture.fill(it.value());
        auto frames = std::make_shared<FrameSlot>();
        frames->put(picture);
        state.remoteVideo.insert(it.key(), frames);
    }
    if (!speaking.isEmpty())
        state.speakers.setSpeaking(speaking, true, now);
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    image.save(QDir::temp().filePath(QStringLiteral("orvale-speaker-%1.png").arg(tag)));

    QCOMPARE(shareOf(image, QColor(0x0a, 0x7c, 0xff)) > 0.001, !speaking.isEmpty());
    const double bo = shareOf(image, colours["sip:bo"]);
    const double cy = shareOf(image, colours["sip:cy"]);
    if (staged.isEmpty())
        QVERIFY2(qAbs(bo - cy) < 0.2 * bo, qPrintable(QStringLiteral("%1 %2").arg(bo).arg(cy)));
    else
        QVERIFY2((staged == u"sip:bo" ? bo / cy : cy / bo) > 3,
                 qPrintable(QStringLiteral("%1 %2").arg(bo).arg(cy)));
}

void TestCallRenderer::poorLink_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QStringList>("poor");
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("description");
    QTest::newRow("English, another's link")
        << Language::English << QStringList{"sip:bo"} << "Poor connection"
        << "Poor connection: Bo";
    QTest::newRow("Chinese, the own link")
        << Language::Chinese << QStringList{"sip:ann"} << "网络不佳"
        << "网络不佳: Ann";
    QTest::newRow("English, both")
        << Language::English << QStringList{"sip:ann", "sip:bo"} << "Poor connection"
        << "Poor connection: Bo, Ann";
    QTest::newRow("good links") << Language::English << QStringList() << QString() << QString();
}

/// A poor connection is marked on its tile in words, and said to assistive technology.
void TestCallRenderer::poorLink()
{
    QFETCH(Language, language);
    QFETCH(QStringList, poor);
    QFETCH(QString, mark);
    QFETCH(QString, description);
    AppLanguage languages;
    QVERIFY(languages.use(language));

    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", false)};
    state.selfUri = "sip:ann";
    state.poorLinks = QSet<QString>(poor.cbegin(), poor.cend());
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    TextDevice device(view.size());
    view.render(&device);

    const QString drawn = device.text();
    QCOMPARE(drawn.count(mark.isEmpty() ? QStringLiteral("Poor connection") : mark),
             mark.isEmpty() ? 0 : poor.size());
    QCOMPARE(view.accessibleDescription(), description);
}

void TestCallRenderer::interruptedStreamIsNamedOnItsTileOnly()
{
    AppLanguage languages;
    QVERIFY(languages.use(Language::Chinese));
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", false),
                          participant("sip:cy", "Cy", false)};
    state.selfUri = "sip:ann";
    state.interruptedMedia = {"sip:bo"};
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    TextDevice device(view.size());
    view.render(&device);
    QCOMPARE(device.text().count(QStringLiteral("音视频已中断")), 1);
}

void TestCallRenderer::ownTileShowsWhatIsSent_data()
{
    QTest::addColumn<bool>("cameraOff");
    QTest::addColumn<bool>("noneSent");
    QTest::newRow("camera sent") << false << false;
    QTest::newRow("camera switched off") << true << false;
    QTest::newRow("chosen camera gone") << false << true;
}

/// The own tile shows the picture the others see, and nothing when they see none.
void TestCallRenderer::ownTileShowsWhatIsSent()
{
    QFETCH(bool, cameraOff);
    QFETCH(bool, noneSent);
    const QColor own(0xc0, 0x60, 0x20);
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false)};
    state.selfUri = "sip:ann";
    state.cameraPrivacy = cameraOff;
    state.noCameraSent = noneSent;
    QImage picture(160, 90, QImage::Format_RGB32);
    picture.fill(own);
    state.cameraFrame.put(picture);
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    QCOMPARE(shareOf(image, own) > 0.1, !cameraOff && !noneSent);
}

/// A new picture redraws its tile only; a change of anything else a tile shows, the whole view.
void TestCallRenderer::newPictureRedrawsItsTileOnly()
{
    EngineState state;
    state.inConference = true;
    // Three: in a call of two the other's tile is the whole view.
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", false),
                          participant("sip:cy", "Cy", false)};
    state.selfUri = "sip:ann";
    const auto frames = std::make_shared<FrameSlot>();
    const auto put = [&frames](const QColor &colour) {
        QImage picture(160, 90, QImage::Format_RGB32);
        picture.fill(colour);
        frames->put(picture);
    };
    put(Qt::red);
    state.remoteVideo.insert("sip:bo", frames);
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    PaintLog regions;
    view.installEventFilter(&regions); // before the renderer's, which ends the event
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_VERIFY(!regions.painted.isEmpty());

    regions.painted.clear();
    put(Qt::blue);
    state.repaint();
    QTRY_VERIFY(!regions.painted.isEmpty());
    const QRect tile = regions.painted.last();
    QVERIFY2(tile.width() * tile.height() < view.width() * view.height() / 2,
             qPrintable(QStringLiteral("%1x%2").arg(tile.width()).arg(tile.height())));
    // The stream is asked for pictures as wide as the tile draws them, and no wider.
    QVERIFY(frames->shownWidth() > tile.width() / 2 && frames->shownWidth() <= tile.width());

    regions.painted.clear();
    state.participants[1].micMuted = true;
    state.repaint();
    QTRY_VERIFY(!regions.painted.isEmpty());
    QCOMPARE(regions.painted.last(), view.rect());
}

/// While another stream's pictures come as often (and only then), the own ones wait to be drawn
/// with them; when the others stop, the own tile is drawn on its own again. What is checked is
/// what reached the screen, not a fresh rendering.
void TestCallRenderer::ownPicturesRideAlongOthers()
{
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", false)};
    state.selfUri = "sip:ann";
    state.previewMode = 1;
    const auto remote = std::make_shared<FrameSlot>();
    state.remoteVideo.insert("sip:bo", remote);
    const auto picture = [](const QColor &colour) {
        QImage image(160, 90, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    };
    // As the streams do: the own picture tells the painter only while it does not ride along.
    const auto putOwn = [&state, &picture](const QColor &colour) {
        state.cameraFrame.put(picture(colour));
        if (!state.cameraFrame.ridesAlong())
            state.repaint();
    };
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QColor own(Qt::red);
    int n = 0;
    bool othersSlower = true; // the other stream skips every fourth picture
    QTimer streams;
    connect(&streams, &QTimer::timeout, &view, [&] {
        if (!othersSlower || ++n % 4) {
            remote->put(picture(n % 2 ? Qt::blue : Qt::darkBlue));
            state.repaint();
        }
        putOwn(own);
    });
    streams.start(40);
    // Riding along with a slower stream would slow the own tile down to its pace.
    bool rode = false;
    (void)QTest::qWaitFor([&] { return (rode = rode || state.cameraFrame.ridesAlong()); }, 1500);
    QVERIFY(!rode);
    othersSlower = false;
    QTRY_VERIFY(state.cameraFrame.ridesAlong());
    own = Qt::green;
    QTRY_VERIFY(onScreen(view, own) > 0.02);

    streams.stop();
    putOwn(Qt::yellow);
    QTRY_VERIFY(!state.cameraFrame.ridesAlong());
    QTRY_VERIFY(onScreen(view, Qt::yellow) > 0.02);
}

/// Pictures of several streams that come faster than the screen refreshes are drawn together,
/// and the last of each is drawn.
void TestCallRenderer::picturesAreDrawnAtTheScreensRate()
{
    EngineState state;
    state.inConference = true;
    const QList<QColor> last = {Qt::red, Qt::green, Qt::blue};
    QList<std::shared_ptr<FrameSlot>> streams;
    for (int i = 0; i < int(last.size()); ++i) {
        const QString uri = QStringLiteral("sip:%1").arg(i);
        state.participants.append(participant(uri, uri, false));
        streams.append(std::make_shared<FrameSlot>());
        state.remoteVideo.insert(uri, streams.last());
    }
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    PaintLog paints;
    view.installEventFilter(&paints);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QImage picture(160, 90, QImage::Format_RGB32);
    paints.painted.clear();
    paints.atMs.clear();
    for (int n = 0; n < 150; ++n) { // a picture every 2 ms, in turn; the last ones known
        picture.fill(n < 147 ? QColor::fromHsv(n, 255, 128) : last[n % 3]);
        streams[n % 3]->put(picture.copy());
        state.repaint();
        QTest::qWait(2);
    }
    for (const QColor &colour : last)
        QTRY_VERIFY(onScreen(view, colour) > 0.05);
    // No more paints than the screen frames they span, however slowly a busy machine brings the
    // pictures (the frame in whole milliseconds, as timers count).
    const qint64 frameMs = qint64(1000 / view.screen()->refreshRate());
    const double screenFrames = double(paints.atMs.last() - paints.atMs.first()) / frameMs;
    QVERIFY2(
        paints.painted.size() <= screenFrames + 2,
        qPrintable(
            QStringLiteral("%1 paints in %2 frames").arg(paints.painted.size()).arg(screenFrames)));
}

/// A tile too narrow for its status line shows the name and the microphone's dot, not a word cut
/// in half.
void TestCallRenderer::narrowTileKeepsNameAndDot()
{
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", true)};
    state.selfUri = "sip:ann";
    state.previewMode = 2; // the own tile in a narrow strip beside the stage
    QImage picture(160, 90, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    state.cameraFrame.put(picture);
    QWidget view;
    view.resize(480, 270);
    CallRenderer renderer(&view, state);
    TextDevice device(view.size());
    view.render(&device);
    QVERIFY2(device.text().contains(QStringLiteral("Ann  ●")), qPrintable(device.text()));
    QVERIFY2(!device.text().contains(QChar(0x2026)), qPrintable(device.text()));
}

void TestCallRenderer::twoPersonCall_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("pinned");
    QTest::addColumn<QString>("speaking");
    QTest::addColumn<bool>("share");
    for (const QSize size : {QSize(455, 350), QSize(1280, 720)}) {
        const int w = size.width(), h = size.height();
        QTest::addRow("%dx%d", w, h) << size << 0 << QString() << QString() << false;
        QTest::addRow("%dx%d, Bo speaks, stage below", w, h)
            << size << 1 << QString() << QStringLiteral("sip:bo") << false;
        QTest::addRow("%dx%d, Bo pinned, stage beside", w, h)
            << size << 2 << QStringLiteral("sip:bo") << QString() << false;
        QTest::addRow("%dx%d, a share watched", w, h)
            << size << 0 << QString() << QString() << true;
    }
}

/// In a call of two the other fills the area and the own picture lies small over its top right
/// corner, still named; a watched share keeps its own arrangement.
void TestCallRenderer::twoPersonCall()
{
    QFETCH(QSize, size);
    QFETCH(int, mode);
    QFETCH(QString, pinned);
    QFETCH(QString, speaking);
    QFETCH(bool, share);
    AppLanguage languages;
    QVERIFY(languages.use(Language::English));
    const QColor other(0xd0, 0x40, 0x30), own(0x30, 0xb0, 0x50);
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", true)};
    state.selfUri = "sip:ann";
    state.previewMode = mode;
    state.pinnedUri = pinned;
    if (!speaking.isEmpty())
        state.speakers.setSpeaking(speaking, true, SpeakerStage::clockMs());
    const auto picture = [](const QColor &colour) {
        QImage image(640, 360, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    };
    state.cameraFrame.put(picture(own));
    const auto bo = std::make_shared<FrameSlot>();
    bo->put(picture(other));
    state.remoteVideo.insert("sip:bo", bo);
    if (share) {
        state.shares = {{"sip:bo", "Screen 1"}};
        state.shownShare = 1;
        const auto screen = std::make_shared<FrameSlot>();
        screen->put(picture(Qt::darkBlue));
        state.shareVideo.insert("sip:bo", screen);
    }
    int told = 0;
    state.shownChanged = [&told] { ++told; };
    QWidget view;
    view.resize(size);
    CallRenderer renderer(&view, state);
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    image.save(QDir::temp().filePath(QStringLiteral("orvale-two-%1.png").arg(tag)));

    view.render(&image); // the same again: nothing new to tell
    QCOMPARE(told, 1);
    QCOMPARE(state.shownVideo.keys(), QList<QString>{"sip:bo"});
    const QSize shown = state.shownVideo.value("sip:bo");
    // The stream draws at the width its picture is fitted to in that box.
    const double fit = CallLayout::fitted(QSizeF(640, 360), QRectF(QPointF(), shown)).width();
    QVERIFY2(qAbs(bo->shownWidth() - fit) <= 2,
             qPrintable(QStringLiteral("%1 for %2").arg(bo->shownWidth()).arg(fit)));
    if (share) {
        QVERIFY(shown.width() < size.width() / 2);
        return;
    }
    QCOMPARE(shown, size - QSize(6, 6)); // the whole area
    QVERIFY2(shareOf(image, other) > 0.5, qPrintable(QString::number(shareOf(image, other))));
    // The own picture: in the top right corner, small.
    QRect ownPart;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == own)
                ownPart |= QRect(x, y, 1, 1);
    QVERIFY(!ownPart.isEmpty());
    QVERIFY2(ownPart.left() > size.width() / 2 && ownPart.bottom() < size.height() / 2,
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(ownPart.x())
                            .arg(ownPart.y())
                            .arg(ownPart.width())
                            .arg(ownPart.height())));
    QVERIFY(ownPart.width() >= CallLayout::minimumTile.width() - 10);
    // The marks over pictures are drawn once into images: the words are read without pictures.
    state.cameraPrivacy = true;
    state.remoteVideo.clear();
    view.render(&image);
    image.save(QDir::temp().filePath(QStringLiteral("orvale-two-%1-no-pictures.png").arg(tag)));
    TextDevice device(view.size());
    view.render(&device);
    QVERIFY2(device.text().contains(QStringLiteral("Ann● Microphone on")),
             qPrintable(device.text()));
    QCOMPARE(told, 1); // the same tiles in the same places
    // The call ends: nothing is shown.
    state.inConference = false;
    view.render(&image);
    QCOMPARE(told, 2);
    QVERIFY(state.shownVideo.isEmpty());
}

void TestCallRenderer::largeCall_data()
{
    QTest::addColumn<QStringList>("spoke"); // in turn, each stopped again
    QTest::addColumn<QString>("pinned");
    QTest::addColumn<QStringList>("shown"); // by number
    QTest::addColumn<QString>("more");
    QTest::addColumn<QSize>("small"); // the size told for the small tiles
    // Oneself is P16.
    const auto names = [](const QList<int> &numbers) {
        QStringList list;
        for (const int n : numbers)
            list.append(QStringLiteral("P%1").arg(n, 2, 10, QChar(u'0')));
        return list;
    };
    QTest::newRow("nobody has spoken")
        << QStringList() << "" << names({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16}) << "+5"
        << QSize(314, 174);
    QTest::newRow("the latest speakers are shown")
        << QStringList{"sip:p18", "sip:p20"} << ""
        << names({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 18, 20}) << "+5" << QSize(314, 174);
    QTest::newRow("the pinned on the stage, oneself and a speaker in the strip")
        << QStringList{"sip:p17"} << "sip:p19" << names({1, 2, 3, 4, 5, 16, 17, 19}) << "+12"
        << QSize(154, 84);
}

/// Twenty in a call: 16 places, the last counting those without one; the pinned, the speaker
/// and oneself have places, then the latest speakers; the media is told who is shown, at what
/// size, and those not shown are drawn at no width.
void TestCallRenderer::largeCall()
{
    QFETCH(QStringList, spoke);
    QFETCH(QString, pinned);
    QFETCH(QStringList, shown);
    QFETCH(QString, more);
    QFETCH(QSize, small);
    EngineState state;
    state.inConference = true;
    state.selfUri = "sip:p16";
    state.pinnedUri = pinned;
    QHash<QString, std::shared_ptr<FrameSlot>> streams;
    for (int n = 1; n <= 20; ++n) {
        const QString name = QStringLiteral("P%1").arg(n, 2, 10, QChar(u'0'));
        const QString uri = "sip:" + name.toLower();
        state.participants.append(participant(uri, name, n % 3 == 0));
        QImage picture(640, 360, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(n * 17, 160, 150));
        streams.insert(uri, std::make_shared<FrameSlot>());
        streams[uri]->put(picture);
        streams[uri]->setShownWidth(320); // as drawn before the call grew
        if (uri != state.selfUri)
            state.remoteVideo.insert(uri, streams[uri]);
    }
    state.cameraFrame.put(streams[state.selfUri]->latest().image);
    for (const QString &uri : spoke) {
        state.speakers.setSpeaking(uri, true, SpeakerStage::clockMs());
        state.speakers.setSpeaking(uri, false, SpeakerStage::clockMs());
    }
    QWidget view;
    view.resize(1280, 720);
    CallRenderer renderer(&view, state);
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    image.save(QDir::temp().filePath(QStringLiteral("orvale-twenty-%1.png").arg(tag)));

    QSet<QString> told;
    for (const EngineState::Participant &p : std::as_const(state.participants)) {
        const bool expected = shown.contains(p.name);
        if (p.uri != state.selfUri) {
            QCOMPARE(streams[p.uri]->shownWidth() > 0, expected);
            if (expected)
                told.insert(p.uri);
        }
    }
    QMutexLocker lock(&state.mutex);
    const QList<QString> keys = state.shownVideo.keys();
    QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()), told);
    for (auto it = state.shownVideo.cbegin(); it != state.shownVideo.cend(); ++it)
        if (it.key() != pinned)
            QCOMPARE(it.value(), small);
    lock.unlock();
    // The marks over pictures are drawn once into images: the names are read without pictures.
    state.cameraPrivacy = true;
    state.remoteVideo.clear();
    TextDevice device(view.size());
    view.render(&device);
    const QString drawn = device.text();
    QVERIFY2(drawn.contains(more), qPrintable(drawn));
    for (const EngineState::Participant &p : std::as_const(state.participants))
        QVERIFY2(drawn.contains(p.name) == shown.contains(p.name),
                 qPrintable(p.name + " in: " + drawn));
}

void TestCallRenderer::grid_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("more");
    const QSize small(455, 350), hd(1280, 720);
    QTest::newRow("4 in the default window") << 4 << small << 4 << "";
    QTest::newRow("9 in the default window") << 9 << small << 9 << "";
    QTest::newRow("16 in the default window") << 16 << small << 11 << "+5";
    QTest::newRow("20 in the default window") << 20 << small << 11 << "+9";
    QTest::newRow("4 at 1280x720") << 4 << hd << 4 << "";
    QTest::newRow("9 at 1280x720") << 9 << hd << 9 << "";
    QTest::newRow("16 at 1280x720") << 16 << hd << 16 << "";
}

/// Everyone alike, as many as can be read: each shown tile has its status line whole to the
/// microphone's dot, however long the name, beside a poor link or a speaker's border.
void TestCallRenderer::grid()
{
    QFETCH(int, count);
    QFETCH(QSize, size);
    QFETCH(int, shown);
    QFETCH(QString, more);
    AppLanguage languages;
    QVERIFY(languages.use(Language::English));
    EngineState state;
    state.inConference = true;
    state.selfUri = "sip:1";
    for (int n = 1; n <= count; ++n) {
        const QString uri = QStringLiteral("sip:%1").arg(n);
        const QString name = n % 4 == 2 ? QStringLiteral("Alexandra Konstantinopoulou %1").arg(n)
                                        : QStringLiteral("Person %1").arg(n);
        state.participants.append(participant(uri, name, n % 3 == 0));
        if (n % 5 == 3)
            state.poorLinks.insert(uri);
        QImage picture(640, 360, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(n * 23 % 360, 120, 140));
        if (n == 1)
            state.cameraFrame.put(picture);
        else
            state.remoteVideo.insert(uri, std::make_shared<FrameSlot>()).value()->put(picture);
    }
    state.speakers.setSpeaking("sip:2", true, SpeakerStage::clockMs());
    QWidget view;
    view.resize(size);
    CallRenderer renderer(&view, state);
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    image.save(QDir::temp().filePath(QStringLiteral("orvale-grid-%1.png").arg(tag)));
    QCOMPARE(state.shownVideo.size(), shown - 1);

    // The marks over pictures are drawn once into images: the words are read without pictures.
    state.cameraPrivacy = true;
    state.remoteVideo.clear();
    TextDevice device(view.size());
    view.render(&device);
    const QString drawn = device.text();
    QCOMPARE(drawn.count(QStringLiteral("●")), shown);
    QVERIFY2(more.isEmpty() || drawn.contains(more), qPrintable(drawn));
    QVERIFY2(drawn.contains(QStringLiteral("Person 1")), qPrintable(drawn)); // oneself
}

/// The view may go while streams bring pictures: a stream that took the repaint callback just
/// before calls into nothing that is gone, and the state forgets the callback.
void TestCallRenderer::viewGoesWhilePicturesArrive()
{
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", false)};
    state.selfUri = "sip:ann";
    const auto frames = std::make_shared<FrameSlot>();
    state.remoteVideo.insert("sip:bo", frames);
    QImage picture(160, 90, QImage::Format_RGB32);
    picture.fill(Qt::red);
    std::atomic<bool> done{false};
    std::atomic<int> taken{0}; // calls of a renderer's callback
    // As a stream does: the callback copied under the lock, then called with no lock held.
    const auto stream = [&] {
        while (!done) {
            std::function<void()> repaint;
            {
                QMutexLocker lock(&state.mutex);
                repaint = state.repaint;
            }
            frames->put(picture);
            if (repaint) {
                repaint();
                ++taken;
            }
        }
    };
    std::unique_ptr<QThread> streams[] = {std::unique_ptr<QThread>(QThread::create(stream)),
                                          std::unique_ptr<QThread>(QThread::create(stream))};
    for (const auto &thread : streams)
        thread->start();
    for (int n = 0; n < 1000; ++n) {
        auto view = std::make_unique<QWidget>();
        new CallRenderer(view.get(), state);
        // Until a stream surely called this renderer's callback; the streams need nothing of
        // this thread to do so.
        for (const int before = taken; taken <= before + 2;)
            QThread::yieldCurrentThread();
        view.reset(); // the renderer goes with its view
        QCoreApplication::processEvents();
    }
    done = true;
    for (const auto &thread : streams)
        thread->wait();
    QCoreApplication::processEvents(); // what the streams asked for last
    QMutexLocker lock(&state.mutex);
    QVERIFY(!state.repaint);
}

void TestCallRenderer::shareShownPixelForPixel_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("doubleClicks");
    QTest::addColumn<bool>("asSent"); // else fitted: as wide or as tall as the area
    QTest::newRow("smaller than the area") << QSize(640, 360) << 0 << true;
    QTest::newRow("smaller, double-clicked to fill") << QSize(640, 360) << 1 << false;
    QTest::newRow("double-clicked back") << QSize(640, 360) << 2 << true;
    QTest::newRow("larger than the area") << QSize(1920, 1080) << 0 << false;
}

/// A watched share is drawn pixel for pixel where it fits, so that small text stays sharp; a
/// double click on it makes it fill the area, another one brings it back.
void TestCallRenderer::shareShownPixelForPixel()
{
    QFETCH(QSize, picture);
    QFETCH(int, doubleClicks);
    QFETCH(bool, asSent);
    const QColor screen(0x20, 0x30, 0x90);
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", true)};
    state.selfUri = "sip:ann";
    state.shares = {{"sip:bo", "Screen 1"}};
    state.shownShare = 1;
    QImage sent(picture, QImage::Format_RGB32);
    sent.fill(screen);
    const auto pictures = std::make_shared<FrameSlot>();
    pictures->put(sent);
    state.shareVideo.insert("sip:bo", pictures);
    QWidget view;
    view.resize(1280, 720);
    CallRenderer renderer(&view, state);
    // On a screen of more pixels than points (the test also runs scaled), counted in pixels.
    const qreal ratio = view.devicePixelRatioF();
    QImage image(view.size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    view.render(&image);
    for (int i = 0; i < doubleClicks; ++i) {
        const QPointF middle(640, 250); // in the share's area, above the row of tiles
        QMouseEvent click(QEvent::MouseButtonDblClick, middle, view.mapToGlobal(middle),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(QCoreApplication::sendEvent(&view, &click));
        view.render(&image);
    }
    QRect shown;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == screen)
                shown |= QRect(x, y, 1, 1);
    // The stream is asked for pictures as wide as drawn, in pixels: none is made smaller.
    QVERIFY2(
        pictures->shownWidth() >= shown.width() - 2,
        qPrintable(QStringLiteral("%1 for %2").arg(pictures->shownWidth()).arg(shown.width())));
    if (asSent) {
        QCOMPARE(shown.size(), picture);
        return;
    }
    QVERIFY2(shown.size() != picture &&
                 qAbs(double(shown.width()) / shown.height() - 16.0 / 9) < 0.02,
             qPrintable(QStringLiteral("%1x%2").arg(shown.width()).arg(shown.height())));
    // Fitted: as wide as the view, or as tall as what the banner and the tiles leave.
    QVERIFY(shown.width() >= (view.width() - 2) * ratio || shown.height() > 360 * ratio);
}

QTEST_MAIN(TestCallRenderer)
#include "tst_callrenderer.moc"
