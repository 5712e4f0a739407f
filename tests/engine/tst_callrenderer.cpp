#include "AppLanguage.h"
#include "CallRenderer.h"
#include "EngineState.h"

#include <QDir>
#include <QPaintEngine>
#include <QTest>
#include <QWidget>

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
    void brokenStreamIsNamedOnItsTileOnly();
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
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", true)};
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

void TestCallRenderer::brokenStreamIsNamedOnItsTileOnly()
{
    AppLanguage languages;
    QVERIFY(languages.use(Language::Chinese));
    EngineState state;
    state.inConference = true;
    state.participants = {participant("sip:ann", "Ann", false), participant("sip:bo", "Bo", false),
                          participant("sip:cy", "Cy", false)};
    state.selfUri = "sip:ann";
    state.brokenStreams = {"sip:bo"};
    QWidget view;
    view.resize(960, 540);
    CallRenderer renderer(&view, state);
    TextDevice device(view.size());
    view.render(&device);
    QCOMPARE(device.text().count(QStringLiteral("音视频已中断")), 1);
    view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-broken-stream.png")));
}

QTEST_MAIN(TestCallRenderer)
#include "tst_callrenderer.moc"
