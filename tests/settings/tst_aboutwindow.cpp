#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "tests/support/TestHost.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/VersionServiceReply.h"
#include "tests/ui/UiHarness.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/settings/AboutUsWidowController.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>

/// The About window: its buttons, the on-demand version check, and the automatic check after
/// a sign-in. The browser is replaced by a recorder.
class TestAboutWindow : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl &url) { m_opened.append(url); }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void layout_data();
    void layout();
    void webButton();
    void playNow_data();
    void playNow();
    void onDemandCheck_data();
    void onDemandCheck();
    void onDemandFailure();
    void automaticCheckAfterSignIn();

private:
    AboutUsWidowController *open()
    {
        m_app->delegate()->showAboutPanel();
        return m_app->delegate()->aboutUs();
    }
    static QMessageBox *sheetOn(QWidget *window)
    {
        for (QMessageBox *box : window->findChildren<QMessageBox *>())
            if (box->isVisible())
                return box;
        return nullptr;
    }
    static QStringList buttonTexts(QMessageBox *box)
    {
        QStringList texts;
        for (QAbstractButton *button : box->buttons())
            texts.append(button->text());
        return texts;
    }
    static QAbstractButton *button(QMessageBox *box, const QString &text)
    {
        for (QAbstractButton *button : box->buttons())
            if (button->text() == text)
                return button;
        return nullptr;
    }

    std::unique_ptr<UiHarness> m_app;
    TestHttpServer m_versionService;
    QList<QUrl> m_opened;
};

void TestAboutWindow::initTestCase()
{
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
    QVERIFY(m_versionService.listen(testHost(2), 8080));
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
}

void TestAboutWindow::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestAboutWindow::init()
{
    m_opened.clear();
    m_app->launch();
    Preferences prefs;
    prefs.setUpdateHost(testHost(2));
    prefs.setCompanySite(QStringLiteral("www.orvale.example"));
}

void TestAboutWindow::cleanup()
{
    QVERIFY(m_app->quit());
}

void TestAboutWindow::layout_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QVariant>("play");
    QTest::addColumn<bool>("video");
    QTest::addColumn<int>("checkX"); // -1: hidden
    QTest::newRow("signed out") << false << QVariant(1) << false << -1;
    QTest::newRow("signed in with video") << true << QVariant(1) << true << 263;
    QTest::newRow("video as text") << true << QVariant("1") << true << 263;
    QTest::newRow("video as text with a fraction") << true << QVariant("1.0") << true << 263;
    QTest::newRow("signed in without video") << true << QVariant(0) << false << 210 - 50;
    QTest::newRow("play absent") << true << QVariant() << false << 210 - 50;
    QTest::newRow("play 2") << true << QVariant(2) << false << 210 - 50;
}

void TestAboutWindow::layout()
{
    QFETCH(bool, signedIn);
    QFETCH(QVariant, play);
    QFETCH(bool, video);
    QFETCH(int, checkX);
    AppStatus::shareStatus()->setIsSignIn(signedIn);
    AppUser::defaultUser()->play = play;
    AboutUsWidowController *about = open();
    AppStatus::shareStatus()->setIsSignIn(false);
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QCOMPARE(about->playVideo()->isVisible(), video);
    QCOMPARE(about->checkUpdate()->isVisible(), checkX >= 0);
    QCOMPARE(about->width(), 420);
    if (checkX >= 0)
        QCOMPARE(about->checkUpdate()->x(), checkX);
}

void TestAboutWindow::webButton()
{
    AboutUsWidowController *about = open();
    QCOMPARE(about->webUrl(), QStringLiteral("www.orvale.example"));
    QPushButton *web = about->webButton();
    QCOMPARE(web->text(), QStringLiteral("www.orvale.example"));
    QVERIFY(web->font().underline());
    QCOMPARE(web->font().pointSize(), 14);
    QCOMPARE(web->font().letterSpacingType(), QFont::AbsoluteSpacing);
    QCOMPARE(web->font().letterSpacing(), 0.5);
    QCOMPARE(web->palette().color(QPalette::ButtonText), QColor(Qt::blue));
    QTest::mouseClick(web, Qt::LeftButton);
    QCOMPARE(m_opened, QList<QUrl>{QUrl("http://www.orvale.example")});
}

void TestAboutWindow::playNow_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("opened");
    QTest::newRow("plain") << QStringLiteral("http://%1:8080/intro.mp4").arg(testHost())
                           << QStringLiteral("http://%1:8080/intro.mp4").arg(testHost());
    QTest::newRow("escaped") << "http://h/介绍 视频.mp4"
                             << "http://h/%E4%BB%8B%E7%BB%8D%20%E8%A7%86%E9%A2%91.mp4";
    QTest::newRow("not a web address") << "file:///usr/bin/xterm"
                                       << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestAboutWindow::playNow()
{
    QFETCH(QString, address);
    QFETCH(QString, opened);
    AppStatus::shareStatus()->setIsSignIn(true);
    AppUser::defaultUser()->play = 1;
    AppUser::defaultUser()->address = address;
    AboutUsWidowController *about = open();
    AppStatus::shareStatus()->setIsSignIn(false);
    QTest::mouseClick(about->playVideo(), Qt::LeftButton);
    QCOMPARE(m_opened.size(), opened.isEmpty() ? 0 : 1);
    if (!opened.isEmpty())
        QCOMPARE(m_opened.first().toEncoded(), opened.toUtf8());
}

void TestAboutWindow::onDemandCheck_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("press");
    QTest::addColumn<bool>("opens");
    const QStringList update{"立即更新", "暂不升级"};
    QTest::newRow("channel 2") << 2 << "http://h/d"
                               << "提示"
                               << "此版本已经是最新版本了,谢谢支持!" << QStringList{"确定"}
                               << "确定" << false;
    QTest::newRow("channel 3, update") << 3 << "http://h/d"
                                       << "Orvale 2"
                                       << "更快\n更稳" << update << "立即更新" << true;
    QTest::newRow("channel 3, not now") << 3 << "http://h/d"
                                        << "Orvale 2"
                                        << "更快\n更稳" << update << "暂不升级" << false;
    QTest::newRow("hostile address") << 4 << "file:///bin/sh"
                                     << "Orvale 2"
                                     << "更快\n更稳" << update << "立即更新" << false;
}

void TestAboutWindow::onDemandCheck()
{
    QFETCH(int, version);
    QFETCH(QString, url);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(QStringList, buttons);
    QFETCH(QString, press);
    QFETCH(bool, opens);
    const auto user = AppUser::defaultUser();
    user->version = version;
    user->upgradeContent = QStringLiteral("Orvale 2&更快\\n更稳");
    Preferences().setSystemTime(3);
    AppStatus::shareStatus()->setIsSignIn(true);
    AboutUsWidowController *about = open();
    AppStatus::shareStatus()->setIsSignIn(false);
    m_versionService.enqueue(
        {200, "text/xml; charset=utf-8", VersionServiceReply::release(url, "2")});
    QTest::mouseClick(about->checkUpdate(), Qt::LeftButton);
    QTRY_VERIFY(sheetOn(about));
    QMessageBox *alert = sheetOn(about);
    QCOMPARE(alert->text(), title);
    QCOMPARE(alert->informativeText(), message);
    QCOMPARE(buttonTexts(alert), buttons);
    button(alert, press)->click();
    QTRY_VERIFY(!sheetOn(about));
    QCOMPARE(m_opened, opens ? QList<QUrl>{QUrl(url)} : QList<QUrl>{});
    QCOMPARE(Preferences().systemTime(), qint64(3)); // neither compared nor stored here
}

void TestAboutWindow::onDemandFailure()
{
    AppStatus::shareStatus()->setIsSignIn(true);
    AboutUsWidowController *about = open();
    AppStatus::shareStatus()->setIsSignIn(false);
    m_versionService.enqueue({500, "text/plain", "down"});
    QTest::mouseClick(about->checkUpdate(), Qt::LeftButton);
    QTRY_COMPARE(UiHarness::toastIn(about), QStringLiteral("发生了错误,检查更新失败了.QAQ"));
    QVERIFY(!sheetOn(about));
}

void TestAboutWindow::automaticCheckAfterSignIn()
{
    Preferences().setSystemTime(0);
    const qsizetype asked = m_versionService.requests().size();
    m_versionService.enqueue(
        {200, "text/xml; charset=utf-8", VersionServiceReply::release("http://h/new", "9")});
    QVERIFY(m_app->signInAsDemo()); // the demo account is on channel 3
    ContactWindowController *main = m_app->delegate()->loginVc()->contactWindowController();
    QTRY_VERIFY(sheetOn(main));
    QCOMPARE(m_versionService.requests().size(), asked + 1);
    QMessageBox *alert = sheetOn(main);
    QCOMPARE(alert->windowHandle()->transientParent(), main->windowHandle());
    // Over the main window, also when that window is placed after the prompt came.
    main->move(main->pos() + QPoint(230, 0));
    QTRY_COMPARE(alert->frameGeometry().center().x(), main->frameGeometry().center().x());
    QCOMPARE(buttonTexts(alert), (QStringList{"立即更新", "暂不升级"}));
    QCOMPARE(Preferences().systemTime(), qint64(9));
    button(alert, QStringLiteral("立即更新"))->click();
    QCOMPARE(m_opened, QList<QUrl>{QUrl("http://h/new")});
}

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
