#include "app/AppDelegate.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/settings/AllSetsWindowController.h"
#include "ui/settings/ChangePasswordViewController.h"
#include "ui/widgets/ToastView.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

/// A password change through the settings with the real client, engine and deployment: the
/// user is signed out, the old password no longer signs in and the new one does.
class TestPasswordEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void passwordChange();

private:
    // The steps of one session, each starting where the one before ended.
    void signIn();
    void changePassword();
    void oldPasswordRefused();
    void newPasswordSignsIn();
    ContactWindowController *mainWindow() const
    {
        return m_app->loginVc()->contactWindowController();
    }
    void typeLogin(const QString &password)
    {
        LoginViewController *login = m_app->loginVc();
        login->ipField()->setText(m_services->host());
        login->nameField()->setText(QStringLiteral("demo"));
        login->passField()->clear();
        QTest::keyClicks(login->passField(), password);
        QTest::mouseClick(login->loginButton(), Qt::LeftButton);
    }
    static QAction *menuItem(QMainWindow *window, const QString &text)
    {
        for (QMenu *menu : window->menuBar()->findChildren<QMenu *>())
            for (QAction *action : menu->actions())
                if (action->text() == text)
                    return action;
        return nullptr;
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<AppDelegate> m_app;
};

void TestPasswordEndToEnd::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
    m_app = std::make_unique<AppDelegate>();
    m_app->applicationDidFinishLaunching();
    QTRY_VERIFY(m_app->engineStarted());
    QVERIFY(QTest::qWaitForWindowExposed(m_app->window()));
}

void TestPasswordEndToEnd::passwordChange()
{
    using Self = TestPasswordEndToEnd;
    for (const auto step : {&Self::signIn, &Self::changePassword, &Self::oldPasswordRefused,
                            &Self::newPasswordSignsIn}) {
        (this->*step)();
        if (QTest::currentTestFailed())
            return;
    }
}

void TestPasswordEndToEnd::signIn()
{
    typeLogin(QStringLiteral("demo1234"));
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && mainWindow()->isVisible(), 15000);
}

void TestPasswordEndToEnd::changePassword()
{
    QAction *settings = menuItem(mainWindow(), QStringLiteral("设置…"));
    QVERIFY(settings);
    settings->trigger();
    AllSetsWindowController *window = m_app->allSets();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->tabView()->count(), 4);
    window->tabView()->setCurrentIndex(3);
    auto *page = qobject_cast<ChangePasswordViewController *>(window->pageAt(3));
    QVERIFY(page);
    QTest::keyClicks(page->oldPass(), QStringLiteral("demo1234"));
    QTest::keyClicks(page->chagePass(), QStringLiteral("Fresh2026"));
    QTest::keyClicks(page->confirmPass(), QStringLiteral("Fresh2026"));
    QTest::mouseClick(page->confirmButton(), Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(page->successAlert() && page->successAlert()->isVisible(), 10000);
    QCOMPARE(page->successAlert()->informativeText(),
             QStringLiteral("修改成功,您需要使用新密码登录!"));
    QVERIFY(AppStatus::shareStatus()->isSignIn()); // not before the alert is dismissed
    page->successAlert()->buttons().first()->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->window()->isVisible(), 10000);
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
    QVERIFY(!window->isVisible());
    QVERIFY(!mainWindow() || !mainWindow()->isVisible());
}

void TestPasswordEndToEnd::oldPasswordRefused()
{
    typeLogin(QStringLiteral("demo1234"));
    // The login service's refusal arrives as a toast on the login window.
    QTRY_VERIFY_WITH_TIMEOUT(ToastView::shownIn(m_app->window()), 15000);
    qInfo() << "refused with" << ToastView::shownIn(m_app->window())->label()->text();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->loginVc()->loginButton()->isEnabled(), 15000);
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
    QVERIFY(m_app->window()->isVisible());
}

void TestPasswordEndToEnd::newPasswordSignsIn()
{
    typeLogin(QStringLiteral("Fresh2026"));
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && mainWindow()->isVisible(), 15000);
    QVERIFY(AppStatus::shareStatus()->isSignIn());
    QCOMPARE(AppUser::defaultUser()->userPassWord, QStringLiteral("Fresh2026"));
}

QTEST_MAIN(TestPasswordEndToEnd)
#include "tst_password_e2e.moc"
