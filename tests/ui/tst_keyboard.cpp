#include "bridge/shared/ConfRecords.h"
#include "model/Preferences.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHost.h"
#include "tests/ui/UiHarness.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/JoinProgressWindow.h"
#include "ui/main/LoginViewController.h"
#include "ui/main/OutsideContactDetailViewController.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace CR = ConfRecords;

/// The login, the contact list and the conference's control bar driven by the keyboard alone,
/// as a screen reader user meets them.
class TestKeyboard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void loginByKeyboard();
    void contactRowNames_data();
    void contactRowNames();
    void contactListByKeyboard();
    void outsideContactByKeyboard();
    void controlBarByKeyboard();

private:
    static QString nameOf(QObject *object)
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
        return iface ? iface->text(QAccessible::Name) : QStringLiteral("<none>");
    }
    /// The list as a screen reader meets it now: without one attached Qt is not told of model
    /// changes and keeps the cells of an earlier state.
    static QAccessibleInterface *listInterface(QListWidget *list)
    {
        if (QAccessibleInterface *old = QAccessible::queryAccessibleInterface(list))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
        return QAccessible::queryAccessibleInterface(list);
    }
    static QWidget *focused() { return QApplication::focusWidget(); }
    static void press(Qt::Key key) { QTest::keyClick(focused(), key); }
    /// Keeps a picture of `widget` for a person to look at when ORVALE_TEST_SHOTS names a folder.
    static void keepShot(QWidget *widget, const QString &name)
    {
        const QString folder = qEnvironmentVariable("ORVALE_TEST_SHOTS");
        if (!folder.isEmpty())
            widget->grab().save(QDir(folder).filePath(name));
    }
    ContactListViewController *list() const
    {
        return m_app->delegate()->loginVc()->contactWindowController()->contactList();
    }
    int rowOf(const QString &name) const { return list()->rowOf(name); }

    std::unique_ptr<UiHarness> m_app;
};

void TestKeyboard::initTestCase()
{
    QAccessible::setActive(true);
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
}

void TestKeyboard::init()
{
    m_app->launch();
    if (QByteArray(QTest::currentTestFunction()) == "loginByKeyboard")
        return;
    QVERIFY(m_app->signInAsDemo());
    QTRY_VERIFY_WITH_TIMEOUT(!list()->contactsArray().isEmpty(), 10000);
}

void TestKeyboard::cleanup()
{
    QVERIFY(m_app->quit());
}

void TestKeyboard::loginByKeyboard()
{
    LoginViewController *login = m_app->delegate()->loginVc();
    QWidget *window = login->window();
    window->show();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    login->ipField()->clear();
    login->nameField()->clear();
    login->passField()->clear();
    login->ipField()->setFocus();
    QTRY_COMPARE(focused(), login->ipField());

    const struct
    {
        QWidget *widget;
        QString name;
        QString typed;
    } walk[] = {
        {login->ipField(), QStringLiteral("服务器地址"), m_app->host()},
        {login->nameField(), QStringLiteral("用户名"), QStringLiteral("demo")},
        {login->passField(), QStringLiteral("密码"), QStringLiteral("demo1234")},
        {login->remberPass(), QStringLiteral("记住密码"), {}},
        {login->autoLoginBox(), QStringLiteral("自动登录"), {}},
        {login->loginButton(), QStringLiteral("登录"), {}},
    };
    for (const auto &step : walk) {
        QCOMPARE(focused(), step.widget);
        QCOMPARE(nameOf(focused()), step.name);
        if (!step.typed.isEmpty())
            QTest::keyClicks(focused(), step.typed);
        if (step.widget == login->nameField()) {
            // A frameless field shows its focus on the line under it.
            const QPoint below = login->nameField()->geometry().bottomLeft() + QPoint(4, 1);
            const QImage image = login->grab().toImage();
            QCOMPARE(image.pixelColor(below), QColor(51, 76, 136));
            const QPoint other = login->passField()->geometry().bottomLeft() + QPoint(4, 1);
            QVERIFY(image.pixelColor(other) != QColor(51, 76, 136));
            keepShot(window, QStringLiteral("login-focused-field.png"));
        }
        if (step.widget != login->loginButton())
            press(Qt::Key_Tab);
        else
            keepShot(window, QStringLiteral("login-focused-button.png"));
    }
    QCOMPARE(login->ipField()->text(), m_app->host());
    QVERIFY(!login->remberPass()->isChecked()); // walked past, not changed

    FakeEngine::instance().reset();
    press(Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty(), 10000);
    QCOMPARE(UiHarness::sentText(CR::EventSignIn, CR::SignIn::UserName, CR::SignIn::UserNameWidth),
             QStringLiteral("demo"));
    UiHarness::fire(CR::OutSignedIn);
    QTRY_VERIFY_WITH_TIMEOUT(
        login->contactWindowController() && login->contactWindowController()->isVisible(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!list()->contactsArray().isEmpty(), 10000);
}

void TestKeyboard::contactRowNames_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("spoken");
    QTest::newRow("the own room") << "演示用户"
                                  << "演示用户，会议室";
    QTest::newRow("online") << "Alice 王丽"
                            << "Alice 王丽，在线";
    QTest::newRow("busy") << "Carol 张琳"
                          << "Carol 张琳，忙碌";
    QTest::newRow("offline") << "Bob 李波"
                             << "Bob 李波，离线";
}

void TestKeyboard::contactRowNames()
{
    QFETCH(QString, entry);
    QFETCH(QString, spoken);
    QAccessibleInterface *table = listInterface(list()->tableView());
    QVERIFY(table);
    QCOMPARE(table->text(QAccessible::Name), QStringLiteral("联系人列表"));
    QCOMPARE(table->childCount(), list()->tableView()->count());
    const int row = rowOf(entry);
    QVERIFY(row >= 0);
    QAccessibleInterface *cell = table->child(row);
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Name), spoken);
}

void TestKeyboard::contactListByKeyboard()
{
    ContactWindowController *main = m_app->delegate()->loginVc()->contactWindowController();
    QApplication::setActiveWindow(main);
    QVERIFY(QTest::qWaitForWindowActive(main));
    list()->searchField()->setFocus();
    QTRY_COMPARE(focused(), list()->searchField());
    QCOMPARE(nameOf(focused()), QStringLiteral("搜索联系人"));
    QCOMPARE(nameOf(list()->clearSearchBarButton()), QStringLiteral("搜索"));

    press(Qt::Key_Tab);
    QListWidget *table = list()->tableView();
    QCOMPARE(focused(), table);
    QCOMPARE(table->currentRow(), 0);
    const int alice = rowOf(QStringLiteral("Alice 王丽"));
    QVERIFY(alice > 0);
    for (int row = 0; row < alice; ++row)
        press(Qt::Key_Down);
    QCOMPARE(table->currentRow(), alice);
    QAccessibleInterface *tableIface = listInterface(table);
    QCOMPARE(tableIface->child(alice)->text(QAccessible::Name), QStringLiteral("Alice 王丽，在线"));
    QVERIFY(tableIface->child(alice)->state().focused);

    // The row with the keyboard is marked: the main colour down its left edge.
    const QRect rect = table->visualItemRect(table->item(alice));
    QTRY_COMPARE(table->viewport()->grab().toImage().pixelColor(1, rect.center().y()),
                 QColor(51, 76, 136));
    const QRect other = table->visualItemRect(table->item(0));
    QVERIFY(table->viewport()->grab().toImage().pixelColor(1, other.center().y()) !=
            QColor(51, 76, 136));
    keepShot(main, QStringLiteral("contact-list-focused-row.png"));

    // Enter opens the details with the keyboard on the join button; Escape comes back.
    ContactDetailViewController *details = list()->contactDetailVc();
    press(Qt::Key_Return);
    QTRY_VERIFY(list()->isPopoverShown());
    QCOMPARE(details->contact()->displayName, QStringLiteral("Alice 王丽"));
    QCOMPARE(focused(), details->joinConferenceButton());
    QCOMPARE(nameOf(focused()), QStringLiteral("加入会议"));
    QCOMPARE(nameOf(details->deleteContactButton()), QStringLiteral("删除好友"));
    keepShot(details->window(), QStringLiteral("contact-details-focused-join.png"));
    press(Qt::Key_Escape);
    QTRY_VERIFY(!list()->isPopoverShown());
    QTRY_COMPARE(focused(), table);
    QCOMPARE(table->currentRow(), alice);

    // Enter, and Enter again, joins the contact's room.
    JoinConferenceViewController *content =
        JoinConferenceWindowController::sharedJoinWindow()->contentViewController();
    content->setRoomOwnerEntity(nullptr);
    press(Qt::Key_Return);
    QTRY_COMPARE(focused(), details->joinConferenceButton());
    press(Qt::Key_Return);
    QVERIFY(!list()->isPopoverShown());
    QVERIFY(list()->joinConferenceProgressWindow()->isVisible());
    QTRY_VERIFY(content->roomOwnerEntity());
    QCOMPARE(content->roomOwnerEntity()->displayName, QStringLiteral("Alice 王丽"));
    list()->hideJoinConferenceProgressWindow();
}

void TestKeyboard::outsideContactByKeyboard()
{
    Preferences().setSearchOutsideRoom(1);
    ContactWindowController *main = m_app->delegate()->loginVc()->contactWindowController();
    QApplication::setActiveWindow(main);
    QVERIFY(QTest::qWaitForWindowActive(main));
    list()->searchField()->setFocus();
    QTRY_COMPARE(focused(), list()->searchField());
    QSignalSpy results(list()->netWorking(), &ContactListNetworking::getSearchDataSuccess);
    const QString address = QStringLiteral("2001@") + m_app->host();
    QTest::keyClicks(focused(), address);
    QCOMPARE(nameOf(list()->clearSearchBarButton()), QStringLiteral("清除搜索"));
    press(Qt::Key_Return);
    QTRY_COMPARE(results.size(), 1);
    QCOMPARE(list()->tableView()->count(), 2); // the section title and the address

    // The section title is read but never takes the keyboard.
    press(Qt::Key_Tab);
    QListWidget *table = list()->tableView();
    QCOMPARE(focused(), table);
    QCOMPARE(table->currentRow(), 1);
    press(Qt::Key_Up);
    QCOMPARE(table->currentRow(), 1);
    QAccessibleInterface *tableIface = listInterface(table);
    QCOMPARE(tableIface->child(0)->text(QAccessible::Name), QStringLiteral("外部联系人"));
    QCOMPARE(tableIface->child(1)->text(QAccessible::Name),
             address + QStringLiteral("，外部联系人"));

    press(Qt::Key_Return);
    QTRY_VERIFY(list()->isPopoverShown());
    QCOMPARE(focused(), list()->outsideVC()->joinButton());
    press(Qt::Key_Escape);
    QTRY_VERIFY(!list()->isPopoverShown());
    list()->clearSearchBar();
    Preferences().setSearchOutsideRoom(0);
}

void TestKeyboard::controlBarByKeyboard()
{
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_VERIFY(conference->controlWindowVc());
    conference->showCentred();
    ControlWindowController *bar = conference->controlWindowVc();
    QTRY_VERIFY(bar->isVisible());
    QApplication::setActiveWindow(conference);
    QVERIFY(QTest::qWaitForWindowActive(conference));

    // The window tells how to reach the bar, a window of its own.
    QCOMPARE(QAccessible::queryAccessibleInterface(conference)->text(QAccessible::Description),
             QStringLiteral("按 F6 在会议画面和控制栏之间切换"));
    QTest::keyClick(conference, Qt::Key_F6);
    QTRY_COMPARE(focused(), bar->micButton());
    QStringList names;
    QList<QWidget *> order;
    for (QWidget *start = focused(); order.size() < 12;) {
        order.append(focused());
        names.append(nameOf(focused()));
        QCOMPARE(focused()->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
        press(Qt::Key_Tab);
        if (focused() == start)
            break;
    }
    QCOMPARE(names,
             (QStringList{QStringLiteral("关闭麦克风"), QStringLiteral("关闭扬声器"),
                          QStringLiteral("关闭摄像头"), QStringLiteral("共享屏幕或窗口"),
                          QStringLiteral("观看他人的共享"), QStringLiteral("切换布局"),
                          QStringLiteral("放大最后加入的参会者"), QStringLiteral("离开会议")}));
    QCOMPARE(order.last(), bar->leaveButton());
    keepShot(bar, QStringLiteral("control-bar-focused.png"));

    // Space toggles the focused microphone; its name follows what it does now.
    QCOMPARE(focused(), bar->micButton());
    FakeEngine::instance().reset();
    press(Qt::Key_Space);
    QVERIFY(bar->micButton()->isChecked());
    QCOMPARE(nameOf(bar->micButton()), QStringLiteral("打开麦克风"));
    QAccessibleInterface *mic = QAccessible::queryAccessibleInterface(bar->micButton());
    QCOMPARE(mic->text(QAccessible::Description), QStringLiteral("麦克风已关闭"));
    QVERIFY(mic->state().checked);
    QCOMPARE(FakeEngine::instance().calls(CR::EventMuteMicrophone).size(), 1);
    press(Qt::Key_Space);
    QCOMPARE(nameOf(bar->micButton()), QStringLiteral("关闭麦克风"));

    // F6 or Escape hands the keyboard back to the conference window.
    // (The bar is a window of its own on X11 and inside the conference window on Wayland.)
    press(Qt::Key_F6);
    QTRY_VERIFY(conference->isActiveWindow());
    QVERIFY(!bar->isAncestorOf(focused()));
    if (bar->isWindow())
        QVERIFY(!bar->isActiveWindow());
    QTest::keyClick(conference, Qt::Key_F6);
    QTRY_COMPARE(focused(), bar->micButton());
    press(Qt::Key_Escape);
    QTRY_VERIFY(conference->isActiveWindow());
    QTRY_VERIFY(!bar->isAncestorOf(focused()));
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
