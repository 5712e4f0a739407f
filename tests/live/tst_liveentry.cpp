#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/LiveModel.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHost.h"
#include "tests/ui/UiHarness.h"
#include "ui/live/DirectLiveCellView.h"
#include "ui/live/DirectLiveList.h"
#include "ui/live/PlayDirectLive.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/widgets/BardgeButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTextEdit>

namespace CR = ConfRecords;

/// The live list reached from the main window against the reference deployment, and what
/// conferences, quitting and signing out do while a broadcast plays.
class TestLiveEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void listFromMainWindow();
    void conferenceClosesPlayer();
    void quitAndSignOutAsk();

private:
    ContactWindowController *main() const
    {
        return m_app->delegate()->loginVc()->contactWindowController();
    }
    DirectLiveList *page() const
    {
        return main()->viewControllers().size() > 1
                   ? qobject_cast<DirectLiveList *>(main()->viewControllers().at(1))
                   : nullptr;
    }
    PlayDirectLive *openRunning();
    static QMessageBox *visibleBox(const QString &text);

    std::unique_ptr<UiHarness> m_app;
};

void TestLiveEntry::initTestCase()
{
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
}

void TestLiveEntry::init()
{
    m_app->launch();
    QVERIFY(m_app->signInAsDemo());
}

void TestLiveEntry::cleanup()
{
    QVERIFY(m_app->quit());
}

PlayDirectLive *TestLiveEntry::openRunning()
{
    main()->contactList()->showDirctLive();
    DirectLiveList *list = page();
    if (!list || !QTest::qWaitFor([list] { return list->tableView()->count() == 2; }, 10000))
        return nullptr;
    for (int row = 0; row < 2; ++row) {
        auto *cell = qobject_cast<DirectLiveCellView *>(
            list->tableView()->itemWidget(list->tableView()->item(row)));
        if (cell->model()->timestamp <= 0)
            cell->playButton()->click();
    }
    return list->playWindow();
}

QMessageBox *TestLiveEntry::visibleBox(const QString &text)
{
    for (QWidget *widget : QApplication::allWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->informativeText() == text)
            return box;
    }
    return nullptr;
}

void TestLiveEntry::listFromMainWindow()
{
    ContactListViewController *contacts = main()->contactList();
    QVERIFY(contacts->directLive()->isVisible()); // the demo company has broadcasts
    contacts->directLiveButton()->click();
    DirectLiveList *list = page();
    QVERIFY(list);
    QTRY_VERIFY(list->isVisible());
    QVERIFY(list->isRefreshing());
    QTRY_COMPARE(list->tableView()->count(), 2);
    QStringList states;
    for (const auto &model : list->dataSourse())
        states << (model->timestamp > 0 ? QStringLiteral("coming") : QStringLiteral("running"));
    QCOMPARE(states, QStringList({QStringLiteral("running"), QStringLiteral("coming")}));
    QVERIFY(list->noLiveLabel()->isHidden());

    list->backButton()->click();
    QVERIFY(contacts->isVisible());
    QVERIFY(!list->isVisible());
    QVERIFY(!list->isRefreshing()); // no refreshes while the page is not shown
}

void TestLiveEntry::conferenceClosesPlayer()
{
    QPointer<PlayDirectLive> player = openRunning();
    QVERIFY(player && player->isVisible());
    QCOMPARE(player->windowTitle(), QStringLiteral("年度战略发布会"));
    QVERIFY(player->textView()->toPlainText().startsWith(QStringLiteral("公司年度战略发布会")));
    QVERIFY(AppStatus::shareStatus()->isDirectLive());
    FakeEngine::instance().fire(CR::OutConferenceActive);
    QTRY_VERIFY(AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(!player->isVisible());
    QVERIFY(!player->model());
    QVERIFY(!player->player()); // the stream is released
    QVERIFY(!AppStatus::shareStatus()->isDirectLive());
    FakeEngine::instance().fire(CR::OutConferenceEnded);
    QTRY_VERIFY(!AppStatus::shareStatus()->isInConference());
    QTRY_VERIFY(main()->isVisible());
}

void TestLiveEntry::quitAndSignOutAsk()
{
    QPointer<PlayDirectLive> player = openRunning();
    QVERIFY(player && player->isVisible());
    FakeEngine::instance().reset();
    QCOMPARE(m_app->delegate()->applicationShouldTerminate(), AppDelegate::TerminateReply::Later);
    QTRY_VERIFY(visibleBox(QStringLiteral("确定退出吗?")));
    for (QAbstractButton *button : visibleBox(QStringLiteral("确定退出吗?"))->buttons())
        if (button->text() == u"取消")
            button->click();
    QVERIFY(FakeEngine::instance().calls(CR::EventSignOut).isEmpty());

    m_app->delegate()->resignDockAction();
    QTRY_VERIFY(visibleBox(QStringLiteral("确定注销吗?")));
    QVERIFY(FakeEngine::instance().calls(CR::EventSignOut).isEmpty()); // asked first
    QMessageBox *box = visibleBox(QStringLiteral("确定注销吗?"));
    for (QAbstractButton *button : box->buttons())
        if (button->text() == u"确定")
            button->click();
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);
    QVERIFY(player->isVisible()); // closed when the engine reports the sign-out
    UiHarness::fire(CR::OutSignedOut, 0, 12);
    QTRY_VERIFY(!player->isVisible());
    QVERIFY(!AppStatus::shareStatus()->isDirectLive());
}

QTEST_MAIN(TestLiveEntry)
#include "tst_liveentry.moc"
