#include "app/AppDelegate.h"
#include "bridge/Helper.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "net/StringHelper.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/EnterByURLWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/main/QXContactListCellView.h"
#include "ui/widgets/ToastView.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>

#include <limits>

namespace {

/// The toast shown now in a window, or a null text.
QString toastIn(QWidget *window)
{
    const ToastView *toast = ToastView::shownIn(window);
    return toast ? toast->label()->text() : QString();
}

} // namespace

/// A user's first walk through the real client, engine and deployment: sign in, the list,
/// search and add, join a room, sign out from the tray.
class TestSignInEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void firstSession();
    void guestJoinByLink_data();
    void guestJoinByLink();

private:
    // The steps of the first session, each starting where the one before ended.
    void wrongPasswordThenSignIn();
    void listContentAndOrder();
    void searchAndAdd();
    void joinARoom();
    void signOutFromTray();
    ContactWindowController *mainWindow() const
    {
        return m_app->loginVc()->contactWindowController();
    }
    ContactListViewController *list() const { return mainWindow()->contactList(); }
    int rowOf(const QString &name) const { return list()->rowOf(name); }
    void clickRow(int row)
    {
        QListWidget *table = list()->tableView();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(row)).center());
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<AppDelegate> m_app;
};

void TestSignInEndToEnd::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    // The deployment announces a release: keep its prompt off the windows under test.
    Preferences().setSystemTime(std::numeric_limits<qint64>::max());
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
    m_app = std::make_unique<AppDelegate>();
    m_app->applicationDidFinishLaunching();
    QTRY_VERIFY(m_app->engineStarted()); // once the login window has painted
    QVERIFY(QTest::qWaitForWindowExposed(m_app->window()));
}

void TestSignInEndToEnd::firstSession()
{
    using Self = TestSignInEndToEnd;
    for (const auto step : {&Self::wrongPasswordThenSignIn, &Self::listContentAndOrder,
                            &Self::searchAndAdd, &Self::joinARoom, &Self::signOutFromTray}) {
        (this->*step)();
        if (QTest::currentTestFailed())
            return;
    }
}

void TestSignInEndToEnd::wrongPasswordThenSignIn()
{
    LoginViewController *login = m_app->loginVc();
    QTest::keyClicks(login->ipField(), m_services->host());
    QTest::keyClicks(login->nameField(), QStringLiteral("demo"));
    QTest::keyClicks(login->passField(), QStringLiteral("nope"));
    QTest::keyClick(login->passField(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(login->loginButton()->isEnabled(), 10000);
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
    login->passField()->clear();
    QTest::keyClicks(login->passField(), QStringLiteral("demo1234"));
    QTest::mouseClick(login->loginButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && mainWindow()->isVisible(), 15000);
    QVERIFY(!m_app->window()->isVisible());
    QVERIFY(AppStatus::shareStatus()->isSignIn());
}

void TestSignInEndToEnd::listContentAndOrder()
{
    QTRY_VERIFY_WITH_TIMEOUT(!list()->contactsArray().isEmpty(), 10000);
    QCOMPARE(mainWindow()->windowTitle(), QStringLiteral("演示用户"));
    QCOMPARE(list()->titleLabel()->text(), QStringLiteral("我的联系人:9"));
    QCOMPARE(list()->rows().first()->displayName, QStringLiteral("演示用户"));
    QVERIFY(rowOf(QStringLiteral("Alice 王丽")) < rowOf(QStringLiteral("Carol 张琳")));
    QVERIFY(rowOf(QStringLiteral("Carol 张琳")) < rowOf(QStringLiteral("Bob 李波")));
    QCOMPARE(list()->tableView()->count(), 9);
}

void TestSignInEndToEnd::searchAndAdd()
{
    QTest::keyClicks(list()->searchField(), QStringLiteral("grace"));
    QTest::keyClick(list()->searchField(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(list()->titleLabel()->text(), QStringLiteral("您可能想找"), 10000);
    QCOMPARE(list()->tableView()->count(), 1);
    auto *cell = qobject_cast<QXContactListCellView *>(
        list()->tableView()->itemWidget(list()->tableView()->item(0)));
    QVERIFY(!cell->addContactButton()->isHidden());
    QTest::mouseClick(cell->addContactButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!cell->addContactButton()->isEnabled(), 10000);
    // Back to the list, which now holds Grace.
    list()->clearSearchBarButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(list()->titleLabel()->text(), QStringLiteral("我的联系人:10"), 10000);
    QVERIFY(rowOf(QStringLiteral("Grace 孙歌")) > 0);
}

void TestSignInEndToEnd::joinARoom()
{
    const int hall = rowOf(QStringLiteral("全员大会堂"));
    QVERIFY(hall > 0);
    clickRow(hall);
    ContactDetailViewController *details = list()->contactDetailVc();
    QVERIFY(details->isVisible());
    QCOMPARE(details->nameLabel()->text(), QStringLiteral("全员大会堂"));
    QTest::mouseClick(details->joinConferenceButton(), Qt::LeftButton);
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    QTRY_VERIFY_WITH_TIMEOUT(conference->isVisible() && conference->controlWindowVc(), 10000);
    QVERIFY(AppStatus::shareStatus()->isInConference());
    QVERIFY(!mainWindow()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(conference->contentViewController()->titleLabel()->text(),
                              QStringLiteral("在全员大会堂的房间里(1人)"), 10000);
    QVERIFY(!m_app->applicationDockMenu()); // nothing to sign out from during a call
    conference->close();
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow()->isVisible(), 10000);
    QTRY_VERIFY(!AppStatus::shareStatus()->isInConference());
}

void TestSignInEndToEnd::signOutFromTray()
{
    QMenu *menu = m_app->trayIcon()->contextMenu();
    QAction *signOut = nullptr;
    for (QAction *action : menu->actions())
        if (action->text() == u"注销")
            signOut = action;
    QVERIFY(signOut);
    signOut->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->window()->isVisible(), 10000);
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
    QVERIFY(!mainWindow()->isVisible());
    QCOMPARE(m_app->loginVc()->ipField()->text(), m_services->host()); // the fields stay
    QVERIFY(!QFile::exists(AppUser::stroePath()));
}

void TestSignInEndToEnd::guestJoinByLink_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("pin");
    QTest::addColumn<QString>("toast"); // empty: the call starts
    QTest::newRow("a full room") << m_services->roomKey(2003) << ""
                                 << "当前房间的并发数已满,无法入会";
    QTest::newRow("a wrong PIN") << m_services->roomKey(2001) << "1"
                                 << "入会失败,请检查入会链接";
    QTest::newRow("no such room") << QStringLiteral("Nowhere") << ""
                                  << "入会失败,请检查入会链接";
    QTest::newRow("the right PIN") << m_services->roomKey(2001) << "1234"
                                   << "";
}

void TestSignInEndToEnd::guestJoinByLink()
{
    QFETCH(QString, key);
    QFETCH(QString, pin);
    QFETCH(QString, toast);
    const QString link =
        QStringLiteral("orvale://join?key=%1&portal=%2&pin=%3&period=%4")
            .arg(StringHelper::base64(key), StringHelper::base64(m_services->portal()),
                 StringHelper::base64(pin),
                 Helper::getPeriodTime(QDateTime::currentDateTimeUtc(), 48));
    m_app->handleURLEvent(link);
    EnterByURLWindowController *dialog = m_app->enter();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTRY_VERIFY(toastIn(dialog).isNull());
    dialog->nameTextFiled()->setText(QStringLiteral("来访者"));
    QTest::mouseClick(dialog->joinBtn(), Qt::LeftButton);
    if (!toast.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(toastIn(dialog), toast, 10000);
        QVERIFY(dialog->joinBtn()->isEnabled());
        QVERIFY(!AppStatus::shareStatus()->isSignIn());
        return;
    }
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    QTRY_VERIFY_WITH_TIMEOUT(conference->isVisible(), 10000);
    QVERIFY(!dialog->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(conference->contentViewController()->titleLabel()->text(),
                              QStringLiteral("房间里(1人)"), 10000);
    QVERIFY(!AppStatus::shareStatus()->isSignIn()); // a guest is not signed in
    QVERIFY(conference->controlWindowVc()->shareQRCodeButton()->isHidden());
    conference->controlWindowVc()->leaveButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->window()->isVisible(), 10000); // back at the login window
}

QTEST_MAIN(TestSignInEndToEnd)
#include "tst_signin_e2e.moc"
