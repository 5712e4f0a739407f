#include "bridge/ConfClientDelegate.h"
#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "bridge/TRQClientOnOutEvent.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/MessageModel.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/RecordingDelegate.h"
#include "tests/support/TestHome.h"

#include <QTest>
#include <QThread>

namespace CR = ConfRecords;

class TestOutEvents : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void signInErrors_data();
    void signInErrors();
    void signInAfterRoomLinkIsNoUserSignIn();
    void roomLinkErrors_data();
    void roomLinkErrors();
    void signOut_data();
    void signOut();
    void conferenceLifecycle();
    void incomingCall();
    void remoteShares();
    void commandsFromChat_data();
    void commandsFromChat();
    void followUps();
    void farEndMute();
    void queuedWorkEndsWithTheDelegate_data();
    void queuedWorkEndsWithTheDelegate();

private:
    void fire(uint32_t event, const QByteArray &record = {});
    std::unique_ptr<TestHome> m_home;
    RecordingDelegate m_delegate;
    FakeEngine &engine = FakeEngine::instance();
};

void TestOutEvents::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    TRQClientInEvent::ClientSyncRequestInit(&m_delegate, nullptr, QRect());
}

void TestOutEvents::init()
{
    engine.reset();
    m_delegate.calls.clear();
    m_delegate.mainVisible = true;
    AppStatus::shareStatus()->setIsSignIn(false);
    AppStatus::shareStatus()->setIsChangePassword(false);
    OutEventState::setFlag(0);
}

void TestOutEvents::fire(uint32_t event, const QByteArray &record)
{
    engine.fire(event, record);
    QCoreApplication::processEvents(); // the queued main-thread work
    QVERIFY(!m_delegate.offMainThread);
}

static QByteArray int32Record(int32_t value, uint32_t size = CR::Out::SignOutSize)
{
    QByteArray r = CR::zeroed(size);
    CR::writeI32(r, 0, value);
    return r;
}

void TestOutEvents::signInErrors_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("wrong password")
        << int(CR::Code::WrongPassword) << true << QStringList{"error:用户名密码错误"};
    QTest::newRow("not a portal") << int(CR::Code::NotAPortal) << true
                                  << QStringList{"error:登录地址错误"};
    QTest::newRow("untrusted certificate")
        << int(CR::Code::UntrustedCertificate) << true << QStringList{"error:服务器证书不可信"};
    QTest::newRow("other") << 7 << true << QStringList{"error:连接不到服务器"};
    QTest::newRow("0 shows nothing") << 0 << true << QStringList{};
    QTest::newRow("hidden window") << int(CR::Code::WrongPassword) << false << QStringList{};
}

void TestOutEvents::signInErrors()
{
    QFETCH(int, code);
    QFETCH(bool, visible);
    m_delegate.mainVisible = visible;
    fire(CR::OutSignInFailed, int32Record(code));
    QTEST(m_delegate.calls, "calls");
}

void TestOutEvents::signInAfterRoomLinkIsNoUserSignIn()
{
    fire(CR::OutRoomLink, int32Record(0));
    fire(CR::OutSignedIn);
    QVERIFY(m_delegate.calls.isEmpty());
    QVERIFY(!AppStatus::shareStatus()->isSignIn());

    OutEventState::setFlag(0);
    fire(CR::OutSignedIn);
    fire(CR::OutSignedIn); // once signed in, a repeat does nothing
    QCOMPARE(m_delegate.calls, QStringList{"loginSuccess"});
    QVERIFY(AppStatus::shareStatus()->isSignIn());
}

void TestOutEvents::roomLinkErrors_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused") << int(CR::Code::RoomRefused) << "入会失败,请检查入会链接";
    QTest::newRow("any other") << 5000 << "入会失败,请检查入会链接";
    QTest::newRow("full") << int(CR::Code::RoomFull) << "当前房间的并发数已满,无法入会";
}

void TestOutEvents::roomLinkErrors()
{
    QFETCH(int, result);
    QString reason;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::roomLinkError, &context, [&](const Notification &n) {
            reason = n.object.toMap().value(QStringLiteral("reason")).toString();
        });
    fire(CR::OutRoomLink, int32Record(result));
    QTEST(reason, "reason");
    QCOMPARE(OutEventState::flag(), 0);
}

void TestOutEvents::signOut_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<int>("cause");
    QTest::addColumn<bool>("changingPassword");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("server") << 0 << 0 << false << QStringList{"closeAll"};
    QTest::newRow("elsewhere") << int(CR::Code::SignedInElsewhere) << 0 << false
                               << QStringList{"closeAll", "alert:账号在别处登陆"};
    QTest::newRow("own sign-out") << int(CR::Code::SignedInElsewhere)
                                  << int(CR::Code::CauseOwnSignOut) << false << QStringList{};
    QTest::newRow("password change") << 0 << 0 << true << QStringList{};
}

void TestOutEvents::signOut()
{
    QFETCH(int, reason);
    QFETCH(int, cause);
    QFETCH(bool, changingPassword);
    AppStatus::shareStatus()->setIsSignIn(true);
    AppStatus::shareStatus()->setIsChangePassword(changingPassword);
    AppUser::defaultUser()->userName = QStringLiteral("demo");
    AppUser::updateUser();
    QByteArray record = int32Record(reason);
    record[CR::Out::SignOutCause] = char(cause);
    fire(CR::OutSignedOut, record);
    QFETCH(QStringList, calls);
    QCOMPARE(m_delegate.calls, calls);
    const bool signedOut = !calls.isEmpty();
    QCOMPARE(AppStatus::shareStatus()->isSignIn(), !signedOut);
    QCOMPARE(AppUser::defaultUser()->userName.isNull(), signedOut);
    QCOMPARE(QFile::exists(AppUser::stroePath()), !signedOut);
}

void TestOutEvents::conferenceLifecycle()
{
    bool joined = false;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::joinConferenceSuccess, &context,
        [&](const Notification &) { joined = AppStatus::shareStatus()->isInConference(); });
    fire(CR::OutConferenceActive);
    QCOMPARE(m_delegate.calls, (QStringList{"addControllView", "arrange"}));
    QVERIFY(joined);
    QCOMPARE(CR::readText(engine.calls(CR::RequestSelfName).value(0).bytes, CR::SelfName::Name,
                          CR::SelfName::NameWidth),
             QStringLiteral("我"));
    QCOMPARE(CR::readU32(engine.calls(CR::EventPreviewMode).value(0).bytes, 0), 2u);

    fire(CR::OutParticipantsChanged);
    OutEventState::setFlag(100);
    fire(CR::OutConferenceEnded);
    QCOMPARE(m_delegate.calls, (QStringList{"addControllView", "arrange", "participants",
                                            "closeConference", "endConference"}));
    QVERIFY(!AppStatus::shareStatus()->isInConference());
    QCOMPARE(OutEventState::flag(), 0);
}

void TestOutEvents::incomingCall()
{
    QByteArray record = CR::zeroed(CR::Out::CallerNameWidth);
    CR::writeText(record, 0, CR::Out::CallerNameWidth, QStringLiteral("Alice 王丽"));
    fire(CR::OutIncomingCall, record);
    QCOMPARE(engine.calls(CR::EventRinging).value(0).bytes, QByteArray(1, '\0'));
    QCOMPARE(OutEventState::incommingcallName(), QStringLiteral("Alice 王丽"));
    fire(CR::OutIncomingCallTimeout);
    QCOMPARE(m_delegate.calls, (QStringList{"call:Alice 王丽", "callTimeout"}));
}

void TestOutEvents::remoteShares()
{
    namespace R = CR::RemoteShare;
    QByteArray shares = CR::zeroed(R::Size);
    CR::writeText(shares, R::Uris + 1 * CR::TextWidth, CR::TextWidth, QStringLiteral("share-a"));
    CR::writeText(shares, R::Uris + 2 * CR::TextWidth, CR::TextWidth, QStringLiteral("share-b"));
    CR::writeI32(shares, R::Count, 2);
    engine.setAnswer(CR::RequestGetRemoteShares, shares);
    AppStatus *status = AppStatus::shareStatus();
    status->setCurrentRometeUri(QStringLiteral(""));

    QByteArray event = CR::zeroed(CR::TextWidth);
    CR::writeText(event, 0, CR::TextWidth, QStringLiteral("share-x"));
    fire(CR::OutRemoteShareStarted, event); // not in the list
    QVERIFY(engine.calls(CR::RequestSelectRemoteShare).isEmpty());
    CR::writeText(event, 0, CR::TextWidth, QStringLiteral("share-b"));
    fire(CR::OutRemoteShareStarted, event);
    const QByteArray chosen = engine.calls(CR::RequestSelectRemoteShare).value(0).bytes;
    QCOMPARE(CR::readI32(chosen, R::CurrentIndex), 2);
    QCOMPARE(CR::readU32(chosen, R::Mode), R::ModeShow);
    QCOMPARE(status->currentRometeUri(), QStringLiteral("share-b"));

    CR::writeText(event, 0, CR::TextWidth, QStringLiteral("share-a"));
    fire(CR::OutRemoteShareEnded, event); // not the watched one
    QCOMPARE(status->currentRometeUri(), QStringLiteral("share-b"));

    engine.setAnswer(CR::RequestGetRemoteShares, [](QByteArray &r) {
        CR::writeText(r, R::Uris + CR::TextWidth, CR::TextWidth, QStringLiteral("share-a"));
        CR::writeI32(r, R::Count, 1);
        CR::writeI32(r, R::CurrentIndex, 1);
        return 0u;
    });
    CR::writeText(event, 0, CR::TextWidth, QStringLiteral("share-b"));
    fire(CR::OutRemoteShareEnded, event);
    QCOMPARE(CR::readU32(engine.calls(CR::RequestSelectRemoteShare).last().bytes, R::Mode),
             R::ModeRemoved);
    QCOMPARE(status->currentRometeUri(), QStringLiteral("share-a"));

    engine.setAnswer(CR::RequestGetRemoteShares, CR::zeroed(R::Size));
    CR::writeText(event, 0, CR::TextWidth, QStringLiteral("share-a"));
    fire(CR::OutRemoteShareEnded, event);
    QCOMPARE(status->currentRometeUri(), QStringLiteral(""));
}

void TestOutEvents::commandsFromChat_data()
{
    QTest::addColumn<uint32_t>("event");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("posted");
    QTest::newRow("group command") << CR::OutGroupChat << "#TRQCOMMAND#u1002#1&x"
                                   << "conf-u1002"
                                   << "GroupChat";
    QTest::newRow("private command") << CR::OutPrivateChat << "#TRQCOMMAND#u1002#2&x"
                                     << "conf-u1002"
                                     << "PrivateChat";
    QTest::newRow("forged mark") << CR::OutPrivateChat << "#TRQCOMMAND#u1003#1&x"
                                 << "conf-u1002"
                                 << "";
    QTest::newRow("plain chat") << CR::OutGroupChat << "你好"
                                << "conf-u1002"
                                << "";
}

void TestOutEvents::commandsFromChat()
{
    QFETCH(uint32_t, event);
    QFETCH(QString, message);
    QFETCH(QString, sender);
    QString posted;
    QString text;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::changeSpeakerFormNet, &context, [&](const Notification &n) {
            const auto model = n.object.value<std::shared_ptr<MessageModel>>();
            posted = model->msgType;
            text = model->msg;
            QCOMPARE(model->thread(), qApp->thread());
        });
    QByteArray record = CR::zeroed(CR::Out::ChatSize);
    CR::writeText(record, CR::Out::ChatSenderUri, CR::TextWidth, sender);
    CR::writeText(record, CR::Out::ChatSenderName, CR::Out::ChatSenderNameWidth,
                  QStringLiteral("Alice"));
    CR::writeText(record, CR::Out::ChatMessage, CR::Out::ChatMessageWidth, message);
    fire(event, record);
    QTEST(posted, "posted");
    if (!posted.isEmpty())
        QCOMPARE(text, message);
}

void TestOutEvents::followUps()
{
    fire(CR::OutStarted);
    const QString path =
        CR::readText(engine.calls(CR::EventFilePath).value(0).bytes, 0, CR::FilePath::Size);
    QVERIFY(path.endsWith(QStringLiteral("System.ecf")));
    fire(CR::OutSignInState, int32Record(0, CR::Out::SignInStateSize));
    QCOMPARE(engine.calls(CR::EventSignInContinue).size(), 1);
    fire(CR::OutSignInState, int32Record(5, CR::Out::SignInStateSize));
    QCOMPARE(engine.calls(CR::EventSignInContinue).size(), 1);
    fire(CR::OutApplyConfiguration);
    QCOMPARE(engine.calls(CR::RequestSetConfiguration).size(), 1);
    engine.reset();
    fire(42);
    fire(100000);
    QVERIFY(engine.calls().isEmpty());
    QVERIFY(m_delegate.calls.isEmpty());
}

void TestOutEvents::farEndMute()
{
    QList<bool> states;
    QObject context;
    NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::changeMicFormNet, &context, [&](const Notification &n) {
            states.append(n.userInfo.value(QStringLiteral("isMuted")).toBool());
        });
    fire(CR::OutFarEndMute, QByteArray(1, '\1'));
    fire(CR::OutFarEndMute, QByteArray(1, '\0'));
    fire(CR::OutFarEndMute); // no record at all
    QCOMPARE(states, (QList<bool>{true, false, false}));
}

void TestOutEvents::queuedWorkEndsWithTheDelegate_data()
{
    QTest::addColumn<bool>("attached");
    QTest::addColumn<bool>("delegateGone");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("delegate kept") << true << false << QStringList{QStringLiteral("participants")};
    QTest::newRow("delegate gone before the work runs") << true << true << QStringList();
    QTest::newRow("delegate detached before the event") << false << false << QStringList();
}

void TestOutEvents::queuedWorkEndsWithTheDelegate()
{
    QFETCH(bool, attached);
    QFETCH(bool, delegateGone);
    QStringList seen;
    auto delegate = std::make_unique<RecordingDelegate>();
    delegate->alsoTo = &seen;
    OutEventState::attach(delegate.get());
    if (!attached)
        OutEventState::detach(delegate.get());
    TRQClientOnOutEvent(CR::OutParticipantsChanged, nullptr, 0, delegate.get());
    QVERIFY(seen.isEmpty()); // queued, not run at once
    if (delegateGone)
        delegate.reset();
    QCoreApplication::processEvents();
    QTEST(seen, "calls");
}

QTEST_GUILESS_MAIN(TestOutEvents)
#include "tst_outevents.moc"
