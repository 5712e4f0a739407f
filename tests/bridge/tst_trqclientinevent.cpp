#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHome.h"

#include <QRegularExpression>
#include <QTest>

#include <functional>

namespace CR = ConfRecords;

class TestInEvents : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void textFields_data();
    void textFields();
    void signInFallsBackToStoredUser_data();
    void signInFallsBackToStoredUser();
    void previewModes();
    void configuration();
    void devices();
    void shareSources();
    void remoteShares();
    void participants();
    void commandReply_data();
    void commandReply();
    void smallEvents();
    void failedCallsLogged_data();
    void failedCallsLogged();

private:
    std::unique_ptr<TestHome> m_home;
    FakeEngine &engine = FakeEngine::instance();
};

void TestInEvents::initTestCase()
{
    m_home = std::make_unique<TestHome>();
}

void TestInEvents::init()
{
    engine.reset();
    AppUser::delUser();
}

void TestInEvents::textFields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("stored");
    QTest::newRow("fits") << "abc" << 8 << "abc";
    QTest::newRow("cut to width minus NUL") << "abcdefgh" << 4 << "abc";
    QTest::newRow("never splits a character") << "会议室" << 8 << "会议"; // 3 bytes each
    QTest::newRow("exact") << "会议" << 7 << "会议";
    QTest::newRow("empty") << "" << 4 << "";
}

void TestInEvents::textFields()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QByteArray record(64, 'x');
    CR::writeText(record, 10, uint32_t(width), text);
    QTEST(CR::readText(record, 10, uint32_t(width)), "stored");
    QCOMPARE(record[10 + width - 1], '\0');
    QCOMPARE(record[10 + width], 'x'); // nothing written past the field
    QCOMPARE(record[9], 'x');
}

void TestInEvents::signInFallsBackToStoredUser_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("stored user") << true << QStringList{"", "", ""}
                                 << QStringList{"demo", "demo1234", "http://p:8081"};
    QTest::newRow("no stored user") << false << QStringList{"", "", ""} << QStringList{"", "", ""};
    QTest::newRow("given texts win")
        << true << QStringList{"ann", "pw", "https://q"} << QStringList{"ann", "pw", "https://q"};
    QTest::newRow("mixed") << true << QStringList{"ann", "", ""}
                           << QStringList{"ann", "demo1234", "http://p:8081"};
}

void TestInEvents::signInFallsBackToStoredUser()
{
    QFETCH(bool, stored);
    QFETCH(QStringList, given);
    QFETCH(QStringList, sent);
    if (stored) {
        const auto user = AppUser::defaultUser();
        user->userName = QStringLiteral("demo");
        user->userPassWord = QStringLiteral("demo1234");
        user->httpPortal = QStringLiteral("http://p:8081");
    }
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(given[0], given[1], given[2]);
    const auto calls = engine.calls(CR::EventSignIn);
    QCOMPARE(calls.size(), 1);
    const QByteArray &r = calls[0].bytes;
    QCOMPARE(r.size(), CR::SignIn::Size);
    QCOMPARE(CR::readText(r, CR::SignIn::Portal, CR::TextWidth), sent[2]);
    QCOMPARE(CR::readText(r, CR::SignIn::UserName, CR::SignIn::UserNameWidth), sent[0]);
    QCOMPARE(CR::readText(r, CR::SignIn::Password, CR::TextWidth), sent[1]);
}

void TestInEvents::previewModes()
{
    for (qint64 argument : {0, 0, 0, 2, 0, 5, 0})
        TRQClientInEvent::ClientSyncRequestSetPreview(argument);
    QList<uint32_t> modes;
    for (const auto &call : engine.calls(CR::EventPreviewMode)) {
        QCOMPARE(call.bytes.size(), 8);
        QCOMPARE(CR::readU32(call.bytes, 4), 0u);
        modes.append(CR::readU32(call.bytes, 0));
    }
    QCOMPARE(modes, (QList<uint32_t>{0, 1, 2, 2, 0, 2, 0}));
}

void TestInEvents::configuration()
{
    QByteArray config = CR::zeroed(CR::Config::Size);
    CR::writeU32(config, CR::Config::MicrophoneCount, 2);
    engine.setAnswer(CR::RequestGetConfiguration, config);
    TRQClientInEvent::ClientSyncRequestInitConfiguration();
    auto writes = engine.calls(CR::RequestSetConfiguration);
    QCOMPARE(writes.size(), 1);
    const QByteArray &w = writes[0].bytes;
    QCOMPARE(CR::readU32(w, CR::Config::MicrophoneCount), 2u); // the rest as read
    QCOMPARE(CR::readU32(w, CR::Config::StartupOne), 1u);
    QCOMPARE(CR::readU32(w, CR::Config::StartupOneAgain), 1u);
    QCOMPARE(CR::readU32(w, CR::Config::StartupTwo), 2u);
    for (uint32_t offset : CR::Config::Switches)
        QCOMPARE(int(w[offset]), 1);

    engine.reset();
    engine.setAnswer(CR::RequestGetConfiguration, config, 7);
    QTest::ignoreMessage(QtWarningMsg, "Failed to request configuration with error 7");
    TRQClientInEvent::ClientSyncRequestInitConfiguration();
    QVERIFY(engine.calls(CR::RequestSetConfiguration).isEmpty());

    engine.reset();
    Preferences prefs;
    prefs.setEnableAudioAGC(0);
    prefs.setAlwaysUseProxy(1);
    prefs.setSelectedCameraDeviceNumber(2);
    prefs.setVideoPreferences(3);
    TRQClientInEvent::ClientSyncRequestSetConfiguration();
    const QByteArray u = engine.calls(CR::RequestSetConfiguration).value(0).bytes;
    QCOMPARE(CR::readU32(u, CR::Config::EchoCancellation), 1u);
    QCOMPARE(CR::readU32(u, CR::Config::AutomaticGain), 0u);
    QCOMPARE(CR::readU32(u, CR::Config::ProxyMode), CR::Config::ProxyAlways);
    QCOMPARE(CR::readU32(u, CR::Config::SelectedCamera), 2u);
    QCOMPARE(CR::readU32(u, CR::Config::VideoPreference), 3u);
}

void TestInEvents::devices()
{
    QByteArray config = CR::zeroed(CR::Config::Size);
    const QStringList mics{"内建输入", "USB 麦克风", "Headset"};
    for (int i = 0; i < mics.size(); ++i)
        CR::writeText(config, CR::Config::Microphones + i * CR::Config::NameWidth,
                      CR::Config::NameWidth, mics[i]);
    CR::writeU32(config, CR::Config::MicrophoneCount, 3);
    CR::writeText(config, CR::Config::Speakers, CR::Config::NameWidth, QStringLiteral("内建输入"));
    CR::writeU32(config, CR::Config::SpeakerCount, 1);
    CR::writeU32(config, CR::Config::CameraCount, 1000); // a broken count stays inside the record
    engine.setAnswer(CR::RequestGetConfiguration, config);
    const QList<QStringList> devices = TRQClientInEvent::ClientSyncRequestGetDevice();
    QCOMPARE(devices.size(), 3);
    QCOMPARE(devices[0], (QStringList{"USB 麦克风", "Headset"}));
    QCOMPARE(devices[1], QStringList{"内建输入"});
    QCOMPARE(devices[2].size(), int(CR::Config::MaxCameras));
}

void TestInEvents::shareSources()
{
    namespace S = CR::ShareSources;
    QVERIFY(TRQClientInEvent::ClientSyncRequestGetShareList().size() == 1);
    const auto onlyCancel = TRQClientInEvent::ClientSyncRequestGetShareList();
    QCOMPARE(onlyCancel.last()->appName, QStringLiteral("取消"));
    TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(onlyCancel, 0);
    QCOMPARE(engine.calls(CR::EventStopShare).size(), 1);
    QVERIFY(engine.calls(CR::EventStopShare)[0].bytes.isEmpty());

    QByteArray record = CR::zeroed(S::Size);
    CR::writeU32(record, S::ScreenCount, 1);
    CR::writeText(record, S::ScreenIds, S::ScreenIdWidth, QStringLiteral("3"));
    CR::writeU32(record, S::ScreenRects + 8, 1920);
    const QList<QPair<QString, QString>> windows{{"Orvale", "会议"},
                                                 {"Google Chrome", " "},
                                                 {"Google Chrome", "Docs"},
                                                 {"Terminal", "bash"}};
    for (int i = 0; i < windows.size(); ++i) {
        CR::writeText(record, S::AppNames + i * CR::TextWidth, CR::TextWidth, windows[i].first);
        CR::writeText(record, S::Titles + i * CR::TextWidth, CR::TextWidth, windows[i].second);
        CR::writeU32(record, S::WindowIds + i * 4, 100 + i);
        CR::writeI32(record, S::WindowRects + i * S::RectSize, -5 * i);
    }
    CR::writeU32(record, S::WindowCount, windows.size());
    engine.setAnswer(CR::RequestShareSources, record);
    const auto sources = TRQClientInEvent::ClientSyncRequestGetShareList();
    QStringList rows;
    for (const auto &s : sources)
        rows.append(s->appName + u'/' + s->appWindowName);
    QCOMPARE(rows, (QStringList{"共享屏幕/全屏", "Google Chrome/Docs", "Terminal/bash",
                                "取消/屏幕共享"}));
    QCOMPARE(sources[0]->appWindowId, 3);
    QCOMPARE(sources[0]->confRect.width, 1920u);
    QCOMPARE(sources[2]->appWindowId, 103);
    QCOMPARE(sources[2]->confRect.xPos, -15);

    TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(sources, 0);
    TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(sources, 2);
    TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(sources, 99); // out of range: nothing
    const auto shares = engine.calls(CR::EventShare);
    QCOMPARE(shares.size(), 2);
    namespace C = CR::ShareCommand;
    QCOMPARE(shares[0].bytes.size(), C::Size);
    QCOMPARE(CR::readU32(shares[0].bytes, C::Kind), C::KindScreen);
    QCOMPARE(CR::readU32(shares[0].bytes, C::Id), 1u);
    QCOMPARE(CR::readText(shares[0].bytes, C::ScreenId, C::ScreenIdWidth), QStringLiteral("3"));
    QCOMPARE(CR::readU32(shares[0].bytes, C::Rect + 8), 1920u);
    QCOMPARE(CR::readU32(shares[1].bytes, C::Kind), C::KindWindow);
    QCOMPARE(CR::readU32(shares[1].bytes, C::Id), 103u);
    QCOMPARE(CR::readI32(shares[1].bytes, C::Rect), -15);
}

void TestInEvents::remoteShares()
{
    namespace R = CR::RemoteShare;
    auto list = TRQClientInEvent::ClientSyncRequestGetShareInRoom();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0]->remoteAppName, QStringLiteral("停止接受远程共享"));
    AppStatus::shareStatus()->setCurrentRometeUri(QStringLiteral("old"));
    TRQClientInEvent::ClientSyncRequestSetShareInRoom(0);
    QByteArray written = engine.calls(CR::RequestSelectRemoteShare).value(0).bytes;
    QCOMPARE(CR::readU32(written, R::Mode), R::ModeShow);
    QCOMPARE(CR::readI32(written, R::CurrentIndex), 0);
    QCOMPARE(AppStatus::shareStatus()->currentRometeUri(), QStringLiteral(""));

    engine.reset();
    QByteArray record = CR::zeroed(R::Size);
    for (int k = 1; k <= 2; ++k) {
        CR::writeText(record, R::Uris + k * CR::TextWidth, CR::TextWidth,
                      QStringLiteral("uri-%1").arg(k));
        CR::writeText(record, R::Names + k * CR::TextWidth, CR::TextWidth,
                      QStringLiteral("共享 %1").arg(k));
    }
    CR::writeText(record, R::Names, CR::TextWidth, QStringLiteral("entry zero is never read"));
    CR::writeI32(record, R::Count, 2);
    engine.setAnswer(CR::RequestGetRemoteShares, record);
    list = TRQClientInEvent::ClientSyncRequestGetShareInRoom();
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0]->remoteAppName, QStringLiteral("共享 1"));
    TRQClientInEvent::ClientSyncRequestSetShareInRoom(1);
    written = engine.calls(CR::RequestSelectRemoteShare).value(0).bytes;
    QCOMPARE(CR::readI32(written, R::CurrentIndex), 2);
    QCOMPARE(CR::readI32(written, R::WantedIndex), 2);
    QCOMPARE(AppStatus::shareStatus()->currentRometeUri(), QStringLiteral("uri-2"));
}

void TestInEvents::participants()
{
    namespace P = CR::Participants;
    QByteArray listRecord = CR::zeroed(P::ListSize);
    CR::writeI32(listRecord, P::Count, 2);
    engine.setAnswer(CR::RequestParticipants, listRecord);
    engine.setAnswer(CR::RequestParticipant, [](QByteArray &r) {
        const int32_t i = CR::readI32(r, P::Index);
        CR::writeText(r, P::Uri, CR::TextWidth,
                      i == 0 ? QStringLiteral("conf-2002-u1001;tag=9")
                             : QStringLiteral("conf-2002-u1002"));
        CR::writeText(r, P::DisplayName, P::DisplayNameWidth,
                      i == 0 ? QStringLiteral("演示用户") : QStringLiteral("Alice"));
        CR::writeText(r, P::ParticipantId, P::ParticipantIdWidth, QStringLiteral("p%1").arg(i));
        CR::writeText(r, P::EntityId, P::EntityIdWidth, QStringLiteral("%1").arg(1001 + i));
        CR::writeI32(r, P::Role, 3 + i);
        return 0u;
    });
    AppUser::defaultUser()->displayName = QStringLiteral("演示用户");
    const auto people = TRQClientInEvent::ClientSyncRequestGetCurrentContacts();
    QCOMPARE(people.size(), 2);
    QCOMPARE(people[1]->userName, QStringLiteral("Alice"));
    QCOMPARE(people[1]->participantID, QStringLiteral("p1"));
    QCOMPARE(people[1]->entityID, QStringLiteral("1002"));
    QCOMPARE(people[1]->participantRole, 4);
    QCOMPARE(AppUser::defaultUser()->uri, QStringLiteral("u1001"));
    const auto asked = engine.calls(CR::RequestParticipant);
    QCOMPARE(asked.size(), 2);
    QCOMPARE(CR::readI32(asked[1].bytes, P::Index), 1);
}

void TestInEvents::commandReply_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("text");
    QTest::newRow("unblocked") << CR::Command::SpeakerUnmuted
                               << "#TRQCOMMAND#u1001#4&UnBlockSpeakerStateOK";
    QTest::newRow("blocked") << CR::Command::SpeakerMuted
                             << "#TRQCOMMAND#u1001#3&BlockSpeakerStateOK";
    QTest::newRow("any other") << 7 << "#TRQCOMMAND#u1001#3&BlockSpeakerStateOK";
}

void TestInEvents::commandReply()
{
    QFETCH(int, command);
    AppUser::defaultUser()->uri = QStringLiteral("u1001");
    MessageModel message;
    message.uri = QStringLiteral("conf-2002-u1002");
    TRQClientInEvent::ClientAsyncRequestReply(message, command);
    const QByteArray r = engine.calls(CR::EventChat).value(0).bytes;
    QCOMPARE(r.size(), CR::Chat::Size);
    QCOMPARE(CR::readText(r, CR::Chat::Destination, CR::TextWidth), message.uri);
    QTEST(CR::readText(r, CR::Chat::Message, CR::Chat::MessageWidth), "text");
}

void TestInEvents::smallEvents()
{
    TRQClientInEvent::ClientSyncRequestMuteMic(true);
    TRQClientInEvent::ClientSyncRequestMuteSpeaker(false);
    engine.setEventResult(CR::EventMuteCamera, false);
    QTest::ignoreMessage(QtWarningMsg, "设置摄像头隐私状态失败");
    TRQClientInEvent::ClientSyncRequestMuteCamera(true);
    TRQClientInEvent::ClientSyncRequestSetSomeOnePin(QStringLiteral("uri-x"));
    TRQClientInEvent::ClientSyncRequestAcceptIncomeCall(false);
    TRQClientInEvent::ClientSyncRequestSetVideoArea(QRect(1, 2, 640, 360));
    TRQClientInEvent::ClientAsyncRequestGuestLoginWithPortal(
        QStringLiteral("http://p"), QStringLiteral("K"), QStringLiteral("访客"),
        QStringLiteral("12"));
    QCOMPARE(engine.calls(CR::EventMuteMicrophone).value(0).bytes, QByteArray(1, '\1'));
    QCOMPARE(engine.calls(CR::EventMuteSpeaker).value(0).bytes, QByteArray(1, '\0'));
    const QByteArray pin = engine.calls(CR::EventPin).value(0).bytes;
    QCOMPARE(pin.size(), CR::Pin::Size);
    QCOMPARE(CR::readU32(pin, CR::Pin::Marker), CR::Pin::MarkerValue);
    QCOMPARE(CR::readText(pin, CR::Pin::Uri, CR::TextWidth), QStringLiteral("uri-x"));
    QCOMPARE(CR::readU32(pin, CR::Pin::Action), CR::Pin::ActionPin);
    QCOMPARE(engine.calls(CR::EventDeclineCall).size(), 1);
    const QByteArray area = engine.calls(CR::EventVideoArea).value(0).bytes;
    QCOMPARE(area, engine.calls(CR::RequestVideoArea).value(0).bytes);
    QCOMPARE(CR::readI32(area, 8), 640);
    const QByteArray guest = engine.calls(CR::EventGuestJoin).value(0).bytes;
    namespace G = CR::GuestJoin;
    QCOMPARE(guest.size(), G::Size);
    QCOMPARE(CR::readText(guest, G::DisplayName, G::DisplayNameWidth), QStringLiteral("访客"));
    QCOMPARE(CR::readText(guest, G::Pin, G::PinWidth), QStringLiteral("12"));
}

void TestInEvents::failedCallsLogged_data()
{
    QTest::addColumn<std::function<void()>>("call");
    QTest::addColumn<QString>("line");
    QTest::newRow("request with its code") << std::function<void()>([this] {
        engine.setAnswer(CR::RequestSelfName, QByteArray(), 9);
        TRQClientInEvent::ClientSyncRequestSetUserName(QStringLiteral("我"));
    }) << QStringLiteral("Request %1 failed with code 9").arg(CR::RequestSelfName);
    QTest::newRow("event with a record") << std::function<void()>([this] {
        engine.setEventResult(CR::EventTextCommand, false);
        TRQClientInEvent::ClientSyncRequestConferenceDetails();
    }) << QStringLiteral("In-event %1 failed").arg(CR::EventTextCommand);
    QTest::newRow("event without a record") << std::function<void()>([this] {
        engine.setEventResult(CR::EventSignOut, false);
        TRQClientInEvent::ClientAsyncRequestLogOut();
    }) << QStringLiteral("In-event %1 failed").arg(CR::EventSignOut);
}

void TestInEvents::failedCallsLogged()
{
    QFETCH(std::function<void()>, call);
    QFETCH(QString, line);
    QTest::ignoreMessage(QtWarningMsg, line.toUtf8().constData());
    QTest::failOnWarning(QRegularExpression(QStringLiteral("failed")));
    call();
}

QTEST_GUILESS_MAIN(TestInEvents)
#include "tst_trqclientinevent.moc"
