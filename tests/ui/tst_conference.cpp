#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "tests/support/FakeEngine.h"
#include "tests/ui/UiHarness.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/conference/ScreenSouseViewController.h"
#include "ui/conference/ShareListInRoom.h"
#include "ui/conference/VideoView.h"
#include "ui/main/EnterByURLWindowController.h"
#include "ui/widgets/Popover.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/ViewHelper.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <cmath>

namespace CR = ConfRecords;

namespace {

struct Window
{
    QString application, title;
    quint32 id;
};

/// Answers the engine's participant requests with these names.
void answerParticipants(const QStringList &names)
{
    auto &engine = FakeEngine::instance();
    engine.setAnswer(CR::RequestParticipants, [count = int32_t(names.size())](QByteArray &r) {
        CR::writeI32(r, CR::Participants::Count, count);
        return 0u;
    });
    engine.setAnswer(CR::RequestParticipant, [names](QByteArray &r) {
        const int32_t i = CR::readI32(r, CR::Participants::Index);
        if (i < 0 || i >= names.size())
            return 1u;
        CR::writeText(r, CR::Participants::Uri, CR::TextWidth,
                      QStringLiteral("conf1-p%1;ws").arg(i));
        CR::writeText(r, CR::Participants::DisplayName, CR::Participants::DisplayNameWidth,
                      names[i]);
        return 0u;
    });
}

void answerSources(int screens, const QList<Window> &windows)
{
    FakeEngine::instance().setAnswer(CR::RequestShareSources, [screens, windows](QByteArray &r) {
        namespace S = CR::ShareSources;
        for (int i = 0; i < screens; ++i) {
            CR::writeText(r, S::ScreenIds + i * S::ScreenIdWidth, S::ScreenIdWidth,
                          QString::number(i + 1));
            CR::writeU32(r, S::ScreenRects + i * S::RectSize + 8, 1920);
            CR::writeU32(r, S::ScreenRects + i * S::RectSize + 12, 1080);
        }
        CR::writeU32(r, S::ScreenCount, uint32_t(screens));
        for (int i = 0; i < windows.size(); ++i) {
            CR::writeText(r, S::Titles + i * CR::TextWidth, CR::TextWidth, windows[i].title);
            CR::writeText(r, S::AppNames + i * CR::TextWidth, CR::TextWidth,
                          windows[i].application);
            CR::writeU32(r, S::WindowIds + i * 4, windows[i].id);
            CR::writeI32(r, S::WindowRects + i * S::RectSize, 10 * i);
            CR::writeU32(r, S::WindowRects + i * S::RectSize + 8, 800);
        }
        CR::writeU32(r, S::WindowCount, uint32_t(windows.size()));
        return 0u;
    });
}

void answerRemoteShares(const QStringList &names)
{
    FakeEngine::instance().setAnswer(CR::RequestGetRemoteShares, [names](QByteArray &r) {
        namespace R = CR::RemoteShare;
        for (int k = 1; k <= names.size(); ++k) {
            CR::writeText(r, R::Uris + k * CR::TextWidth, CR::TextWidth,
                          QStringLiteral("conf1-s%1;ws").arg(k));
            CR::writeText(r, R::Names + k * CR::TextWidth, CR::TextWidth, names[k - 1]);
        }
        CR::writeI32(r, R::Count, int32_t(names.size()));
        return 0u;
    });
}

} // namespace

/// The conference window, its control bar and pop-ups, and the guest dialog, on the fake engine.
class TestConference : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void titleLine_data();
    void titleLine();
    void participantRetry();
    void controlBarPlacement();
    void geometryReports();
    void sharePopupSize_data();
    void sharePopupSize();
    void shareRows();
    void shareSelection_data();
    void shareSelection();
    void remoteShares_data();
    void remoteShares();
    void toggles();
    void forcedMicrophone();
    void speakerCommands_data();
    void speakerCommands();
    void invitationForOwnerOnly();
    void leaving_data();
    void leaving();
    void guestName_data();
    void guestName();
    void guestJoin();

private:
    JoinConferenceWindowController *window() const
    {
        return JoinConferenceWindowController::sharedJoinWindow();
    }
    ControlWindowController *bar() const { return window()->controlWindowVc(); }
    /// The call starts: the engine reports it and the window comes up with its bar.
    void startCall();

    std::unique_ptr<UiHarness> m_app;
};

void TestConference::initTestCase()
{
    m_app = std::make_unique<UiHarness>(QString());
    ControlWindowController::setShareQRCodeWindowFactory([] { return new QWidget; });
}

void TestConference::init()
{
    m_app->launch();
    answerParticipants({QStringLiteral("演示用户")});
}

void TestConference::cleanup()
{
    QVERIFY(m_app->quit());
}

void TestConference::startCall()
{
    if (!bar()) {
        FakeEngine::instance().fire(CR::OutConferenceActive);
        QTRY_VERIFY(bar());
    }
    window()->showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(window()));
}

void TestConference::titleLine_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("title");
    QTest::newRow("a directory join") << "A"
                                      << "在A的房间里(3人)";
    QTest::newRow("a guest join") << ""
                                  << "房间里(3人)";
}

void TestConference::titleLine()
{
    QFETCH(QString, owner);
    QFETCH(QString, title);
    answerParticipants({QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三")});
    JoinConferenceViewController *content = window()->contentViewController();
    content->setDisplayName(owner);
    content->getContactsInConference();
    QCOMPARE(content->titleLabel()->text(), title);
    QCOMPARE(content->tableView()->count(), 3);
    QCOMPARE(content->tableView()->item(2)->text(), QStringLiteral("三"));
    QCOMPARE(content->contactsArray().size(), 3);
}

void TestConference::participantRetry()
{
    JoinConferenceViewController *content = window()->contentViewController();
    QCOMPARE(content->retryInterval(), std::chrono::seconds(2));
    content->setRetryInterval(std::chrono::milliseconds(50));
    auto restore = qScopeGuard([content] { content->setRetryInterval(std::chrono::seconds(2)); });
    content->setDisplayName(QString());
    answerParticipants({QStringLiteral("甲")});
    content->getContactsInConference();
    QCOMPARE(content->tableView()->count(), 1);
    answerParticipants({});
    content->getContactsInConference();
    QVERIFY(content->isRetryPending());
    QCOMPARE(content->tableView()->count(), 1); // not reloaded with nothing
    answerParticipants({QStringLiteral("甲"), QStringLiteral("乙")});
    QCOMPARE(content->tableView()->count(), 1); // only the retry asks again
    QTRY_COMPARE(content->tableView()->count(), 2);
    QCOMPARE(content->titleLabel()->text(), QStringLiteral("房间里(2人)"));
    QVERIFY(!content->isRetryPending());
}

void TestConference::controlBarPlacement()
{
    window()->resize(1100, 680);
    window()->move(100, 50);
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_VERIFY(bar());
    // Attached: over the video area, 5 narrower than it, 44 high, 20 above the bottom.
    const QRect frame = window()->geometry();
    const int videoWidth = window()->contentViewController()->videoView()->width();
    QCOMPARE(bar()->geometry(),
             QRect(frame.x() + 300, frame.bottom() + 1 - 20 - 44, videoWidth - 5, 44));
    startCall();
    QVERIFY(bar()->isVisible());
    window()->resize(1200, 700);
    QTRY_COMPARE(window()->contentViewController()->videoView()->width(), 1200 - 300);
    const QRect after = window()->geometry();
    QCOMPARE(bar()->geometry(), QRect(after.x() + 300, after.bottom() + 1 - 64, 900, 44));
    window()->move(after.topLeft() + QPoint(30, 40)); // the bar follows a move
    QTRY_COMPARE(bar()->pos(), window()->geometry().topLeft() + QPoint(300, 700 - 64));
}

void TestConference::geometryReports()
{
    QCOMPARE(window()->geometryDelay(), 0.5);
    window()->setGeometryDelay(0.05);
    auto restore = qScopeGuard([this] { window()->setGeometryDelay(0.5); });
    startCall();
    QTRY_COMPARE(window()->pendingAreaReports(), 0); // earlier reports are out of the way
    FakeEngine::instance().reset();
    const QList<QSize> sizes{{1000, 650}, {1050, 660}, {1110, 690}};
    for (const QSize &size : sizes)
        window()->resize(size);
    QCOMPARE(window()->pendingAreaReports(), 3); // one after each, a while later
    QVERIFY(FakeEngine::instance().calls(CR::RequestVideoArea).isEmpty());
    QTRY_COMPARE(FakeEngine::instance().calls(CR::EventVideoArea).size(), 3);
    const auto requests = FakeEngine::instance().calls(CR::RequestVideoArea);
    const auto events = FakeEngine::instance().calls(CR::EventVideoArea);
    QCOMPARE(requests.size(), 3);
    const VideoView *view = window()->contentViewController()->videoView();
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(requests[i].bytes.size(), 16);
        QCOMPARE(events[i].bytes, requests[i].bytes); // the same bytes, as the request left them
    }
    QCOMPARE(CR::readI32(events.last().bytes, 0), 0);
    QCOMPARE(CR::readI32(events.last().bytes, 4), 0);
    QCOMPARE(CR::readI32(events.last().bytes, 8), view->width());
    QCOMPARE(CR::readI32(events.last().bytes, 12), view->height());
    // Calls go request, event, request, event, ...
    QList<uint32_t> order;
    for (uint32_t id : FakeEngine::instance().ids())
        if (id == CR::RequestVideoArea || id == CR::EventVideoArea)
            order.append(id);
    constexpr uint32_t request = CR::RequestVideoArea, event = CR::EventVideoArea;
    QCOMPARE(order, (QList<uint32_t>{request, event, request, event, request, event}));
}

void TestConference::sharePopupSize_data()
{
    QTest::addColumn<int>("screens");
    QTest::addColumn<int>("windows");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("narrow");
    QTest::newRow("three rows") << 1 << 1 << "短" << 120 << true;
    QTest::newRow("eight rows") << 1 << 6 << "短" << 320 << true;
    QTest::newRow("nine rows") << 2 << 6 << "短" << 320 << true;
    QTest::newRow("only the cancel row") << 0 << 0 << "" << 40 << true;
    QTest::newRow("a long title") << 1 << 1 << QString(60, QChar(u'长')) << 120 << false;
}

void TestConference::sharePopupSize()
{
    QFETCH(int, screens);
    QFETCH(int, windows);
    QFETCH(QString, title);
    QFETCH(int, height);
    QFETCH(bool, narrow);
    QList<Window> list;
    for (int i = 0; i < windows; ++i)
        list.append({QStringLiteral("编辑器"), title, quint32(100 + i)});
    answerSources(screens, list);
    startCall();
    bar()->shareButton()->click();
    Popover *popover = bar()->sharePopover();
    QVERIFY(popover->isVisible());
    auto *content = qobject_cast<ScreenSouseViewController *>(popover->content());
    QVERIFY(content);
    const int rows = screens + windows + 1;
    QCOMPARE(content->dataSourse().size(), rows);
    const int expectedHeight = rows == 8 ? 320 : height; // eight rows are 320 as well
    QCOMPARE(int(content->maxHight()), rows < 9 ? rows * 40 : 320);
    QCOMPARE(int(content->maxHight()), expectedHeight);
    QFont font = QApplication::font();
    font.setPointSizeF(16);
    const double text =
        QFontMetricsF(font).boundingRect(QStringLiteral("  编辑器-") + title).width();
    const int width = narrow ? 410 : int(std::ceil(text + 10));
    QCOMPARE(int(content->maxWidth()), width);
    QCOMPARE(popover->size(), QSize(width + 2, int(content->maxHight()) + 2));
    popover->close();
}

void TestConference::shareRows()
{
    answerSources(1, {{QStringLiteral("Orvale"), QStringLiteral("会议"), 1},
                      {QCoreApplication::applicationName(), QStringLiteral("会议"), 2},
                      {QStringLiteral("Google Chrome"), QStringLiteral(" "), 3},
                      {QStringLiteral("Google Chrome"), QStringLiteral("Docs"), 4},
                      {QStringLiteral("终端"), QStringLiteral(" "), 5}});
    startCall();
    bar()->shareButton()->click();
    auto *content = qobject_cast<ScreenSouseViewController *>(bar()->sharePopover()->content());
    QVERIFY(content);
    QStringList texts;
    for (int row = 0; row < content->tableView()->count(); ++row)
        texts.append(content->tableView()->item(row)->text());
    QCOMPARE(texts,
             (QStringList{QStringLiteral("  共享屏幕-全屏"), QStringLiteral("  Google Chrome-Docs"),
                          QStringLiteral("  终端"), QStringLiteral("  取消-屏幕共享")}));
    bar()->sharePopover()->close();
}

void TestConference::shareSelection_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<uint32_t>("event");
    QTest::addColumn<uint32_t>("kind");
    QTest::addColumn<uint32_t>("id");
    namespace C = CR::ShareCommand;
    QTest::newRow("the screen") << 0 << CR::EventShare << C::KindScreen << 1u;
    QTest::newRow("a window") << 1 << CR::EventShare << C::KindWindow << 77u;
    QTest::newRow("cancel") << 2 << CR::EventStopShare << 0u << 0u;
}

void TestConference::shareSelection()
{
    QFETCH(int, row);
    QFETCH(uint32_t, event);
    QFETCH(uint32_t, kind);
    QFETCH(uint32_t, id);
    answerSources(1, {{QStringLiteral("编辑器"), QStringLiteral("文档"), 77}});
    startCall();
    bar()->shareButton()->click();
    auto *content = qobject_cast<ScreenSouseViewController *>(bar()->sharePopover()->content());
    content->tableView()->setCurrentRow(row);
    QVERIFY(!bar()->sharePopover()->isVisible()); // the first selection acts and closes
    const auto calls = FakeEngine::instance().calls(event);
    QCOMPARE(calls.size(), 1);
    if (event == CR::EventStopShare) {
        QVERIFY(calls.first().bytes.isEmpty());
        return;
    }
    namespace C = CR::ShareCommand;
    QCOMPARE(calls.first().bytes.size(), C::Size);
    QCOMPARE(CR::readU32(calls.first().bytes, C::Kind), kind);
    QCOMPARE(CR::readU32(calls.first().bytes, C::Id), id);
    QCOMPARE(CR::readText(calls.first().bytes, C::ScreenId, C::ScreenIdWidth),
             kind == C::KindScreen ? QStringLiteral("1") : QString());
}

void TestConference::remoteShares_data()
{
    QTest::addColumn<QStringList>("shares");
    QTest::addColumn<int>("row");
    QTest::addColumn<int32_t>("index");
    QTest::addColumn<QString>("uri");
    QTest::newRow("none: stop watching") << QStringList() << 0 << 0 << "";
    QTest::newRow("the second share") << QStringList{"屏幕 1", "窗口 7"} << 1 << 2 << "conf1-s2;ws";
    QTest::newRow("stop watching") << QStringList{"屏幕 1", "窗口 7"} << 2 << 0 << "";
}

void TestConference::remoteShares()
{
    QFETCH(QStringList, shares);
    QFETCH(int, row);
    QFETCH(int32_t, index);
    QFETCH(QString, uri);
    answerRemoteShares(shares);
    AppStatus::shareStatus()->setCurrentRometeUri(QStringLiteral("earlier"));
    startCall();
    bar()->shareListButton()->click();
    auto *content = qobject_cast<ShareListInRoom *>(bar()->sharePopover()->content());
    QVERIFY(content);
    QCOMPARE(bar()->sharePopover()->width(), 210 + 2);
    QCOMPARE(content->tableView()->count(), shares.size() + 1);
    for (int r = 0; r <= shares.size(); ++r) {
        QWidget *marker = ViewHelper::viewWithTag(content->cellAt(r), ShareListInRoom::markerTag);
        QVERIFY(marker);
        QCOMPARE(marker->isHidden(), r == shares.size()); // no marker on "停止接受远程共享"
    }
    content->tableView()->setCurrentRow(row);
    QVERIFY(!bar()->sharePopover()->isVisible());
    const auto writes = FakeEngine::instance().calls(CR::RequestSelectRemoteShare);
    QCOMPARE(writes.size(), 1);
    QCOMPARE(CR::readU32(writes.first().bytes, CR::RemoteShare::Mode), 1u);
    QCOMPARE(CR::readI32(writes.first().bytes, CR::RemoteShare::CurrentIndex), index);
    QCOMPARE(CR::readI32(writes.first().bytes, CR::RemoteShare::WantedIndex), index);
    QCOMPARE(AppStatus::shareStatus()->currentRometeUri(), uri);
}

void TestConference::toggles()
{
    startCall();
    const struct
    {
        QPushButton *button;
        uint32_t event;
        QString on, off;
    } cases[] = {{bar()->micButton(), 500, "mic_off", "mic_on"},
                 {bar()->speakerButton(), 501, "voice_off", "voice_on"},
                 {bar()->cameraButton(), 502, "camera_off", "camera_on"}};
    for (const auto &c : cases) {
        QCOMPARE(bar()->imageOf(c.button), c.off);
        c.button->click();
        QCOMPARE(bar()->imageOf(c.button), c.on);
        c.button->click();
        QCOMPARE(bar()->imageOf(c.button), c.off);
        const auto calls = FakeEngine::instance().calls(c.event);
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[0].bytes, QByteArray(1, '\1'));
        QCOMPARE(calls[1].bytes, QByteArray(1, '\0'));
    }
    // Layout steps the preview mode; pinning pins the last participant and releases it.
    answerParticipants({QStringLiteral("甲"), QStringLiteral("乙")});
    bar()->pinButton()->click();
    const auto pin = FakeEngine::instance().calls(CR::EventPin);
    QCOMPARE(pin.size(), 1);
    namespace P = CR::Pin;
    QCOMPARE(CR::readText(pin.first().bytes, P::Uri, CR::TextWidth), QStringLiteral("conf1-p1;ws"));
    QCOMPARE(CR::readU32(pin.first().bytes, P::Action), P::ActionPin);
    bar()->pinButton()->click();
    const auto release = FakeEngine::instance().calls(CR::EventPin);
    QCOMPARE(release.size(), 2);
    QCOMPARE(release.last().bytes.size(), P::Size);
    QCOMPARE(CR::readU32(release.last().bytes, P::Marker), P::MarkerValue);
    QCOMPARE(CR::readText(release.last().bytes, P::Uri, CR::TextWidth),
             QStringLiteral("conf1-p1;ws"));
    QCOMPARE(CR::readU32(release.last().bytes, P::Action), P::ActionRelease);
    QCOMPARE(CR::readI32(FakeEngine::instance().calls(CR::EventParticipantLimit).last().bytes, 0),
             16);
    bar()->command();
    const auto command = FakeEngine::instance().calls(CR::EventTextCommand);
    QCOMPARE(command.first().bytes.size(), CR::TextCommand::Size);
    QCOMPARE(CR::readText(command.first().bytes, 0, CR::TextCommand::Size),
             QStringLiteral("#CONF_API% Request <id> Status Conference.ClientDetailsRequest"));
}

void TestConference::forcedMicrophone()
{
    startCall();
    QPushButton *mic = bar()->micButton();
    mic->setChecked(false);
    const QByteArray muted(1, '\1'), released(1, '\0');
    FakeEngine::instance().fire(CR::OutFarEndMute, muted); // muted by the far end
    QTRY_VERIFY(!mic->isEnabled());
    QCOMPARE(bar()->imageOf(mic), QStringLiteral("mic_off"));
    QVERIFY(!mic->isChecked()); // the button's own state stays
    QCOMPARE(FakeEngine::instance().calls(CR::EventMuteMicrophone).last().bytes,
             QByteArray(1, '\1'));
    FakeEngine::instance().fire(CR::OutFarEndMute, released);
    QTRY_VERIFY(mic->isEnabled());
    QCOMPARE(bar()->imageOf(mic), QStringLiteral("mic_on"));
    QCOMPARE(FakeEngine::instance().calls(CR::EventMuteMicrophone).last().bytes,
             QByteArray(1, '\0'));
    // Released while the user had it muted: it stays muted.
    mic->setChecked(true);
    FakeEngine::instance().fire(CR::OutFarEndMute, muted);
    FakeEngine::instance().fire(CR::OutFarEndMute, released);
    QTRY_COMPARE(FakeEngine::instance().calls(CR::EventMuteMicrophone).size(), 4);
    QCOMPARE(bar()->imageOf(mic), QStringLiteral("mic_off"));
    QCOMPARE(FakeEngine::instance().calls(CR::EventMuteMicrophone).last().bytes,
             QByteArray(1, '\1'));
    mic->setChecked(false);
    bar()->changeMicFormNet(false);
}

void TestConference::speakerCommands_data()
{
    QTest::addColumn<bool>("blocked");    // the speaker was blocked before
    QTest::addColumn<QString>("payload"); // after "#TRQCOMMAND#g7#"
    QTest::addColumn<bool>("enabledAfter");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("reply"); // empty: no reply
    QTest::newRow("one part") << false << "1" << true << "voice_on"
                              << "";
    QTest::newRow("block") << false << "1&block" << false << "voice_off"
                           << "3&BlockSpeakerStateOK";
    QTest::newRow("another value while blocked") << true << "7&x" << false << "voice_off"
                                                 << "3&BlockSpeakerStateOK";
    QTest::newRow("release") << true << "2&free" << true << "voice_on"
                             << "4&UnBlockSpeakerStateOK";
    QTest::newRow("another value while free") << false << "9&x" << true << "voice_on"
                                              << "4&UnBlockSpeakerStateOK";
}

void TestConference::speakerCommands()
{
    QFETCH(bool, blocked);
    QFETCH(QString, payload);
    QFETCH(bool, enabledAfter);
    QFETCH(QString, image);
    QFETCH(QString, reply);
    startCall();
    AppUser::defaultUser()->uri = QStringLiteral("u1001");
    const auto command = [](const QString &text) {
        QByteArray record = CR::zeroed(CR::Out::ChatSize);
        CR::writeText(record, CR::Out::ChatSenderUri, CR::TextWidth, QStringLiteral("conf1-g7;ws"));
        CR::writeText(record, CR::Out::ChatMessage, CR::Out::ChatMessageWidth,
                      QStringLiteral("#TRQCOMMAND#g7#") + text);
        FakeEngine::instance().fire(CR::OutPrivateChat, record);
    };
    if (blocked) {
        command(QStringLiteral("1&block"));
        QTRY_VERIFY(!bar()->speakerButton()->isEnabled());
        FakeEngine::instance().reset();
    }
    command(payload);
    if (reply.isEmpty()) {
        QVERIFY(UiHarness::settle());
        QVERIFY(FakeEngine::instance().calls(CR::EventChat).isEmpty());
        QVERIFY(FakeEngine::instance().calls(CR::EventMuteSpeaker).isEmpty());
    } else {
        QTRY_COMPARE(FakeEngine::instance().calls(CR::EventChat).size(), 1);
        const QByteArray sent = FakeEngine::instance().calls(CR::EventChat).first().bytes;
        QCOMPARE(CR::readText(sent, CR::Chat::Destination, CR::TextWidth),
                 QStringLiteral("conf1-g7;ws"));
        QCOMPARE(CR::readText(sent, CR::Chat::Message, CR::Chat::MessageWidth),
                 QStringLiteral("#TRQCOMMAND#u1001#") + reply);
    }
    QCOMPARE(bar()->speakerButton()->isEnabled(), enabledAfter);
    QCOMPARE(bar()->imageOf(bar()->speakerButton()), image);
}

void TestConference::invitationForOwnerOnly()
{
    AppUser::defaultUser()->entityID = QStringLiteral("1001");
    JoinConferenceViewController *content = window()->contentViewController();
    auto owner = std::make_shared<Entity>();
    owner->entityID = QStringLiteral("1001");
    content->setRoomOwnerEntity(owner);
    startCall();
    QVERIFY(!bar()->shareQRCodeButton()->isHidden());
    bar()->shareQRCodeButton()->click();
    QVERIFY(bar()->qrWindow() && bar()->qrWindow()->isVisible());
    delete bar()->qrWindow();
    auto other = std::make_shared<Entity>();
    other->entityID = QStringLiteral("1002");
    content->setRoomOwnerEntity(other);
    QVERIFY(bar()->shareQRCodeButton()->isHidden());
    content->setRoomOwnerEntity(nullptr); // a guest or QR join
    QVERIFY(bar()->shareQRCodeButton()->isHidden());
}

void TestConference::leaving_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("the leave button") << true;
    QTest::newRow("closing the window") << false;
}

void TestConference::leaving()
{
    QFETCH(bool, byButton);
    startCall();
    QPointer<ControlWindowController> controller(bar());
    if (byButton)
        controller->leaveButton()->click();
    else
        window()->close();
    QVERIFY(!window()->isVisible());
    QVERIFY(!controller || !controller->isVisible());
    QCOMPARE(FakeEngine::instance().calls(CR::EventLeave).size(), 1); // asked once, not twice
    QVERIFY(!bar());
    // The engine's end of the call closes nothing twice and asks nothing more.
    FakeEngine::instance().fire(CR::OutConferenceEnded);
    QVERIFY(UiHarness::settle());
    QCOMPARE(FakeEngine::instance().calls(CR::EventLeave).size(), 1);
}

void TestConference::guestName_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("six letters") << "abcdef"
                                 << "abcde ";
    QTest::newRow("three letters") << "abc"
                                   << "abc ";
    QTest::newRow("five letters") << "abcde"
                                  << "abcde ";
}

void TestConference::guestName()
{
    QFETCH(QString, host);
    QFETCH(QString, prefix);
    for (int random : {0, 5, 89, 90, 1234}) {
        const QString name = EnterByURLWindowController::proposedName(host, random);
        QVERIFY(name.startsWith(prefix));
        const int number = name.mid(prefix.size()).toInt();
        QVERIFY2(number >= 10 && number <= 99, qPrintable(name));
        QCOMPARE(name.size(), prefix.size() + 2);
    }
}

void TestConference::guestJoin()
{
    EnterByURLWindowController dialog;
    dialog.setRoomKey(QStringLiteral("HallRoom2002"));
    dialog.setConfPortal(QStringLiteral("http://portal:1"));
    dialog.setPinNum(QStringLiteral("12"));
    dialog.show();
    QVERIFY(!dialog.nameTextFiled()->text().isEmpty());
    QVERIFY(dialog.joinBtn()->isEnabled());
    dialog.nameTextFiled()->clear();
    QVERIFY(!dialog.joinBtn()->isEnabled());
    QTest::keyClick(dialog.nameTextFiled(), Qt::Key_A);
    QVERIFY(dialog.joinBtn()->isEnabled());
    dialog.nameTextFiled()->setText(QStringLiteral("访"));

    // A refusal by the engine.
    dialog.joinBtn()->click();
    QVERIFY(!dialog.joinBtn()->isEnabled());
    QVERIFY(!dialog.nameTextFiled()->isEnabled());
    QVERIFY(dialog.indicator()->isAnimating());
    QVERIFY(dialog.isTimeoutArmed());
    QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::RoomKey,
                                 CR::GuestJoin::RoomKeyWidth),
             QStringLiteral("HallRoom2002"));
    QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::DisplayName,
                                 CR::GuestJoin::DisplayNameWidth),
             QStringLiteral("访"));
    QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::Pin, CR::GuestJoin::PinWidth),
             QStringLiteral("12"));
    UiHarness::fire(CR::OutRoomLink, CR::Code::RoomFull);
    QTRY_VERIFY(dialog.joinBtn()->isEnabled());
    QVERIFY(!dialog.isTimeoutArmed());
    QCOMPARE(UiHarness::toastIn(&dialog), QStringLiteral("当前房间的并发数已满,无法入会"));
    QTRY_VERIFY_WITH_TIMEOUT(UiHarness::toastIn(&dialog).isNull(), 3000);

    // No answer in time: the time-out, and a success arriving afterwards still shows the call.
    dialog.timeoutTimer()->setInterval(300);
    dialog.joinBtn()->click();
    QTRY_VERIFY(dialog.joinBtn()->isEnabled());
    QCOMPARE(UiHarness::toastIn(&dialog), QStringLiteral("请求超时,检查网络再试"));
    window()->hide();
    UiHarness::fire(CR::OutRoomLink, 0);
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_VERIFY(window()->isVisible());
    QCOMPARE(AppUser::defaultUser()->displayName, QStringLiteral("访"));
    QCOMPARE(window()->contentViewController()->displayName(), QString());
    window()->close();
}

QTEST_MAIN(TestConference)
#include "tst_conference.moc"
