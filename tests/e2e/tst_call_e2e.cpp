#include "app/AppDelegate.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/conference/ScreenSouseViewController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/widgets/Popover.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <limits>

/// Two real engines in one call: this process's client with its windows (A, demo), and a
/// second participant (B, alice) run by the engine driver in a process of its own.
class TestCallEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void call();

private:
    // The steps of one call, each starting where the one before ended.
    void bothSignIn();
    void aJoinsAndBAcceptsTheCall();
    void aSharesAndBWatches();
    void theOwnerMutesA();
    void bBlocksTheSpeakerOfA();
    void aLeaves();

    void tellB(const QString &line) { m_b.write((line + u'\n').toUtf8()); }
    /// Waits for a line from B that starts with `prefix`; returns it, or an empty text.
    QString fromB(const QString &prefix, int timeoutMs = 15000);
    ContactWindowController *mainWindow() const
    {
        return m_app->loginVc()->contactWindowController();
    }
    ControlWindowController *bar() const
    {
        return JoinConferenceWindowController::sharedJoinWindow()->controlWindowVc();
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<AppDelegate> m_app;
    QProcess m_b;
    QStringList m_bLines;
    QByteArray m_bPending;
};

QString TestCallEndToEnd::fromB(const QString &prefix, int timeoutMs)
{
    QString found;
    (void)QTest::qWaitFor(
        [&] {
            m_bPending += m_b.readAllStandardOutput();
            for (qsizetype end = m_bPending.indexOf('\n'); end >= 0;
                 end = m_bPending.indexOf('\n')) {
                m_bLines.append(QString::fromUtf8(m_bPending.left(end)));
                m_bPending.remove(0, end + 1);
            }
            for (qsizetype i = 0; i < m_bLines.size(); ++i)
                if (m_bLines[i].startsWith(prefix)) {
                    found = m_bLines.takeAt(i);
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

void TestCallEndToEnd::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    // The deployment announces a release: keep its prompt off the windows under test.
    Preferences().setSystemTime(std::numeric_limits<qint64>::max());
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
    m_b.setProcessChannelMode(QProcess::SeparateChannels);
    m_b.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(m_b.waitForStarted());
    QVERIFY(!fromB(QStringLiteral("ready")).isEmpty());
    m_app = std::make_unique<AppDelegate>();
    m_app->applicationDidFinishLaunching();
    QTRY_VERIFY(m_app->engineStarted()); // once the login window has painted
}

void TestCallEndToEnd::cleanupTestCase()
{
    tellB(QStringLiteral("logout"));
    m_b.closeWriteChannel();
    if (!m_b.waitForFinished(5000))
        m_b.kill();
}

void TestCallEndToEnd::call()
{
    using Self = TestCallEndToEnd;
    for (const auto step :
         {&Self::bothSignIn, &Self::aJoinsAndBAcceptsTheCall, &Self::aSharesAndBWatches,
          &Self::theOwnerMutesA, &Self::bBlocksTheSpeakerOfA, &Self::aLeaves}) {
        (this->*step)();
        if (QTest::currentTestFailed())
            return;
    }
}

void TestCallEndToEnd::bothSignIn()
{
    LoginViewController *login = m_app->loginVc();
    QTest::keyClicks(login->ipField(), m_services->host());
    QTest::keyClicks(login->nameField(), QStringLiteral("demo"));
    QTest::keyClicks(login->passField(), QStringLiteral("demo1234"));
    QTest::mouseClick(login->loginButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && mainWindow()->isVisible(), 15000);
    tellB(QStringLiteral("login alice alice1234 ") + m_services->portal());
    QVERIFY(!fromB(QStringLiteral("loginSuccess")).isEmpty());
    tellB(QStringLiteral("entity 1002"));
    QTRY_VERIFY_WITH_TIMEOUT(!mainWindow()->contactList()->contactsArray().isEmpty(), 10000);
}

void TestCallEndToEnd::aJoinsAndBAcceptsTheCall()
{
    ContactListViewController *list = mainWindow()->contactList();
    int alice = -1;
    for (int row = 0; row < list->rows().size(); ++row)
        if (list->rows()[row]->displayName == u"Alice 王丽")
            alice = row;
    QVERIFY(alice >= 0);
    QTest::mouseClick(list->tableView()->viewport(), Qt::LeftButton, {},
                      list->tableView()->visualItemRect(list->tableView()->item(alice)).center());
    QVERIFY(list->contactDetailVc()->isVisible());
    list->contactDetailVc()->joinConferenceButton()->click();
    // Joining Alice's own room rings Alice.
    QCOMPARE(fromB(QStringLiteral("call:")), QStringLiteral("call:演示用户"));
    tellB(QStringLiteral("accept 1"));
    QVERIFY(!fromB(QStringLiteral("conference")).isEmpty());
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    QTRY_VERIFY_WITH_TIMEOUT(conference->isVisible() && bar(), 10000);
    QVERIFY(!mainWindow()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(conference->contentViewController()->titleLabel()->text(),
                              QStringLiteral("在Alice 王丽的房间里(2人)"), 10000);
    tellB(QStringLiteral("participants"));
    const QString people = fromB(QStringLiteral("people:"));
    QCOMPARE(people.count(u'|'), 1); // two of them
    QVERIFY(people.contains(QStringLiteral("演示用户=")));
}

void TestCallEndToEnd::aSharesAndBWatches()
{
    bar()->shareButton()->click();
    auto *sources = qobject_cast<ScreenSouseViewController *>(bar()->sharePopover()->content());
    QVERIFY(sources);
    QCOMPARE(sources->tableView()->item(0)->text(), QStringLiteral("  共享屏幕-全屏"));
    sources->tableView()->setCurrentRow(0);
    QVERIFY(!bar()->sharePopover()->isVisible());
    // B's list as B reads it now; asked again until the share has reached it.
    const auto sharesAtB = [this] {
        tellB(QStringLiteral("shares"));
        return fromB(QStringLiteral("shares:"));
    };
    QTRY_COMPARE(sharesAtB(), QStringLiteral("shares:屏幕 1|停止接受远程共享"));
    tellB(QStringLiteral("watch 0"));
    QVERIFY(fromB(QStringLiteral("watching:")).contains(QStringLiteral("-u1001;")));
    // Stopping: the last row of A's list.
    bar()->shareButton()->click();
    sources = qobject_cast<ScreenSouseViewController *>(bar()->sharePopover()->content());
    sources->tableView()->setCurrentRow(sources->tableView()->count() - 1);
    QTRY_COMPARE(sharesAtB(), QStringLiteral("shares:停止接受远程共享"));
}

void TestCallEndToEnd::theOwnerMutesA()
{
    // B owns the room: its portal request mutes A, whose microphone button locks.
    QVERIFY(bar()->micButton()->isEnabled());
    tellB(QStringLiteral("mute u1001"));
    QCOMPARE(fromB(QStringLiteral("muted:")), QStringLiteral("muted:1"));
    QTRY_VERIFY_WITH_TIMEOUT(!bar()->micButton()->isEnabled(), 10000);
    QCOMPARE(bar()->imageOf(bar()->micButton()), QStringLiteral("mic_off"));
}

void TestCallEndToEnd::bBlocksTheSpeakerOfA()
{
    tellB(QStringLiteral("participants"));
    QString aUri;
    for (const QString &entry : fromB(QStringLiteral("people:")).mid(7).split(u'|'))
        if (entry.startsWith(QStringLiteral("演示用户=")))
            aUri = entry.section(u'=', 1);
    QVERIFY(!aUri.isEmpty());
    tellB(QStringLiteral("chat %1 #TRQCOMMAND#u1002#1&block").arg(aUri));
    QTRY_VERIFY_WITH_TIMEOUT(!bar()->speakerButton()->isEnabled(), 10000);
    QCOMPARE(bar()->imageOf(bar()->speakerButton()), QStringLiteral("voice_off"));
    // A's answer reaches B as a command of A's.
    QCOMPARE(fromB(QStringLiteral("command:")),
             QStringLiteral("command:#TRQCOMMAND#u1001#3&BlockSpeakerStateOK"));
    tellB(QStringLiteral("chat %1 #TRQCOMMAND#u1002#2&free").arg(aUri));
    QTRY_VERIFY_WITH_TIMEOUT(bar()->speakerButton()->isEnabled(), 10000);
    QCOMPARE(fromB(QStringLiteral("command:")),
             QStringLiteral("command:#TRQCOMMAND#u1001#4&UnBlockSpeakerStateOK"));
}

void TestCallEndToEnd::aLeaves()
{
    bar()->leaveButton()->click();
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    QVERIFY(!conference->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow()->isVisible(), 10000);
    QTRY_VERIFY(!AppStatus::shareStatus()->isInConference());
    QVERIFY(!fromB(QStringLiteral("participants:1")).isEmpty()); // B stays, alone
}

QTEST_MAIN(TestCallEndToEnd)
#include "tst_call_e2e.moc"
