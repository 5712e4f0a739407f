#include "app/AppDelegate.h"
#include "model/AppStatus.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/JoinProgressWindow.h"
#include "ui/main/LoginViewController.h"
#include "ui/main/PinWindow.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

/// Notes every time the join progress window comes on screen, with the conference state then.
class ShowWatcher final : public QObject
{
public:
    explicit ShowWatcher(QWidget *window) { window->installEventFilter(this); }
    int shownInConference = 0;
    int shown = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            ++shown;
            shownInConference += AppStatus::shareStatus()->isInConference() ? 1 : 0;
        }
        return QObject::eventFilter(watched, event);
    }
};

/// Joins in which the engine reports the conference before the portal answers the join: the
/// deployment holds every portal reply for a while after it took effect.
class TestJoinOrderEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void joinWhileThePortalIsSlow_data();
    void joinWhileThePortalIsSlow();

private:
    static constexpr int replyDelayMs = 1500;

    ContactWindowController *mainWindow() const
    {
        return m_app->loginVc()->contactWindowController();
    }
    ContactListViewController *list() const { return mainWindow()->contactList(); }
    int rowOf(const QString &name) const { return list()->rowOf(name); }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<AppDelegate> m_app;
};

void TestJoinOrderEndToEnd::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    m_services = std::make_unique<ServicesProcess>(
        QStringLiteral(ORVALE_SERVICES), testHost(),
        QStringList{QStringLiteral("--portal-reply-delay"), QString::number(replyDelayMs)});
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
    m_app = std::make_unique<AppDelegate>();
    m_app->applicationDidFinishLaunching();
    QTRY_VERIFY(m_app->engineStarted());
    LoginViewController *login = m_app->loginVc();
    login->ipField()->setText(m_services->host());
    login->nameField()->setText(QStringLiteral("demo"));
    login->passField()->setText(QStringLiteral("demo1234"));
    login->loginButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && mainWindow()->isVisible(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!list()->contactsArray().isEmpty(), 20000);
    // Joins are refused without a network; a machine with loopback alone reports none.
    if (AppStatus::shareStatus()->networkStatus() == 0)
        AppStatus::shareStatus()->reachabilityChanged(-1);
}

void TestJoinOrderEndToEnd::joinWhileThePortalIsSlow_data()
{
    QTest::addColumn<QString>("room");
    QTest::addColumn<QString>("pin"); // empty: the room has none
    QTest::newRow("a room with a PIN") << "产品评审室"
                                       << "1234";
    QTest::newRow("a room without one") << "全员大会堂"
                                        << "";
}

void TestJoinOrderEndToEnd::joinWhileThePortalIsSlow()
{
    QFETCH(QString, room);
    QFETCH(QString, pin);
    JoinProgressWindow *progress = list()->joinConferenceProgressWindow();
    ShowWatcher watcher(progress);
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    JoinConferenceViewController *content = conference->contentViewController();
    content->setRoomOwnerEntity(nullptr); // set again by the portal's answer
    const int row = rowOf(room);
    QVERIFY(row >= 0);
    list()->proposeSelection(row);
    ContactDetailViewController *details = list()->contactDetailVc();
    QTRY_VERIFY(details->isVisible());
    details->joinConferenceButton()->click();
    if (!pin.isEmpty()) {
        // Joined without a PIN first: the portal asks for one.
        PinWindow *pinWindow = details->passWindow();
        QTRY_VERIFY_WITH_TIMEOUT(pinWindow->isVisible(), 20000);
        QVERIFY(!progress->isVisible());
        pinWindow->roomPassField()->setText(pin);
        pinWindow->okButton()->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(AppStatus::shareStatus()->isInConference(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(conference->isVisible(), 10000);
    // The portal's answer comes after the conference began.
    QVERIFY(!content->roomOwnerEntity());
    QTRY_VERIFY_WITH_TIMEOUT(content->roomOwnerEntity(), 20000);
    QCOMPARE(content->roomOwnerEntity()->displayName, room);
    QVERIFY(!details->passWindow()->isVisible());
    QVERIFY(!progress->isVisible());
    QCOMPARE(watcher.shownInConference, 0);

    conference->controlWindowVc()->leaveButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!AppStatus::shareStatus()->isInConference(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow()->isVisible(), 10000);
    QVERIFY(!progress->isVisible());
    QCOMPARE(watcher.shownInConference, 0);
}

QTEST_MAIN(TestJoinOrderEndToEnd)
#include "tst_joinorder_e2e.moc"
