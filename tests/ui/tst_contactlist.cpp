#include "app/AppLanguage.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "services/DirectoryEntry.h"
#include "services/ServiceDatabase.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHost.h"
#include "tests/ui/UiHarness.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/JoinProgressWindow.h"
#include "ui/main/LoginViewController.h"
#include "ui/main/OutsideContactDetailViewController.h"
#include "ui/main/PinWindow.h"
#include "ui/main/QXContactListCellView.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/ViewHelper.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

namespace CR = ConfRecords;

/// The main window's list, search and details against the reference portal.
class TestContactList : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl &url) { m_opened.append(url); }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void listOrderAndIcons();
    void searchMode();
    void outsideSearch();
    void searchWithoutMatch();
    void searchFailsThenRetries();
    void supersededSearch();
    void addButtonCarriesWideIds_data();
    void addButtonCarriesWideIds();
    void addContactFromSearch();
    void detailFields_data();
    void detailFields();
    void labelsThroughTranslations();
    void removeContact();
    void joinPaths_data();
    void joinPaths();
    void pinJoin();
    void outsideJoin_data();
    void outsideJoin();
    void noNetwork();
    void administrationLink_data();
    void administrationLink();

private:
    ContactListViewController *list() const
    {
        return m_app->delegate()->loginVc()->contactWindowController()->contactList();
    }
    QXContactListCellView *cell(int row) const
    {
        return qobject_cast<QXContactListCellView *>(
            list()->tableView()->itemWidget(list()->tableView()->item(row)));
    }
    int rowOf(const QString &name) const { return list()->rowOf(name); }
    void search(const QString &text)
    {
        list()->searchField()->setText(text);
        list()->searchWhenEnter();
    }
    std::shared_ptr<Entity> entity(const QString &id, const QString &type, const QString &hasPin)
    {
        auto e = std::make_shared<Entity>();
        e->entityID = id;
        e->EntityType = type;
        e->displayName = QStringLiteral("房间 ") + id;
        e->roomMode = std::make_shared<RoomMode>();
        e->roomMode->hasPIN = hasPin;
        return e;
    }

    static QSet<qint64> contactIds(const ServiceDatabase &db, qint64 owner)
    {
        QSet<qint64> ids;
        for (const DirectoryEntry &entry : db.contacts(owner))
            ids.insert(entry.entityID);
        return ids;
    }

    qint64 m_demoId = 0;
    QSet<qint64> m_demoContacts; ///< as the deployment made them
    std::unique_ptr<UiHarness> m_app;
    QList<QUrl> m_opened; ///< by the desktop's browser, which a recorder replaces
};

void TestContactList::initTestCase()
{
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
    const ServiceDatabase &db = m_app->services()->database();
    const auto demo = db.account(QStringLiteral("demo"));
    QVERIFY(demo);
    m_demoId = demo->entityID;
    m_demoContacts = contactIds(db, m_demoId);
}

void TestContactList::init()
{
    m_app->launch();
    QVERIFY(m_app->signInAsDemo());
    QTRY_VERIFY_WITH_TIMEOUT(!list()->contactsArray().isEmpty(), 10000);
    AppStatus::shareStatus()->reachabilityChanged(2);
    ContactWindowController *main = m_app->delegate()->loginVc()->contactWindowController();
    QApplication::setActiveWindow(main);
}

void TestContactList::cleanup()
{
    QVERIFY(m_app->quit());
    // Cases add and remove contacts: the next one starts from the deployment's own.
    ServiceDatabase &db = m_app->services()->database();
    const QSet<qint64> now = contactIds(db, m_demoId);
    for (const qint64 added : now - m_demoContacts)
        QVERIFY(db.removeContact(m_demoId, added));
    for (const qint64 removed : m_demoContacts - now)
        QVERIFY(db.addContact(m_demoId, removed));
}

void TestContactList::listOrderAndIcons()
{
    ContactWindowController *main = m_app->delegate()->loginVc()->contactWindowController();
    QCOMPARE(main->windowTitle(), QStringLiteral("演示用户"));
    QVERIFY(!list()->activity()->isVisible());
    const EntityList &rows = list()->contactsArray();
    QCOMPARE(list()->titleLabel()->text(), QStringLiteral("我的联系人:%1").arg(rows.size()));
    QCOMPARE(rows.size(), 9); // the own room and eight contacts
    QCOMPARE(rows.first()->displayName, QStringLiteral("演示用户"));
    QCOMPARE(rows.first()->EntityType, QStringLiteral("Room"));
    for (int i = 1; i < rows.size(); ++i)
        QVERIFY(rows[i - 1]->sortId <= rows[i]->sortId);
    QVERIFY(rowOf(QStringLiteral("Alice 王丽")) < rowOf(QStringLiteral("Carol 张琳")));
    QVERIFY(rowOf(QStringLiteral("Carol 张琳")) < rowOf(QStringLiteral("Bob 李波")));
    QCOMPARE(cell(0)->iconName(), QStringLiteral("room_list"));
    QCOMPARE(cell(rowOf(QStringLiteral("Alice 王丽")))->iconName(), QStringLiteral("online_list"));
    QCOMPARE(cell(rowOf(QStringLiteral("Carol 张琳")))->iconName(), QStringLiteral("busy_list"));
    QCOMPARE(cell(rowOf(QStringLiteral("Bob 李波")))->iconName(), QStringLiteral("offline_list"));
    for (int row = 0; row < rows.size(); ++row) {
        QCOMPARE(list()->tableView()->item(row)->sizeHint().height(), 44);
        QVERIFY(cell(row)->addContactButton()->isHidden()); // all already contacts
    }
    // The web control page entry is offered to users with a role.
    QVERIFY(!list()->controlWeb()->isHidden());
    QVERIFY(list()->timer() && list()->timer()->isActive());
    QCOMPARE(list()->timer()->interval(), 30000);
    // A refresh that changes nothing keeps the rows as they are (no flicker, no scroll jump).
    QPointer<QXContactListCellView> first(cell(0));
    QSignalSpy refreshed(list()->netWorking(), &ContactListNetworking::getNetworkDataSuccess);
    QMetaObject::invokeMethod(list()->timer(), "timeout");
    QTRY_COMPARE(refreshed.size(), 1);
    QVERIFY(first);
    QCOMPARE(cell(0), first.data());
}

void TestContactList::searchMode()
{
    QSignalSpy results(list()->netWorking(), &ContactListNetworking::getSearchDataSuccess);
    list()->searchField()->setText(QStringLiteral("a"));
    QCOMPARE(list()->clearButtonImage(), QStringLiteral("close"));
    QVERIFY(!list()->isSearchIng()); // typing alone sends nothing
    list()->searchWhenEnter();
    QCOMPARE(list()->pendingSearch(), QStringLiteral("a"));
    QVERIFY(!list()->isSearchIng()); // the table shows the directory until the answer
    list()->searchWhenEnter();       // the same query again, before and after its answer
    QTRY_COMPARE(results.size(), 1);
    list()->searchWhenEnter();
    QCOMPARE(list()->pendingSearch(), QString()); // nothing sent
    QVERIFY(list()->isSearchIng());
    QCOMPARE(list()->currentSearchStr(), QStringLiteral("a"));
    QCOMPARE(list()->titleLabel()->text(), QStringLiteral("您可能想找"));
    for (const auto &e : list()->rows()) {
        QCOMPARE(e->entityIsSearched, quint64(1));
        QVERIFY(e->entityID != QStringLiteral("1001")); // never the user
    }
    // One more letter is a new query.
    list()->searchField()->setText(QStringLiteral("al"));
    list()->searchWhenEnter();
    QTRY_COMPARE(results.size(), 2);
    QCOMPARE(list()->rows().size(), 1);
    QCOMPARE(list()->rows().first()->displayName, QStringLiteral("Alice 王丽"));
    // The refresh is skipped while searching.
    QSignalSpy refreshed(list()->netWorking(), &ContactListNetworking::refreshStarted);
    QMetaObject::invokeMethod(list()->timer(), "timeout");
    QCOMPARE(refreshed.size(), 0);
    // Emptying the field by typing leaves search mode.
    list()->searchField()->clear();
    QVERIFY(!list()->isSearchIng());
    QCOMPARE(list()->clearButtonImage(), QStringLiteral("search"));
    QCOMPARE(list()->titleLabel()->text(),
             QStringLiteral("我的联系人:%1").arg(list()->contactsArray().size()));
    QCOMPARE(list()->tableView()->count(), list()->contactsArray().size());
}

void TestContactList::outsideSearch()
{
    Preferences().setSearchOutsideRoom(1);
    QSignalSpy results(list()->netWorking(), &ContactListNetworking::getSearchDataSuccess);
    search(QStringLiteral("2001@%1").arg(testHost()));
    QTRY_COMPARE(results.size(), 1);
    QCOMPARE(list()->titleLabel()->text(), QStringLiteral("您可能想找"));
    const int count = list()->tableView()->count();
    QCOMPARE(count, 2);
    QCOMPARE(list()->rows()[0]->EntityType, QStringLiteral("tableHeader"));
    QCOMPARE(list()->rows()[0]->displayName, QStringLiteral("外部联系人"));
    QCOMPARE(list()->tableView()->item(0)->sizeHint().height(), 30);
    QCOMPARE(cell(0)->iconName(), QString());
    QCOMPARE(list()->rows()[1]->EntityType, QStringLiteral("OutMember"));
    QCOMPARE(cell(1)->iconName(), QStringLiteral("online_list"));
    QCOMPARE(cell(1)->nameLabel()->text(), QStringLiteral("2001@%1").arg(testHost()));
    list()->proposeSelection(0); // the section row cannot be selected
    QVERIFY(!list()->isPopoverShown());
    QVERIFY(list()->tableView()->selectedItems().isEmpty());
    list()->proposeSelection(5); // below the last row
    QVERIFY(!list()->isPopoverShown());
    list()->proposeSelection(1);
    QVERIFY(list()->outsideVC()->isVisible());
    QCOMPARE(list()->outsideVC()->name()->text(), QStringLiteral("2001@%1").arg(testHost()));
    list()->dismissCurrentViewController();
    QVERIFY(!list()->isPopoverShown());
}

void TestContactList::searchWithoutMatch()
{
    QSignalSpy results(list()->netWorking(), &ContactListNetworking::getSearchDataSuccess);
    search(QStringLiteral("没有这个人"));
    QTRY_COMPARE(results.size(), 1);
    QCOMPARE(list()->titleLabel()->text(), QStringLiteral("未搜索到联系人"));
    QCOMPARE(list()->tableView()->count(), 0);
}

void TestContactList::searchFailsThenRetries()
{
    const auto user = AppUser::defaultUser();
    const QString auth = user->auth;
    user->auth = QStringLiteral("Basic ") + QByteArray("demo:wrong").toBase64();
    QSignalSpy results(list()->netWorking(), &ContactListNetworking::getSearchDataSuccess);
    QSignalSpy failures(list()->netWorking(), &ContactListNetworking::getSearchDataFailed);
    search(QStringLiteral("alice"));
    QTRY_COMPARE(failures.size(), 1);
    user->auth = auth;
    QCOMPARE(results.size(), 0);
    // The table and the row lookups both stay on the directory.
    QVERIFY(!list()->isSearchIng());
    QCOMPARE(list()->tableView()->count(), list()->contactsArray().size());
    const int bob = rowOf(QStringLiteral("Bob 李波"));
    QVERIFY(bob > 0);
    list()->proposeSelection(bob);
    QCOMPARE(list()->contactDetailVc()->contact()->displayName, QStringLiteral("Bob 李波"));
    list()->dismissCurrentViewController();
    // Enter with the same text tries again.
    list()->searchWhenEnter();
    QCOMPARE(list()->pendingSearch(), QStringLiteral("alice"));
    QTRY_COMPARE(results.size(), 1);
    QVERIFY(list()->isSearchIng());
    QCOMPARE(list()->rows().size(), 1);
    QCOMPARE(list()->rows().first()->displayName, QStringLiteral("Alice 王丽"));
}

void TestContactList::supersededSearch()
{
    QSignalSpy results(list()->netWorking(), &ContactListNetworking::getSearchDataSuccess);
    search(QStringLiteral("a"));
    search(QStringLiteral("grace")); // before the first answer
    QTRY_COMPARE(results.size(), 1);
    QCOMPARE(list()->currentSearchStr(), QStringLiteral("grace"));
    QCOMPARE(list()->rows().size(), 1);
    QCOMPARE(list()->rows().first()->displayName, QStringLiteral("Grace 孙歌"));
    // Leaving search mode with a search in flight drops its answer.
    search(QStringLiteral("al"));
    list()->clearSearchBar();
    QCOMPARE(list()->pendingSearch(), QString());
    QVERIFY(!list()->isSearchIng());
    QCOMPARE(list()->tableView()->count(), list()->contactsArray().size());
}

void TestContactList::addButtonCarriesWideIds_data()
{
    QTest::addColumn<QString>("entityId");
    QTest::addColumn<qint64>("tag");
    QTest::newRow("small") << "1008" << qint64(1008);
    QTest::newRow("above 32 bits") << "4294967297" << qint64(4294967297LL);
    QTest::newRow("above 2^31 - 1") << "2147483648" << qint64(2147483648LL);
    QTest::newRow("non-digit tail") << "3000000000x7" << qint64(3000000000LL);
}

void TestContactList::addButtonCarriesWideIds()
{
    QFETCH(QString, entityId);
    QFETCH(qint64, tag);
    auto e = entity(entityId, QStringLiteral("Member"), QStringLiteral("false"));
    e->isInMyContacts = QStringLiteral("false");
    QXContactListCellView cell;
    cell.setContact(e);
    QVERIFY(!cell.addContactButton()->isHidden());
    QCOMPARE(ViewHelper::tag(cell.addContactButton()), tag);
    QVERIFY(ContactListNetworking::addContactBody(ViewHelper::tag(cell.addContactButton()))
                .contains(QStringLiteral("<ns1:entityID>%1</ns1:entityID>").arg(tag)));
}

void TestContactList::addContactFromSearch()
{
    QSignalSpy results(list()->netWorking(), &ContactListNetworking::getSearchDataSuccess);
    search(QStringLiteral("grace"));
    QTRY_COMPARE(results.size(), 1);
    QCOMPARE(list()->rows().size(), 1);
    QPushButton *add = cell(0)->addContactButton();
    QVERIFY(!add->isHidden());
    QCOMPARE(ViewHelper::tag(add), 1008);
    QSignalSpy refreshed(list()->netWorking(), &ContactListNetworking::getNetworkDataSuccess);
    add->click();
    QTRY_VERIFY(!add->isEnabled());
    QTRY_COMPARE(refreshed.size(), 1); // half a second later, even in search mode
    QVERIFY(list()->isSearchIng());    // the table stays on the result
    QCOMPARE(list()->tableView()->count(), list()->searchContactsList().size());
    bool found = false;
    for (const auto &e : list()->contactsArray())
        found = found || e->displayName == u"Grace 孙歌";
    QVERIFY(found);
    // Adding again fails at the portal (already a contact? no: an invalid id).
    ViewHelper::setTag(add, 1001);
    add->setEnabled(true);
    add->click();
    QTRY_COMPARE(m_app->toasts(), QStringList{QStringLiteral("添加好友失败")});
    m_app->takeToasts();
}

void TestContactList::detailFields_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("inContacts");
    QTest::addColumn<int>("searched");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<int>("actionTag"); // 0: hidden
    QTest::newRow("online contact") << "Online"
                                    << "true" << 0 << 0 << "online_detail"
                                    << "状态在线" << 100;
    QTest::newRow("offline, not a contact") << "Offline"
                                            << "false" << 0 << 0 << "offline_detail"
                                            << "状态离线" << 101;
    QTest::newRow("busy") << "Busy"
                          << "true" << 0 << 0 << "busy_detail"
                          << "状态忙碌" << 100;
    QTest::newRow("searched contact") << "Online"
                                      << "true" << 1 << 0 << "online_detail"
                                      << "状态在线" << 0;
    QTest::newRow("a room") << "Online"
                            << "false" << 0 << 1 << "room_detail"
                            << "状态在线" << 101;
}

void TestContactList::detailFields()
{
    QFETCH(QString, status);
    QFETCH(QString, inContacts);
    QFETCH(int, searched);
    QFETCH(int, type);
    QFETCH(QString, icon);
    QFETCH(QString, statusText);
    QFETCH(int, actionTag);
    ContactDetailViewController::setShareWindowFactory([] { return new QWidget; });
    ContactDetailViewController details;
    auto e =
        entity(QStringLiteral("1005"), type ? QStringLiteral("Room") : QStringLiteral("Member"),
               QStringLiteral("false"));
    e->MemberStatus = status;
    e->isInMyContacts = inContacts;
    e->entityIsSearched = quint64(searched);
    e->extension = QStringLiteral("1005");
    e->tenant = QStringLiteral("Default");
    e->emailAddress = QStringLiteral("dave@orvale.example");
    details.setContactType(type);
    details.setContact(e);
    QCOMPARE(details.nameLabel()->text(), e->displayName);
    QCOMPARE(details.extentionLabel()->text(), QStringLiteral("分机号1005"));
    QCOMPARE(details.tenantLabel()->text(), QStringLiteral("租客Default"));
    QCOMPARE(details.ownerLabel()->text(), QStringLiteral("邮箱dave@orvale.example"));
    QCOMPARE(details.statusLabel()->text(), statusText);
    QCOMPARE(details.iconName(), icon);
    QCOMPARE(details.deleteContactButton()->isHidden(), actionTag == 0);
    if (actionTag)
        QCOMPARE(ViewHelper::tag(details.deleteContactButton()), actionTag);
    ContactDetailViewController::setShareWindowFactory({});
}

void TestContactList::labelsThroughTranslations()
{
    AppLanguage language;
    QVERIFY(language.use(AppLanguage::Language::Chinese));
    ContactDetailViewController details;
    auto e = entity(QStringLiteral("1005"), QStringLiteral("Member"), QStringLiteral("false"));
    e->extension = QStringLiteral("1005");
    e->MemberStatus = QStringLiteral("Offline");
    details.setContact(e);
    QCOMPARE(details.extentionLabel()->text(), QStringLiteral("分机号：1005"));
    QCOMPARE(details.statusLabel()->text(), QStringLiteral("状态：离线"));
}

void TestContactList::removeContact()
{
    const int before = int(list()->contactsArray().size());
    const int row = rowOf(QStringLiteral("Erin 刘怡"));
    QVERIFY(row > 0);
    list()->proposeSelection(row);
    ContactDetailViewController *details = list()->contactDetailVc();
    QVERIFY(details->isVisible());
    QCOMPARE(ViewHelper::tag(details->deleteContactButton()), 100);
    details->deleteContactButton()->click();
    QTRY_COMPARE(int(list()->contactsArray().size()), before - 1);
    QVERIFY(!list()->isPopoverShown());
    QCOMPARE(rowOf(QStringLiteral("Erin 刘怡")), -1);
    QCOMPARE(list()->titleLabel()->text(), QStringLiteral("我的联系人:%1").arg(before - 1));
    // An ID not in the list leaves the list as it is.
    list()->deleteContactWithEntityId(QStringLiteral("424242"));
    QCOMPARE(int(list()->contactsArray().size()), before - 1);
    // Removing one that is no contact any more fails at the portal; the pop-over stays.
    list()->proposeSelection(0);
    QApplication::setActiveWindow(m_app->delegate()->loginVc()->contactWindowController());
    auto erin = std::make_shared<Entity>();
    erin->entityID = QStringLiteral("1006");
    erin->isInMyContacts = QStringLiteral("true");
    erin->EntityType = QStringLiteral("Member");
    details->setContact(erin);
    details->deleteContactButton()->click();
    QTRY_COMPARE(m_app->toasts(), QStringList{QStringLiteral("删除好友失败")});
    m_app->takeToasts();
}

void TestContactList::joinPaths_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("hasPin");
    QTest::addColumn<QString>("toast");  // after a failure; empty for none
    QTest::addColumn<bool>("pinWindow"); // the PIN window comes up
    QTest::addColumn<bool>("signsInAgain");
    QTest::newRow("own room") << "1001"
                              << "Room"
                              << "false"
                              << "" << false << false;
    QTest::newRow("room with PIN, joined without") << "2001"
                                                   << "Room"
                                                   << "true"
                                                   << "" << true << false;
    QTest::newRow("full room") << "2003"
                               << "Room"
                               << "false"
                               << "所有的并发已经用完,请稍后再试" << false << false;
    QTest::newRow("no such conference") << "99"
                                        << "Room"
                                        << "false"
                                        << "不能加入会议,请稍后再试" << false << true;
    QTest::newRow("not a number") << "x&y"
                                  << "Room"
                                  << "false"
                                  << "不能加入会议,请稍后再试" << false << true;
}

void TestContactList::joinPaths()
{
    QFETCH(QString, id);
    QFETCH(QString, type);
    QFETCH(QString, hasPin);
    QFETCH(QString, toast);
    QFETCH(bool, pinWindow);
    QFETCH(bool, signsInAgain);
    FakeEngine::instance().reset();
    ContactDetailViewController *details = list()->contactDetailVc();
    details->passWindow()->hide();
    details->setDelegate(list());
    details->setContactType(type == u"Member" ? 0 : 1);
    const auto room = entity(id, type, hasPin);
    details->setContact(room);
    JoinConferenceViewController *content =
        JoinConferenceWindowController::sharedJoinWindow()->contentViewController();
    content->setRoomOwnerEntity(nullptr);
    content->setDisplayName(QString());
    details->joinConferenceButton()->click();
    QVERIFY(list()->joinConferenceProgressWindow()->isVisible());
    if (toast.isEmpty() && !pinWindow) {
        QTRY_COMPARE(content->roomOwnerEntity(), room);
        QCOMPARE(content->displayName(), room->displayName);
        QVERIFY(list()->joinConferenceProgressWindow()->isVisible()); // until the call shows
        list()->hideJoinConferenceProgressWindow();
        return;
    }
    QTRY_VERIFY(!list()->joinConferenceProgressWindow()->isVisible());
    QCOMPARE(details->passWindow()->isVisible(), pinWindow);
    if (!toast.isEmpty())
        QTRY_COMPARE(m_app->toasts(), QStringList{toast});
    QCOMPARE(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty(), signsInAgain);
    if (signsInAgain) // with the stored user
        QCOMPARE(
            UiHarness::sentText(CR::EventSignIn, CR::SignIn::UserName, CR::SignIn::UserNameWidth),
            QStringLiteral("demo"));
    QVERIFY(!content->roomOwnerEntity());
}

void TestContactList::pinJoin()
{
    ContactDetailViewController *details = list()->contactDetailVc();
    details->setDelegate(list());
    details->setContactType(0);
    const auto grace =
        entity(QStringLiteral("1008"), QStringLiteral("Member"), QStringLiteral("true"));
    details->setContact(grace);
    JoinConferenceViewController *content =
        JoinConferenceWindowController::sharedJoinWindow()->contentViewController();
    content->setRoomOwnerEntity(nullptr);
    details->joinConferenceButton()->click();
    // A member's room with a PIN: asked first, nothing sent yet.
    QVERIFY(details->passWindow()->isVisible());
    QVERIFY(!list()->joinConferenceProgressWindow()->isVisible());
    details->roomPassField()->setText(QStringLiteral("1111"));
    details->passWindow()->okButton()->click();
    QTRY_COMPARE(m_app->toasts(), QStringList{QStringLiteral("密码错误，请重新输入")});
    m_app->takeToasts();
    QVERIFY(details->passWindow()->isVisible()); // stays, with its text
    QCOMPARE(details->roomPassField()->text(), QStringLiteral("1111"));
    details->roomPassField()->setText(QStringLiteral("2468"));
    details->passWindow()->okButton()->click();
    QTRY_COMPARE(content->roomOwnerEntity(), grace);
    QVERIFY(!details->passWindow()->isVisible());
    QVERIFY(details->roomPassField()->text().isEmpty());
    QVERIFY(list()->joinConferenceProgressWindow()->isVisible());
    list()->hideJoinConferenceProgressWindow();
    // The engine reports the conference before the portal answers: no progress window then,
    // neither over the conference nor after it.
    content->setRoomOwnerEntity(nullptr);
    details->joinConferenceButton()->click();
    details->roomPassField()->setText(QStringLiteral("2468"));
    details->passWindow()->okButton()->click();
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_COMPARE(content->roomOwnerEntity(), grace);
    QVERIFY(AppStatus::shareStatus()->isInConference());
    QVERIFY(!list()->joinConferenceProgressWindow()->isVisible());
    FakeEngine::instance().fire(CR::OutConferenceEnded);
    QTRY_VERIFY(!AppStatus::shareStatus()->isInConference());
    QVERIFY(!list()->joinConferenceProgressWindow()->isVisible());
    // The same when the conference began and ended before the answer.
    content->setRoomOwnerEntity(nullptr);
    details->joinConferenceButton()->click();
    details->roomPassField()->setText(QStringLiteral("2468"));
    details->passWindow()->okButton()->click();
    FakeEngine::instance().fire(CR::OutConferenceActive);
    FakeEngine::instance().fire(CR::OutConferenceEnded);
    QTRY_COMPARE(content->roomOwnerEntity(), grace);
    QVERIFY(!AppStatus::shareStatus()->isInConference());
    QVERIFY(!list()->joinConferenceProgressWindow()->isVisible());
    ContactWindowController *main = m_app->delegate()->loginVc()->contactWindowController();
    QTRY_VERIFY(main->isVisible());
    QApplication::setActiveWindow(main);
    // Cancelling empties the field.
    details->joinConferenceButton()->click();
    details->roomPassField()->setText(QStringLiteral("9"));
    details->passWindow()->cancelButton()->click();
    QVERIFY(!details->passWindow()->isVisible());
    QVERIFY(details->roomPassField()->text().isEmpty());
}

void TestContactList::outsideJoin_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("toast");
    QTest::addColumn<bool>("pinWindow");
    QTest::newRow("wrong PIN") << QStringLiteral("2001@%1").arg(testHost()) << "" << true;
    QTest::newRow("full") << QStringLiteral("2003@%1").arg(testHost())
                          << "所有的并发许可都被使用，稍后再试" << false;
    QTest::newRow("other portal") << "2002@elsewhere"
                                  << "加入会议失败，稍后再试" << false;
    QTest::newRow("no at sign") << "2002"
                                << "加入会议失败，稍后再试" << false;
}

void TestContactList::outsideJoin()
{
    QFETCH(QString, address);
    QFETCH(QString, toast);
    QFETCH(bool, pinWindow);
    OutsideContactDetailViewController *outside = list()->outsideVC();
    outside->passWindow()->hide();
    outside->setDelegate(list());
    auto model = std::make_shared<Entity>();
    model->displayName = address;
    model->EntityType = QStringLiteral("OutMember");
    outside->setModel(model);
    outside->joinButton()->click();
    QVERIFY(list()->joinConferenceProgressWindow()->isVisible());
    QTRY_VERIFY(!list()->joinConferenceProgressWindow()->isVisible());
    QTRY_COMPARE(outside->passWindow()->isVisible(), pinWindow);
    QTRY_COMPARE(m_app->toasts(), toast.isEmpty() ? QStringList() : QStringList{toast});
    if (!pinWindow)
        return;
    // With the right PIN the room takes the outside caller; the window's content learns the
    // local part a second later.
    JoinConferenceViewController *content =
        JoinConferenceWindowController::sharedJoinWindow()->contentViewController();
    content->setDisplayName(QStringLiteral("x"));
    outside->passWindowInput()->setText(QStringLiteral("1234"));
    outside->passWindow()->okButton()->click();
    QVERIFY(!outside->passWindow()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(content->displayName(), QStringLiteral("2001"), 3000);
    QVERIFY(!content->roomOwnerEntity());
    list()->hideJoinConferenceProgressWindow();
}

void TestContactList::noNetwork()
{
    AppStatus::shareStatus()->reachabilityChanged(0);
    ContactDetailViewController *details = list()->contactDetailVc();
    details->setContact(
        entity(QStringLiteral("1001"), QStringLiteral("Room"), QStringLiteral("false")));
    details->joinConferenceButton()->click();
    QCOMPARE(m_app->takeToasts(), QStringList{QStringLiteral("网络异常")});
    QVERIFY(!list()->joinConferenceProgressWindow()->isVisible());
    ContactWindowController *window = m_app->delegate()->loginVc()->contactWindowController();
    QTRY_VERIFY(UiHarness::toastIn(window).isNull()); // one toast at a time
    list()->outsideVC()->joinButton()->click();
    QCOMPARE(m_app->takeToasts(), QStringList{QStringLiteral("网络异常")});
    // The network gone while signed in and not in a call: everything else closes, one alert.
    ContactWindowController *main = m_app->delegate()->loginVc()->contactWindowController();
    QVERIFY(main->isVisible());
    QVERIFY(!list()->outsideVC()->passWindow()->isVisible());
    list()->outsideVC()->passWindow()->show();
    AppStatus::shareStatus()->reachabilityChanged(2);
    AppStatus::shareStatus()->reachabilityChanged(0);
    QVERIFY(!list()->outsideVC()->passWindow()->isVisible());
    QMessageBox *alert = nullptr;
    int alerts = 0;
    for (QMessageBox *box : main->findChildren<QMessageBox *>())
        if (box->isVisible() && box->informativeText() == u"网络连接好像断开了") {
            alert = box;
            ++alerts;
        }
    QCOMPARE(alerts, 1); // the network went twice, one alert
    QVERIFY(alert);
    QCOMPARE(alert->text(), QStringLiteral("注意"));
    alert->buttons().first()->click();
    QVERIFY(AppUser::defaultUser()->userName == u"demo");
    AppStatus::shareStatus()->reachabilityChanged(2); // back: sign in again with the stored user
    QTRY_VERIFY(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty());
}

void TestContactList::administrationLink_data()
{
    QTest::addColumn<QString>("roleUrl"); // from the login reply
    QTest::addColumn<bool>("opens");
    QTest::newRow("the deployment's page")
        << QStringLiteral("http://%1:8080/admin/").arg(testHost()) << true;
    QTest::newRow("a local program") << "file:///usr/bin/xterm" << false;
    QTest::newRow("a script") << "javascript:alert(1)" << false;
}

void TestContactList::administrationLink()
{
    QFETCH(QString, roleUrl);
    QFETCH(bool, opens);
    const QStringList schemes{"http", "file", "javascript"};
    for (const QString &scheme : schemes)
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
    const auto unset = qScopeGuard([schemes] {
        for (const QString &scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    });
    m_opened.clear();
    AppUser::defaultUser()->roleUrl = roleUrl;
    if (!opens)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^link from the "
                                                                             "server not opened")));
    list()->showControlWebview();
    QCOMPARE(m_opened, opens ? QList<QUrl>{QUrl(roleUrl)} : QList<QUrl>());
}

QTEST_MAIN(TestContactList)
#include "tst_contactlist.moc"
