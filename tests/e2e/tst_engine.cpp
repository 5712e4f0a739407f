#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "bridge/TRQClientOnOutEvent.h"
#include "bridge/shared/ConfClient.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/MessageModel.h"
#include "model/Preferences.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "tests/support/RecordingDelegate.h"
#include "tests/support/TcpRelay.h"
#include "tests/support/TestDeployment.h"
#include "tests/support/TestHome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

namespace CR = ConfRecords;

/// The client's bridge driving the real reference engine against the deployment's conference
/// service, with a second participant speaking the service's protocol directly.
class TestEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void configurationKeepsItsSizeThroughDeviceChanges();
    void storedChoicesReachTheEngine();
    void signInFailures_data();
    void signInFailures();
    void signIn();
    void signOutReachesServiceOnQuit();
    void driverKeepsTheSettingsItIsGiven();
    void joinThroughPortal();
    void secondParticipant();
    void rosterRowsMatchTheCount();
    void commandRoundTrip();
    void remoteShare();
    void leave();
    void leavingAfterTheEndReportsNothing_data();
    void leavingAfterTheEndReportsNothing();
    void incomingCall_data();
    void incomingCall();
    void farEndMute();
    void signedInElsewhere();
    void guestJoin_data();
    void guestJoin();
    void settingsReadOftenKeepTheConnection();
    void silentServiceIsDropped();
    void serviceGoesAway();

private:
    /// A portal request made with another account's credentials.
    void portalAs(const QString &user, const QString &body, const QString &action)
    {
        NetWork *request = NetWork::initWithUrlString(
            m_portal + QStringLiteral("/services/v1_1/PortalUserService"), body, action);
        request->setAuth(LoginRequest::authorization(user, user + QStringLiteral("1234")));
        request->startRequest();
    }
    void joinAs(const QString &user, const QString &room)
    {
        portalAs(user,
                 QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>%1</"
                                "ns1:conferenceID></ns1:JoinConferenceRequest>")
                     .arg(room),
                 QStringLiteral("JoinConferenceRequest"));
    }
    void openAlice();
    // Each case that needs more than a started engine reaches its state through these, so that
    // it passes alone as well as after the cases before it. False when that failed.
    bool signedIn()
    {
        if (!AppStatus::shareStatus()->isSignIn())
            signIn();
        return !QTest::currentTestFailed();
    }
    bool outOfCall();
    /// Demo in its own room with the guest beside it, as `secondParticipant` leaves them.
    bool inOwnRoomWithGuest();
    void guestJoins()
    {
        m_peer.open(conferenceUrl());
        QTRY_COMPARE(m_peer.state(), QAbstractSocket::ConnectedState);
        peerSend({{"type", "guestJoin"}, {"roomKey", keyOf(1001)}, {"name", "访客"}});
    }
    void peerSend(const QJsonObject &message)
    {
        m_peer.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    QJsonObject peerNext(const QString &type);
    QUrl conferenceUrl() const
    {
        return QUrl(
            QStringLiteral("ws://127.0.0.1:%1/conference").arg(m_host->config().portalPort));
    }
    /// The configuration record as the engine hands it out.
    static QByteArray configuration()
    {
        QByteArray config = CR::zeroed(CR::Config::Size);
        ConfClientSendRequest(CR::RequestGetConfiguration, config.data(), CR::Config::Size);
        return config;
    }
    /// Whether the engine's camera list holds its generated camera.
    static bool listsGeneratedCamera()
    {
        namespace C = CR::Config;
        const QByteArray config = configuration();
        for (uint32_t i = 0; i < CR::readU32(config, C::CameraCount); ++i)
            if (CR::readText(config, C::Cameras + i * C::NameWidth, C::NameWidth) ==
                QStringLiteral("Orvale 测试图像"))
                return true;
        return false;
    }
    /// The engine reads the machine's devices again, as when one is plugged in.
    void devicesChange();
    bool waitForCall(const QString &call)
    {
        return QTest::qWaitFor([&] { return m_delegate.calls.contains(call); }, 10000);
    }

    std::unique_ptr<TestHome> m_home;
    /// A room's key: the deployment makes them at random.
    QString keyOf(qint64 room) const { return m_host->database().entry(room)->roomKey; }

    std::unique_ptr<TestDeployment> m_deployment;
    ServiceHost *m_host = nullptr;
    RecordingDelegate m_delegate;
    QWebSocket m_peer;
    QWebSocket m_alice; ///< a second signed-in account, speaking the protocol directly
    QList<QJsonObject> m_peerMessages;
    QString m_portal;
    QTemporaryDir m_settings;
};

QJsonObject TestEngine::peerNext(const QString &type)
{
    QJsonObject found;
    (void)QTest::qWaitFor(
        [&] {
            for (qsizetype i = 0; i < m_peerMessages.size(); ++i)
                if (m_peerMessages[i].value(QStringLiteral("type")).toString() == type) {
                    found = m_peerMessages.takeAt(i);
                    return true;
                }
            return false;
        },
        10000);
    return found;
}

void TestEngine::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    m_deployment = std::make_unique<TestDeployment>();
    m_host = m_deployment->host();
    QVERIFY(m_host);
    m_portal = m_host->config().portalBase();
    connect(&m_peer, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        m_peerMessages.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
    TRQClientInEvent::ClientSyncRequestInit(&m_delegate, nullptr, QRect());
    // Started: the stored voice processing is applied, which the client does after it gave the
    // engine its settings file; a file a case gives it later is not overridden.
    QTRY_COMPARE(CR::readU32(configuration(), CR::Config::EchoCancellation), 1u);
}

void TestEngine::devicesChange()
{
    // The generated camera joins or leaves the device list, as a plugged camera would. Toggled
    // from what the engine lists: its start-up may still be applying its own settings file,
    // which never adds the camera, so the change written here always reaches the list.
    const bool camera = !listsGeneratedCamera();
    const QString path = m_settings.filePath(QStringLiteral("engine.ecf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(camera ? "[engine]\ntestCamera=true\n" : "[engine]\n");
    file.close();
    int changes = 0;
    const auto observer = NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::deviceChange, this, [&changes](const Notification &) { ++changes; });
    const auto forget =
        qScopeGuard([observer] { NotificationCenter::defaultCenter()->removeObserver(observer); });
    QByteArray record = CR::zeroed(CR::FilePath::Size);
    CR::writeText(record, 0, CR::FilePath::Size, path);
    ConfClientSendEvent(CR::EventFilePath, record.data(), CR::FilePath::Size);
    // A loaded machine may take its time to list the devices again.
    QTRY_VERIFY_WITH_TIMEOUT(changes > 0, 20000);
}

void TestEngine::configurationKeepsItsSizeThroughDeviceChanges()
{
    namespace C = CR::Config;
    QTRY_COMPARE(CR::readU32(configuration(), C::StartupTwo), 2u); // the start-up configuration
    for (int change = 0; change < 2; ++change) {
        devicesChange();
        if (QTest::currentTestFailed())
            return;
        const QByteArray config = configuration();
        QCOMPARE(CR::readU32(config, C::StartupTwo), 2u);
        QCOMPARE(CR::readU32(config, C::StartupOne), 1u);
        for (const uint32_t offset : C::Switches)
            QCOMPARE(int(config[offset]), 1);
    }
    // A record read before the lists changed and written back does not bring old lists back.
    QByteArray stale = configuration();
    const QString first = CR::readText(stale, C::Cameras, C::NameWidth);
    CR::writeText(stale, C::Cameras, C::NameWidth, QStringLiteral("unplugged"));
    CR::writeU32(stale, C::SelectedCamera, 5);
    ConfClientSendRequest(CR::RequestSetConfiguration, stale.data(), C::Size);
    QCOMPARE(CR::readText(configuration(), C::Cameras, C::NameWidth), first);
    QCOMPARE(CR::readU32(configuration(), C::SelectedCamera), 5u);
}

void TestEngine::storedChoicesReachTheEngine()
{
    namespace C = CR::Config;
    // Started: the stored (here default) voice processing is on, as the settings show it.
    QTRY_COMPARE(CR::readU32(configuration(), C::EchoCancellation), 1u);
    QCOMPARE(CR::readU32(configuration(), C::AutomaticGain), 1u);
    // The device lists change: the stored choices apply to the new lists.
    Preferences prefs;
    prefs.setVideoPreferences(4);
    prefs.setSelectedMicDeviceNumber(7);
    prefs.sync();
    devicesChange();
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE(CR::readU32(configuration(), C::VideoPreference), 4u);
    QCOMPARE(CR::readU32(configuration(), C::SelectedMicrophone), 7u);
    prefs.setVideoPreferences(0);
    prefs.setSelectedMicDeviceNumber(0);
    prefs.sync();
}

void TestEngine::signInFailures_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("portal");
    QTest::addColumn<QString>("call");
    QTest::newRow("wrong password") << "bad"
                                    << ""
                                    << "error:用户名密码错误";
    QTest::newRow("nothing listens") << "demo1234"
                                     << "http://127.0.0.1:1"
                                     << "error:连接不到服务器";
    QTest::newRow("not a portal") << "demo1234" << m_host->config().loginBase()
                                  << "error:登录地址错误";
}

void TestEngine::signInFailures()
{
    QFETCH(QString, password);
    QFETCH(QString, portal);
    QFETCH(QString, call);
    m_delegate.calls.clear();
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(QStringLiteral("demo"), password,
                                                          portal.isEmpty() ? m_portal : portal);
    QVERIFY2(waitForCall(call), qPrintable(m_delegate.calls.join(u',')));
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
}

void TestEngine::signIn()
{
    m_delegate.calls.clear();
    Preferences().setVideoPreferences(2);
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(QStringLiteral("demo"),
                                                          QStringLiteral("demo1234"), m_portal);
    QVERIFY(waitForCall(QStringLiteral("loginSuccess")));
    // The signed-in user's choices reach the engine.
    QTRY_COMPARE(CR::readU32(configuration(), CR::Config::VideoPreference), 2u);
    Preferences().setVideoPreferences(0);
    QVERIFY(AppStatus::shareStatus()->isSignIn());
    QVERIFY(!m_delegate.offMainThread);
    QTRY_COMPARE(m_host->database().entry(1001)->presence, QStringLiteral("Online"));
    const auto user = AppUser::defaultUser();
    user->auth = LoginRequest::authorization(QStringLiteral("demo"), QStringLiteral("demo1234"));
    user->httpPortal = m_portal;
    user->displayName = QStringLiteral("演示用户");
    user->entityID = QStringLiteral("1001");
}

void TestEngine::signOutReachesServiceOnQuit()
{
    // A host process that signs out and quits at once: the sign-out still reaches the service.
    QProcess driver;
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.start(QStringLiteral(ORVALE_ENGINE_DRIVER));
    QVERIFY(driver.waitForStarted());
    QByteArray output;
    const auto said = [&](const QByteArray &line) {
        return QTest::qWaitFor(
            [&] {
                output += driver.readAllStandardOutput();
                return output.contains(QByteArray(line + '\n'));
            },
            15000);
    };
    QVERIFY(said("ready"));
    driver.write("login bob bob1234 " + m_portal.toUtf8() + '\n');
    QVERIFY2(said("loginSuccess"), output.constData());
    QTRY_COMPARE(m_host->database().entry(1003)->presence, QStringLiteral("Online"));
    QSignalSpy signedOut(&m_host->conferenceHub(), &ConferenceHub::signedOut);
    driver.write("logout-quit\n");
    QVERIFY(QTest::qWaitFor([&] { return driver.state() == QProcess::NotRunning; }, 15000));
    QCOMPARE(driver.exitStatus(), QProcess::NormalExit);
    QTRY_COMPARE(signedOut.size(), 1);
    QCOMPARE(signedOut.first().value(0).toLongLong(), 1003);
    QCOMPARE(signedOut.first().value(1).toInt(), 0);
}

void TestEngine::driverKeepsTheSettingsItIsGiven()
{
    // Settings handed to a host process as soon as it runs stay the engine's: the client's own
    // file, which answers the engine's start, comes first. Told here before the driver is even
    // ready, they ask for the generated camera.
    const QString path = m_settings.filePath(QStringLiteral("driver.ecf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[engine]\ntestCamera=true\n");
    file.close();
    QProcess driver;
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.start(QStringLiteral(ORVALE_ENGINE_DRIVER));
    QVERIFY(driver.waitForStarted());
    driver.write(("settings " + path + '\n').toUtf8());
    QByteArray output;
    const auto lastDevices = [&] {
        driver.write("devices\n");
        output += driver.readAllStandardOutput();
        const qsizetype at = output.lastIndexOf("devices:");
        return at < 0 ? QString()
                      : QString::fromUtf8(output.mid(at, output.indexOf('\n', at) - at));
    };
    QTRY_VERIFY2_WITH_TIMEOUT(lastDevices().contains(QStringLiteral("Orvale 测试图像")),
                              output.constData(), 15000);
    driver.closeWriteChannel(); // the driver quits at the end of its input
    QVERIFY(driver.waitForFinished(15000));
}

bool TestEngine::outOfCall()
{
    if (AppStatus::shareStatus()->isInConference()) {
        m_delegate.calls.clear();
        TRQClientInEvent::ClientAsyncRequestLeaveRoom();
        [&] { QVERIFY(waitForCall(QStringLiteral("endConference"))); }();
    }
    return !QTest::currentTestFailed();
}

bool TestEngine::inOwnRoomWithGuest()
{
    if (AppStatus::shareStatus()->isInConference() &&
        m_peer.state() == QAbstractSocket::ConnectedState &&
        TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size() == 2)
        return true;
    if (!outOfCall())
        return false;
    m_peer.close();
    m_peerMessages.clear();
    [this] { QTRY_COMPARE(m_host->conferenceHub().occupancy(1001), 0); }();
    if (!QTest::currentTestFailed())
        joinThroughPortal();
    if (!QTest::currentTestFailed())
        secondParticipant();
    return !QTest::currentTestFailed();
}

void TestEngine::joinThroughPortal()
{
    if (!signedIn())
        return;
    bool joined = false;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(NotificationCenter::joinConferenceSuccess,
                                                     &context,
                                                     [&](const Notification &) { joined = true; });
    NetWork *join = NetWork::initWithUrlString(
        m_portal + QStringLiteral("/services/v1_1/PortalUserService?"),
        QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>1001</ns1:conferenceID></"
                       "ns1:JoinConferenceRequest>"),
        QStringLiteral("JoinConferenceRequest"));
    join->startRequest();
    QVERIFY(waitForCall(QStringLiteral("addControllView")));
    QTRY_VERIFY(joined);
    QVERIFY(AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(m_delegate.calls.contains(QStringLiteral("participants")));
    QCOMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 1);
}

void TestEngine::secondParticipant()
{
    if (!AppStatus::shareStatus()->isInConference())
        joinThroughPortal();
    if (QTest::currentTestFailed())
        return;
    guestJoins();
    QCOMPARE(peerNext(QStringLiteral("roomLink")).value("result").toInt(), 0);
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 2);
    const auto people = TRQClientInEvent::ClientSyncRequestGetCurrentContacts();
    QCOMPARE(people[1]->userName, QStringLiteral("访客"));
    QCOMPARE(AppUser::defaultUser()->uri, QStringLiteral("u1001"));
}

void TestEngine::rosterRowsMatchTheCount()
{
    if (!inOwnRoomWithGuest())
        return;
    namespace P = ConfRecords::Participants;
    m_delegate.calls.clear();
    QWebSocket third;
    third.open(conferenceUrl());
    QTRY_COMPARE(third.state(), QAbstractSocket::ConnectedState);
    third.sendTextMessage(
        QStringLiteral(R"({"type":"guestJoin","roomKey":"%1","name":"第三位"})").arg(keyOf(1001)));
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 3);

    // The roster shrinks between the count and the rows: the rows still match the count.
    QByteArray list = ConfRecords::zeroed(P::ListSize);
    QCOMPARE(ConfClientSendRequest(ConfRecords::RequestParticipants, list.data(), P::ListSize), 0u);
    QCOMPARE(ConfRecords::readI32(list, P::Count), 3);
    QTRY_VERIFY(m_delegate.calls.contains(QStringLiteral("participants"))); // the join's change
    m_delegate.calls.clear();
    third.close();
    QVERIFY(waitForCall(QStringLiteral("participants")));
    QStringList names;
    for (int32_t i = 0; i < 3; ++i) {
        QByteArray row = ConfRecords::zeroed(P::Size);
        ConfRecords::writeI32(row, P::Index, i);
        QCOMPARE(ConfClientSendRequest(ConfRecords::RequestParticipant, row.data(), P::Size), 0u);
        names.append(ConfRecords::readText(row, P::DisplayName, P::DisplayNameWidth));
    }
    QCOMPARE(names, QStringList({QStringLiteral("演示用户"), QStringLiteral("访客"),
                                 QStringLiteral("第三位")}));
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 2);
}

void TestEngine::commandRoundTrip()
{
    if (!inOwnRoomWithGuest())
        return;
    std::shared_ptr<MessageModel> command;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::changeSpeakerFormNet, &context,
        [&](const Notification &n) { command = n.object.value<std::shared_ptr<MessageModel>>(); });
    const auto people = TRQClientInEvent::ClientSyncRequestGetCurrentContacts();
    peerSend({{"type", "chat"}, {"to", people[0]->uri}, {"text", "#TRQCOMMAND#g1#1&block"}});
    QTRY_VERIFY(command);
    QCOMPARE(command->msgType, QStringLiteral("PrivateChat"));
    TRQClientInEvent::ClientAsyncRequestReply(*command, 3);
    const QJsonObject reply = peerNext(QStringLiteral("chat"));
    QCOMPARE(reply.value("text").toString(),
             QStringLiteral("#TRQCOMMAND#u1001#3&BlockSpeakerStateOK"));
    QVERIFY(reply.value("private").toBool());
}

void TestEngine::remoteShare()
{
    if (!inOwnRoomWithGuest())
        return;
    peerSend({{"type", "share"}, {"name", "屏幕 1"}});
    QTRY_VERIFY(AppStatus::shareStatus()->currentRometeUri().contains(QStringLiteral("g1")));
    const auto shares = TRQClientInEvent::ClientSyncRequestGetShareInRoom();
    QCOMPARE(shares.size(), 2);
    QCOMPARE(shares[0]->remoteAppName, QStringLiteral("屏幕 1"));
    // Asked for them, the engine logs the conference's details; it does so before it handles
    // the end of the share below, which the test waits for.
    QTest::ignoreMessage(QtInfoMsg,
                         QRegularExpression(QStringLiteral(
                             "^conference details: 2 participants, 1 shares, share 1 "
                             "watched(, .*)?(; speaking: .*)?; pictures received: none$")));
    TRQClientInEvent::ClientSyncRequestConferenceDetails();
    peerSend({{"type", "stopShare"}});
    QTRY_COMPARE(AppStatus::shareStatus()->currentRometeUri(), QStringLiteral(""));
}

void TestEngine::leave()
{
    if (!inOwnRoomWithGuest())
        return;
    m_delegate.calls.clear();
    TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    QVERIFY(waitForCall(QStringLiteral("endConference")));
    QVERIFY(m_delegate.calls.contains(QStringLiteral("closeConference")));
    QVERIFY(!AppStatus::shareStatus()->isInConference());
    // The guest's roster shrinks back to the guest alone.
    QVERIFY(QTest::qWaitFor(
        [this] {
            const QJsonObject roster = peerNext(QStringLiteral("participants"));
            return !roster.isEmpty() && roster.value("participants").toArray().size() == 1;
        },
        10000));
}

void TestEngine::leavingAfterTheEndReportsNothing_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("leave") << false;
    QTest::newRow("cancel the join") << true;
}

void TestEngine::leavingAfterTheEndReportsNothing()
{
    QFETCH(bool, cancel);
    if (!outOfCall())
        return;
    m_delegate.calls.clear();
    bool marker = false;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(NotificationCenter::roomLinkError, &context,
                                                     [&](const Notification &) { marker = true; });
    if (cancel)
        TRQClientInEvent::ClientSyncRequestCancelEnterConference();
    else
        TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    // A guest join without an address fails at once; its answer comes after anything the
    // request before it caused, since the engine reports in order.
    QByteArray join = ConfRecords::zeroed(ConfRecords::GuestJoin::Size);
    QVERIFY(ConfClientSendEvent(ConfRecords::EventGuestJoin, join.data(), uint32_t(join.size())));
    QTRY_VERIFY(marker);
    QVERIFY2(!m_delegate.calls.contains(QStringLiteral("endConference")),
             qPrintable(m_delegate.calls.join(u',')));
}

void TestEngine::openAlice()
{
    if (m_alice.state() == QAbstractSocket::ConnectedState)
        return;
    m_alice.open(conferenceUrl());
    QTRY_COMPARE(m_alice.state(), QAbstractSocket::ConnectedState);
    m_alice.sendTextMessage(
        QStringLiteral(R"({"type":"signIn","user":"alice","password":"alice1234"})"));
    QTRY_COMPARE(m_host->database().entry(1002)->presence, QStringLiteral("Online"));
}

void TestEngine::incomingCall_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("declined") << false;
    QTest::newRow("accepted") << true;
}

void TestEngine::incomingCall()
{
    QFETCH(bool, accept);
    // Demo signed in and out of any call; the guest waits in demo's room.
    if (!signedIn() || !outOfCall())
        return;
    if (m_peer.state() != QAbstractSocket::ConnectedState)
        guestJoins();
    openAlice();
    m_alice.sendTextMessage(QStringLiteral(R"({"type":"leave"})"));
    QTRY_VERIFY(m_host->database().entry(1002)->presence == QStringLiteral("Online"));
    m_delegate.calls.clear();
    joinAs(QStringLiteral("alice"), QStringLiteral("1001")); // Alice enters demo's own room
    QVERIFY2(waitForCall(QStringLiteral("call:Alice 王丽")),
             qPrintable(m_delegate.calls.join(u',')));
    QCOMPARE(OutEventState::incommingcallName(), QStringLiteral("Alice 王丽"));
    QSignalSpy answered(&m_host->conferenceHub(), &ConferenceHub::callAnswered);
    const int present = m_host->conferenceHub().occupancy(1001);
    TRQClientInEvent::ClientSyncRequestAcceptIncomeCall(accept);
    if (!accept) {
        QTRY_COMPARE(answered.size(), 1);
        QCOMPARE(answered.first().at(1).toBool(), false);
        QCOMPARE(m_host->conferenceHub().occupancy(1001), present); // demo stayed out
        QVERIFY(!m_delegate.calls.contains(QStringLiteral("addControllView")));
        QVERIFY(!AppStatus::shareStatus()->isInConference());
        return;
    }
    QVERIFY(waitForCall(QStringLiteral("addControllView")));
    QTRY_VERIFY(AppStatus::shareStatus()->isInConference());
    QCOMPARE(m_host->conferenceHub().occupancy(1001), present + 1);
    // The guest who stayed, Alice and demo.
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 3);
}

void TestEngine::farEndMute()
{
    bool muted = false;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::changeMicFormNet, &context, [&](const Notification &n) {
            muted = n.userInfo.value(QStringLiteral("isMuted")).toBool();
        });
    if (!signedIn() || !outOfCall())
        return;
    openAlice();
    // Alice opens her own room, demo joins it, and Alice as its owner mutes demo.
    joinAs(QStringLiteral("alice"), QStringLiteral("1002"));
    QTRY_COMPARE(m_host->database().entry(1002)->presence, QStringLiteral("Busy"));
    m_delegate.calls.clear();
    joinAs(QStringLiteral("demo"), QStringLiteral("1002"));
    QVERIFY(waitForCall(QStringLiteral("addControllView")));
    portalAs(QStringLiteral("alice"),
             QStringLiteral("<ns1:MuteAudioRequest><ns1:conferenceID>1002</ns1:conferenceID>"
                            "<ns1:participantID>u1001</ns1:participantID></ns1:MuteAudioRequest>"),
             QStringLiteral("MuteAudioRequest"));
    QTRY_VERIFY(muted);
    TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    QVERIFY(waitForCall(QStringLiteral("endConference")));
}

void TestEngine::signedInElsewhere()
{
    if (!signedIn())
        return;
    m_delegate.calls.clear();
    QWebSocket elsewhere;
    elsewhere.open(conferenceUrl());
    QTRY_COMPARE(elsewhere.state(), QAbstractSocket::ConnectedState);
    elsewhere.sendTextMessage(
        QStringLiteral(R"({"type":"signIn","user":"demo","password":"demo1234"})"));
    QVERIFY(waitForCall(QStringLiteral("alert:账号在别处登陆")));
    QCOMPARE(m_delegate.calls.first(), QStringLiteral("closeAll"));
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
}

void TestEngine::guestJoin_data()
{
    QTest::addColumn<QString>("roomKey");
    QTest::addColumn<QString>("pin");
    QTest::addColumn<QString>("reason"); // empty: the join succeeds
    QTest::newRow("wrong PIN") << keyOf(2001) << "9999"
                               << "入会失败,请检查入会链接";
    QTest::newRow("no such room") << QStringLiteral("NoSuchRoom") << ""
                                  << "入会失败,请检查入会链接";
    QTest::newRow("full room") << keyOf(2003) << ""
                               << "当前房间的并发数已满,无法入会";
    QTest::newRow("right PIN") << keyOf(2001) << "1234"
                               << "";
}

void TestEngine::guestJoin()
{
    QFETCH(QString, roomKey);
    QFETCH(QString, pin);
    QFETCH(QString, reason);
    QString failure;
    bool joined = false;
    QObject context;
    auto *center = NotificationCenter::defaultCenter();
    center->addObserver(NotificationCenter::roomLinkError, &context, [&](const Notification &n) {
        failure = n.object.toMap().value(QStringLiteral("reason")).toString();
    });
    center->addObserver(NotificationCenter::joinConferenceSuccess, &context,
                        [&](const Notification &) { joined = true; });
    m_delegate.calls.clear();
    TRQClientInEvent::ClientAsyncRequestGuestLoginWithPortal(m_portal, roomKey,
                                                             QStringLiteral("来宾"), pin);
    if (!reason.isEmpty()) {
        QTRY_COMPARE(failure, reason);
        QCOMPARE(OutEventState::flag(), 0);
        QVERIFY(!joined);
        return;
    }
    QTRY_VERIFY(joined);
    QCOMPARE(OutEventState::flag(), 100);
    QVERIFY(!AppStatus::shareStatus()->isSignIn()); // a guest never counts as signed in
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().value(0)->userName,
                 QStringLiteral("来宾"));
    TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    QVERIFY(waitForCall(QStringLiteral("endConference")));
    QCOMPARE(OutEventState::flag(), 0);
}

void TestEngine::settingsReadOftenKeepTheConnection()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("System.ecf"));
    const auto readSettings = [&path] {
        QByteArray record = ConfRecords::zeroed(ConfRecords::FilePath::Size);
        ConfRecords::writeText(record, 0, ConfRecords::FilePath::Size, path);
        ConfClientSendEvent(ConfRecords::EventFilePath, record.data(), uint32_t(record.size()));
    };
    QFile settings(path);
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[engine]\npingIntervalMs=200\nsilenceLimitMs=1000\n");
    settings.close();
    readSettings();
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(QStringLiteral("alice"),
                                                          QStringLiteral("alice1234"), m_portal);
    QTRY_VERIFY(AppStatus::shareStatus()->isSignIn());
    m_delegate.calls.clear();
    // The settings are read again and again, more often than the pings go out, for longer than
    // the silence limit (as a user changing one setting after another): the pings still go
    // out, and their answers keep the connection.
    for (int i = 0; i < 20; ++i) {
        readSettings();
        QTest::qWait(100);
    }
    QVERIFY2(!QTest::qWaitFor([this] { return m_delegate.calls.contains(u"closeAll"); }, 1000),
             qPrintable(m_delegate.calls.join(u',')));
    QVERIFY(AppStatus::shareStatus()->isSignIn());
    TRQClientInEvent::ClientAsyncRequestLogOut();
    QTRY_VERIFY(!AppStatus::shareStatus()->isSignIn());
}

void TestEngine::silentServiceIsDropped()
{
    QTemporaryDir dir;
    QFile settings(dir.filePath(QStringLiteral("System.ecf")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[engine]\npingIntervalMs=200\nsilenceLimitMs=1500\n");
    settings.close();
    QByteArray path = ConfRecords::zeroed(ConfRecords::FilePath::Size);
    ConfRecords::writeText(path, 0, ConfRecords::FilePath::Size, settings.fileName());
    ConfClientSendEvent(ConfRecords::EventFilePath, path.data(), uint32_t(path.size()));

    // Alice signs in through a relay that then goes silent without closing anything.
    TcpRelay relay(m_host->config().portalPort);
    m_delegate.calls.clear();
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(
        QStringLiteral("alice"), QStringLiteral("alice1234"),
        QStringLiteral("http://127.0.0.1:%1").arg(relay.port()));
    QVERIFY2(waitForCall(QStringLiteral("loginSuccess")), qPrintable(m_delegate.calls.join(u',')));
    relay.freeze();
    QVERIFY(waitForCall(QStringLiteral("closeAll")));
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
}

void TestEngine::serviceGoesAway()
{
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(QStringLiteral("alice"),
                                                          QStringLiteral("alice1234"), m_portal);
    QTRY_VERIFY(AppStatus::shareStatus()->isSignIn());
    m_delegate.calls.clear();
    m_deployment
        ->stop(); // the deployment stops: the engine reports the sign-out instead of hanging
    QVERIFY(waitForCall(QStringLiteral("closeAll")));
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
}

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
