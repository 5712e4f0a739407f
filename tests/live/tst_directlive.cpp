#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/LiveModel.h"
#include "model/Preferences.h"
#include "net/NetWork.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHttpServer.h"
#include "ui/live/DirectLiveCellView.h"
#include "ui/live/DirectLiveList.h"
#include "ui/live/LiveVideoLayer.h"
#include "ui/live/PlayDirectLive.h"
#include "ui/widgets/ColorHelper.h"
#include "ui/widgets/MyButton.h"
#include "ui/widgets/MyView.h"
#include "ui/widgets/SliderCell.h"
#include "ui/widgets/Spinner.h"

#include <QAccessible>
#include <QApplication>
#include <QAudioOutput>
#include <QBuffer>
#include <QEnterEvent>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMediaPlayer>
#include <QNetworkAccessManager>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QThreadPool>

/// The live list, its rows and the player window against a scripted live service.
class TestDirectLive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void countdownText_data();
    void countdownText();
    void countdownFlow_data();
    void countdownFlow();
    void listReplies_data();
    void listReplies();
    void rowLook();
    void reusedRowCover_data();
    void reusedRowCover();
    void onePlayerAtATime();
    void volumeAndMute_data();
    void volumeAndMute();
    void playPause();
    void sidePanelAndFullScreen();
    void controlsFollowPointer_data();
    void controlsFollowPointer();
    void failedStream();

private:
    static QJsonObject broadcast(const QString &id, qint64 timestamp, const QString &image = {});
    static QByteArray body(const QJsonArray &list);
    std::unique_ptr<PlayDirectLive> openPlayer(qint64 timestamp, const QString &hls = {});
    DirectLiveCellView *cell(DirectLiveList &list, int row) const;

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<TestHttpServer> m_server;
};

QJsonObject TestDirectLive::broadcast(const QString &id, qint64 timestamp, const QString &image)
{
    QJsonObject object;
    object.insert(QStringLiteral("liveId"), id);
    object.insert(QStringLiteral("liveName"), QString(QStringLiteral("直播 ") + id));
    object.insert(QStringLiteral("liveStart"), QStringLiteral("2026-12-08 15:03"));
    object.insert(QStringLiteral("liveEnd"), QStringLiteral("2026-12-08 18:13"));
    QJsonArray images;
    if (!image.isEmpty())
        images.append(image);
    object.insert(QStringLiteral("liveImgs"), images);
    object.insert(QStringLiteral("hlsAddress"), QString());
    object.insert(QStringLiteral("timestamp"), timestamp);
    return object;
}

QByteArray TestDirectLive::body(const QJsonArray &list)
{
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

void TestDirectLive::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QStandardPaths::setTestModeEnabled(true);
}

void TestDirectLive::init()
{
    QSettings().clear();
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    Preferences().setLiveServiceUrl(m_server->baseUrl());
    AppUser::defaultUser()->coId = QStringLiteral("C001");
}

void TestDirectLive::cleanup()
{
    m_server.reset();
}

std::unique_ptr<PlayDirectLive> TestDirectLive::openPlayer(qint64 timestamp, const QString &hls)
{
    auto model = std::make_shared<LiveModel>();
    model->liveId = QStringLiteral("L9");
    model->liveName = QStringLiteral("季度会");
    model->timestamp = timestamp;
    model->hlsAddress = hls;
    auto window = std::make_unique<PlayDirectLive>(model);
    window->resize(960, 560);
    window->show();
    return window;
}

DirectLiveCellView *TestDirectLive::cell(DirectLiveList &list, int row) const
{
    return qobject_cast<DirectLiveCellView *>(
        list.tableView()->itemWidget(list.tableView()->item(row)));
}

void TestDirectLive::countdownText_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("numberStarts"); // every number run, then its length
    QTest::addColumn<QList<int>>("units");
    constexpr qint64 day = 86400000;
    QTest::newRow("one of each") << qint64(day + 3600000 + 60000 + 1000)
                                 << QStringLiteral(" 1 天  1 时  1 分  1 秒")
                                 << QList<int>{0, 2, 5, 2, 10, 2, 15, 2}
                                 << QList<int>{3, 8, 13, 18};
    QTest::newRow("two digits") << qint64(12 * day + 23 * 3600000 + 59 * 60000 + 59999)
                                << QStringLiteral("12 天 23 时 59 分 59 秒")
                                << QList<int>{0, 2, 5, 2, 10, 2, 15, 2} << QList<int>{3, 8, 13, 18};
    QTest::newRow("100 days") << qint64(100 * day + 5000)
                              << QStringLiteral("100 天  0 时  0 分  5 秒")
                              << QList<int>{0, 3, 6, 2, 11, 2, 16, 2} << QList<int>{4, 9, 14, 19};
    QTest::newRow("below a second")
        << qint64(999) << QStringLiteral(" 0 天  0 时  0 分  0 秒")
        << QList<int>{0, 2, 5, 2, 10, 2, 15, 2} << QList<int>{3, 8, 13, 18};
}

void TestDirectLive::countdownText()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QFETCH(QList<int>, numberStarts);
    QFETCH(QList<int>, units);
    QCOMPARE(PlayDirectLive::getWaitTime(ms), text);

    // The rich text shows the same characters with the numbers large and white and the units
    // in the main colour.
    QTextDocument document;
    document.setHtml(PlayDirectLive::waitTimeHtml(ms));
    QCOMPARE(document.toPlainText(), text);
    const auto formatAt = [&](int position) {
        QTextCursor cursor(&document);
        cursor.setPosition(position + 1);
        return cursor.charFormat();
    };
    for (qsizetype i = 0; i < numberStarts.size(); i += 2) {
        for (int p = numberStarts[i]; p < numberStarts[i] + numberStarts[i + 1]; ++p) {
            QCOMPARE(formatAt(p).fontPointSize(), 39.0);
            QCOMPARE(formatAt(p).foreground().color(), QColor(Qt::white));
        }
    }
    for (int p : units) {
        QCOMPARE(formatAt(p).foreground().color(), ColorHelper::mainColor());
        // The blanks around a unit keep the label's own size.
        QVERIFY(formatAt(p - 1).fontPointSize() != 39.0);
        if (p + 1 < text.size())
            QVERIFY(formatAt(p + 1).fontPointSize() != 39.0);
    }
}

void TestDirectLive::countdownFlow_data()
{
    QTest::addColumn<qint64>("modelTimestamp");
    QTest::addColumn<qint64>("replyTimestamp");
    QTest::addColumn<int>("ticks"); // ticks before playback; -1: close while counting
    QTest::newRow("started") << qint64(0) << qint64(0) << 0;
    QTest::newRow("started late") << qint64(-5) << qint64(0) << 0;
    QTest::newRow("one tick to zero") << qint64(10) << qint64(1000) << 1;
    QTest::newRow("below 1 ms after two ticks") << qint64(10) << qint64(1500) << 2;
    QTest::newRow("1 ms left after a tick") << qint64(10) << qint64(1001) << 2;
    QTest::newRow("closed while counting") << qint64(10) << qint64(3600000) << -1;
}

void TestDirectLive::countdownFlow()
{
    QFETCH(qint64, modelTimestamp);
    QFETCH(qint64, replyTimestamp);
    QFETCH(int, ticks);
    const QByteArray reply = "{\"timestamp\":" + QByteArray::number(replyTimestamp) + "}";
    m_server->enqueue({200, "application/json", reply});
    auto model = std::make_shared<LiveModel>();
    model->liveId = QStringLiteral("L7");
    model->timestamp = modelTimestamp;
    PlayDirectLive window(model);
    window.setTickInterval(60000); // shortened once the countdown has been seen
    window.show();
    QVERIFY(AppStatus::shareStatus()->isDirectLive());
    if (modelTimestamp <= 0) {
        QVERIFY(window.player());
        QVERIFY(window.waitTimeView()->isHidden());
        QVERIFY(window.waitView()->isAnimating());
        // No countdown asked: a request sent now, through the same connections as the
        // window's, is the first the server sees.
        NetWork::initWithJsonReturnUrlString(m_server->baseUrl() + QStringLiteral("/marker"), {});
        QTRY_COMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->requests().first().target, QByteArray("/marker"));
        return;
    }
    QVERIFY(!window.waitTimeView()->isHidden());
    QTRY_VERIFY(window.timer());
    QCOMPARE(m_server->requests().first().target,
             QByteArray("/rest/LiveService/getCountDownTime/C001/L7"));
    QCOMPARE(window.waitLabel()->text(), PlayDirectLive::waitTimeHtml(window.waitTime()));
    QVERIFY(!window.player());
    if (ticks < 0) {
        QPointer<QTimer> timer = window.timer();
        window.close();
        QVERIFY(!timer);
        QVERIFY(!window.timer());
        QVERIFY(!window.model());
        QVERIFY(!AppStatus::shareStatus()->isDirectLive());
        return;
    }
    window.timer()->setInterval(20);
    QTRY_VERIFY(window.player());
    QCOMPARE(window.waitTime(), replyTimestamp - 1000 * ticks);
    QVERIFY(window.waitTimeView()->isHidden());
    QVERIFY(!window.timer());
    QVERIFY(window.waitView()->isAnimating());
}

void TestDirectLive::listReplies_data()
{
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("notice"); // null: hidden
    const QJsonArray one{broadcast(QStringLiteral("L3"), 0)};
    QTest::newRow("array") << body(one) << 1 << QString();
    QTest::newRow("msg") << QByteArray(R"({"msg":"暂无直播"})") << 2 << QStringLiteral("暂无直播");
    QTest::newRow("empty array") << QByteArray("[]") << 0 << QString();
    QTest::newRow("not json") << QByteArray("<html>busy</html>") << 0 << QString();
}

void TestDirectLive::listReplies()
{
    QFETCH(QByteArray, second);
    QFETCH(int, rows);
    QFETCH(QString, notice);
    const QJsonArray two{broadcast(QStringLiteral("L1"), 0), broadcast(QStringLiteral("L2"), 500)};
    m_server->enqueue({200, "application/json", body(two)});
    for (int i = 0; i < 100; ++i) // every refresh, however many a loaded machine makes
        m_server->enqueue({200, "application/json", second});
    DirectLiveList list;
    list.setRefreshInterval(100);
    list.show();
    QVERIFY(list.isRefreshing());
    QTRY_COMPARE(list.tableView()->count(), 2);
    QCOMPARE(m_server->requests().first().target, QByteArray("/rest/LiveService/getLiveList/C001"));
    QTRY_VERIFY(m_server->requests().size() >= 2); // the refresh
    QTRY_COMPARE(list.noLiveLabel()->isVisible(), !notice.isNull());
    QTRY_COMPARE(list.tableView()->count(), rows);
    QCOMPARE(list.dataSourse().size(), rows);
    if (!notice.isNull())
        QCOMPARE(list.noLiveLabel()->text(), notice);
    list.hide();
    QVERIFY(!list.isRefreshing());
}

/// Whether the widget, as drawn, has a pixel of exactly `colour` (the core of a glyph).
static bool drawsColour(QWidget *widget, const QColor &colour)
{
    const QImage image = widget->grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).rgb() == colour.rgb())
                return true;
    return false;
}

static QByteArray png(const QColor &colour)
{
    QImage image(64, 36, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

void TestDirectLive::rowLook()
{
    const QByteArray red = png(Qt::red);
    const QJsonArray list{broadcast(QStringLiteral("L1"), 0, QStringLiteral("/live/images/L1.png")),
                          broadcast(QStringLiteral("L2"), 60000)};
    m_server->enqueue({200, "application/json", body(list)});
    m_server->enqueue({200, "image/png", red});
    DirectLiveList page;
    page.show();
    QTRY_COMPARE(page.tableView()->count(), 2);
    DirectLiveCellView *running = cell(page, 0);
    DirectLiveCellView *coming = cell(page, 1);
    QCOMPARE(running->name()->text(), QStringLiteral("直播 L1"));
    QCOMPARE(running->time()->text(), QStringLiteral(" 2026-12-08 15:03-18:13"));
    QCOMPARE(running->state()->text(), QStringLiteral("正在直播"));
    QVERIFY(drawsColour(running->state(), QColor(0, 198, 255)));
    QVERIFY(!drawsColour(running->state(), QColor(159, 159, 159)));
    QCOMPARE(coming->state()->text(), QStringLiteral("即将直播"));
    // The rows are widgets: screen readers get the name, state and time from the items.
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(page.tableView());
    QCOMPARE(table->child(0)->text(QAccessible::Name),
             QStringLiteral("直播 L1，正在直播，2026-12-08 15:03-18:13"));
    QCOMPARE(table->child(1)->text(QAccessible::Name).section(u'，', 0, 1),
             QStringLiteral("直播 L2，即将直播"));
    QVERIFY(drawsColour(coming->state(), QColor(159, 159, 159)));
    QVERIFY(!drawsColour(coming->state(), QColor(0, 198, 255)));
    QTRY_VERIFY(!running->shownImage().isNull());
    QCOMPARE(running->shownImage().pixel(5, 5), QColor(Qt::red).rgb());
    QCOMPARE(m_server->requests().at(1).target, QByteArray("/live/images/L1.png"));
    // Without a picture the row shows "playimg".
    QVERIFY(coming->shownImage().isNull());
    QVERIFY(!coming->backImage()->pixmap().isNull());

    // A refresh keeps the rows and the picture shown: nothing blinks.
    m_server->enqueue({200, "application/json", body(list)});
    m_server->enqueue({200, "image/png", red});
    const QImage shown = running->shownImage();
    QSignalSpy decoded(running, &DirectLiveCellView::pictureDecoded);
    page.getLiveList();
    QTRY_COMPARE(m_server->requests().size(), 4);
    QCOMPARE(cell(page, 0), running);
    QCOMPARE(running->model(), page.dataSourse().at(0));
    QTRY_COMPARE(decoded.size(), 1);
    QCOMPARE(running->shownImage().constBits(), shown.constBits()); // not replaced

    QCOMPARE(DirectLiveCellView::timeText(QStringLiteral("2026-01-02 9:05"),
                                          QStringLiteral("2026-01-03 10:00")),
             QStringLiteral(" 2026-01-02 9:05-10:00"));
}

void TestDirectLive::reusedRowCover_data()
{
    QTest::addColumn<bool>("late");        // the first cover arrives after the row was reused
    QTest::addColumn<QString>("newCover"); // the next broadcast's picture; empty: none
    QTest::newRow("shown, next cover fails") << false << QStringLiteral("/live/images/L5.png");
    QTest::newRow("late, next without cover") << true << QString();
    QTest::newRow("late, next cover fails") << true << QStringLiteral("/live/images/L5.png");
}

void TestDirectLive::reusedRowCover()
{
    QFETCH(bool, late);
    QFETCH(QString, newCover);
    TestHttpServer::Reply red(200, "image/png", png(Qt::red));
    red.held = late;
    m_server->enqueue(
        {200, "application/json",
         body({broadcast(QStringLiteral("L1"), 0, QStringLiteral("/live/images/L1.png"))})});
    m_server->enqueue(red);
    QSignalSpy finished(NetWork::manager(), &QNetworkAccessManager::finished);
    DirectLiveList page;
    page.setRefreshInterval(3600000);
    page.show();
    QTRY_COMPARE(page.tableView()->count(), 1);
    DirectLiveCellView *row = cell(page, 0);
    QTRY_COMPARE(m_server->requests().size(), 2);
    if (!late)
        QTRY_VERIFY(!row->shownImage().isNull());

    // The row is given another broadcast, whose picture cannot be had.
    m_server->enqueue(
        {200, "application/json", body({broadcast(QStringLiteral("L5"), 0, newCover)})});
    m_server->enqueue({404, "text/plain", "gone"});
    page.getLiveList();
    QTRY_COMPARE(row->name()->text(), QStringLiteral("直播 L5"));
    m_server->releaseHeld();
    // Every transfer is over and every picture decoded and handed back before looking.
    QTRY_COMPARE(finished.size(), m_server->requests().size());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QVERIFY(row->shownImage().isNull());
    const QImage drawn = row->backImage()->pixmap().toImage();
    QVERIFY(!drawn.isNull());
    QVERIFY(drawn.pixelColor(drawn.rect().center()) != QColor(Qt::red));
}

void TestDirectLive::onePlayerAtATime()
{
    const QJsonArray list{broadcast(QStringLiteral("L1"), 0), broadcast(QStringLiteral("L2"), 0)};
    m_server->enqueue({200, "application/json", body(list)});
    m_server->enqueue({200, "application/json", body(list)});
    DirectLiveList page;
    page.setRefreshInterval(3600000);
    page.show();
    QTRY_COMPARE(page.tableView()->count(), 2);

    cell(page, 0)->playButton()->click();
    QPointer<PlayDirectLive> first = page.playWindow();
    QVERIFY(first && first->isVisible());
    QCOMPARE(first->model(), page.dataSourse().at(0));
    QCOMPARE(first->windowTitle(), QStringLiteral("直播 L1"));
    QVERIFY(AppStatus::shareStatus()->isDirectLive());
    cell(page, 0)->playButton()->click(); // the same record: nothing happens
    QCOMPARE(page.playWindow(), first.data());
    QVERIFY(first->isVisible());

    cell(page, 1)->playButton()->click(); // another: the first one closes
    QVERIFY(!first);
    QCOMPARE(page.playWindow()->model(), page.dataSourse().at(1));
    const std::shared_ptr<LiveModel> before = page.dataSourse().at(1);

    page.getLiveList(); // a refresh makes new records: the same broadcast opens again
    QTRY_VERIFY(page.dataSourse().size() == 2 && page.dataSourse().at(1) != before);
    cell(page, 1)->playButton()->click();
    QCOMPARE(page.playWindow()->model(), page.dataSourse().at(1));
    QVERIFY(page.playWindow()->isVisible());

    page.playWindow()->close();
    QVERIFY(!AppStatus::shareStatus()->isDirectLive());
    QVERIFY(!page.playWindow()->model());
}

void TestDirectLive::volumeAndMute_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<double>("opening");
    QTest::newRow("unset") << QVariant() << 0.618;
    QTest::newRow("zero") << QVariant(0.0) << 0.618;
    QTest::newRow("stored") << QVariant(0.3) << 0.3;
}

void TestDirectLive::volumeAndMute()
{
    QFETCH(QVariant, stored);
    QFETCH(double, opening);
    if (stored.isValid())
        Preferences().setDirectLiveVolume(stored.toDouble());
    auto window = openPlayer(0);
    QCOMPARE(window->sliderValue(), opening);
    QCOMPARE(window->audioOutput()->volume(), float(opening));
    QVERIFY(!window->audioOutput()->isMuted());
    QCOMPARE(window->player()->audioOutput(), window->audioOutput());
    const QString soundLook = window->voiceButton()->currentImageName();

    window->voiceButton()->click();
    QVERIFY(window->audioOutput()->isMuted());
    QCOMPARE(window->sliderValue(), 0.0);
    const QString muteLook = window->voiceButton()->currentImageName();
    QVERIFY(muteLook != soundLook);
    window->voiceButton()->click();
    QVERIFY(!window->audioOutput()->isMuted());
    QCOMPARE(window->sliderValue(), opening);
    QCOMPARE(window->voiceButton()->currentImageName(), soundLook);

    window->slider()->setValue(0); // below 0.001 mutes
    QVERIFY(window->audioOutput()->isMuted());
    QCOMPARE(window->voiceButton()->currentImageName(), muteLook);
    QCOMPARE(Preferences().directLiveVolume(), 0.0);
    window->slider()->setValue(1); // 0.001
    QVERIFY(!window->audioOutput()->isMuted());
    window->changeVoice(0.0009);
    QVERIFY(window->audioOutput()->isMuted());
    window->slider()->setValue(450);
    QVERIFY(!window->audioOutput()->isMuted());
    QCOMPARE(window->audioOutput()->volume(), 0.45f);
    QCOMPARE(window->voiceButton()->currentImageName(), soundLook);
    QCOMPARE(Preferences().directLiveVolume(), 0.45);

    // Unmuting after the slider went to 0 brings back a volume that can be heard.
    window->slider()->setValue(0);
    window->voiceButton()->click();
    QVERIFY(!window->audioOutput()->isMuted());
    QCOMPARE(window->audioOutput()->volume(), 0.618f);
}

void TestDirectLive::playPause()
{
    auto window = openPlayer(0);
    MyButton *play = window->playButton();
    // Without a stream the player itself stays stopped; the end-to-end test plays one.
    const QString playingLook = play->currentImageName();
    const auto expectPlaying = [&](bool playing) {
        QCOMPARE(play->property("tag").toInt(),
                 playing ? PlayDirectLive::playingTag : PlayDirectLive::pausedTag);
        QCOMPARE(play->currentImageName() == playingLook, playing);
    };
    expectPlaying(true);
    play->click();
    expectPlaying(false);
    QVERIFY(!window->waitView()->isAnimating());
    play->click();
    expectPlaying(true);
    QTest::mouseClick(window->rightView(), Qt::LeftButton); // a click on the video
    expectPlaying(false);
    QTest::keyClick(window.get(), Qt::Key_Space);
    expectPlaying(true);
    QTest::mouseClick(window->controlView(), Qt::LeftButton, {}, QPoint(300, 20)); // the bar
    expectPlaying(true);
}

void TestDirectLive::sidePanelAndFullScreen()
{
    auto window = openPlayer(0);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect split = window->splitView()->rect();
    const auto expectPanel = [&](bool shown) {
        QCOMPARE(window->leftView()->isHidden(), !shown);
        QRect video = split;
        if (shown) {
            QCOMPARE(window->leftView()->geometry().topLeft(), split.topLeft());
            QCOMPARE(window->leftView()->height(), split.height());
            video.setLeft(window->leftView()->geometry().right() + 1);
        }
        QCOMPARE(window->rightView()->geometry(), video);
        QCOMPARE(window->playerLayer()->geometry(), window->rightView()->rect());
    };
    expectPanel(true);

    // The side-panel button lights up under the pointer and points the way the panel goes.
    MyButton *side = window->hideLeftButton();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QEvent leave(QEvent::Leave);
    const QString hideLook = side->currentImageName();
    QApplication::sendEvent(side, &enter);
    const QString hideHovered = side->currentImageName();
    QVERIFY(hideHovered != hideLook);
    side->click();
    expectPanel(false);
    QApplication::sendEvent(side, &leave);
    const QString showLook = side->currentImageName();
    QApplication::sendEvent(side, &enter);
    const QString showHovered = side->currentImageName();
    QCOMPARE(QSet<QString>({hideLook, hideHovered, showLook, showHovered}).size(), 4);
    side->click();
    expectPanel(true);
    QApplication::sendEvent(side, &leave);
    QCOMPARE(side->currentImageName(), hideLook);

    MyButton *full = window->fullScreenButton();
    const QString windowedLook = full->currentImageName();
    full->click();
    QTRY_VERIFY(window->isFullScreen());
    QVERIFY(full->currentImageName() != windowedLook);
    QVERIFY(window->leftView()->isHidden());
    full->click();
    QTRY_VERIFY(!window->isFullScreen());
    QCOMPARE(full->currentImageName(), windowedLook);
    QVERIFY(!window->leftView()->isHidden());

    // The description, or the placeholder without one.
    QCOMPARE(window->textView()->toPlainText(), QStringLiteral("  暂无简介"));
}

void TestDirectLive::controlsFollowPointer_data()
{
    QTest::addColumn<QString>("over"); // the part of the player the pointer moves over
    QTest::addColumn<bool>("countdown");
    QTest::newRow("video") << QStringLiteral("rightView") << false;
    QTest::newRow("play button") << QStringLiteral("playButton") << false;
    QTest::newRow("volume slider") << QStringLiteral("slider") << false;
    QTest::newRow("control bar") << QStringLiteral("controlView") << false;
    QTest::newRow("side-panel button") << QStringLiteral("hideLeftButton") << false;
    QTest::newRow("side panel") << QStringLiteral("leftView") << false;
    QTest::newRow("countdown") << QStringLiteral("waitLabel") << true;
}

void TestDirectLive::controlsFollowPointer()
{
    QFETCH(QString, over);
    QFETCH(bool, countdown);
    if (countdown)
        m_server->enqueue({200, "application/json", R"({"timestamp":3600000})"});
    auto window = openPlayer(countdown ? 3600000 : 0);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // A movement on the video shows the controls for an hour; a shorter delay set afterwards
    // applies from the next movement, so the controls hide soon only if the movement over
    // the part reached the player.
    window->setControlsHideDelay(3600000);
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(window->rightView(), &move);
    QVERIFY(window->controlView()->isVisible());
    window->setControlsHideDelay(20);
    auto *part = window->findChild<QWidget *>(over);
    QVERIFY(part && part->isVisible());
    QTest::mouseMove(part);
    QTRY_VERIFY(window->controlView()->isHidden());
    QVERIFY(window->hideLeftButton()->isHidden());
    QApplication::sendEvent(window->rightView(), &move);
    QVERIFY(window->controlView()->isVisible());
    QVERIFY(window->hideLeftButton()->isVisible());
}

void TestDirectLive::failedStream()
{
    // A stream address nobody serves: the indicator stays until the window closes.
    m_server->enqueue({404, "text/plain", "gone"});
    auto window = openPlayer(0, m_server->baseUrl() + QStringLiteral("/live/hls/index.m3u8"));
    QTRY_VERIFY_WITH_TIMEOUT(window->player()->error() != QMediaPlayer::NoError, 15000);
    QVERIFY(window->waitView()->isAnimating());
    // Pausing hides the indicator of a stream that plays, not the one of a failed stream.
    window->playButton()->click();
    QVERIFY(window->waitView()->isAnimating());
    window->close();
    QVERIFY(!window->waitView()->isAnimating());
}

QTEST_MAIN(TestDirectLive)
#include "tst_directlive.moc"
