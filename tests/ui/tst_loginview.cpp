#include "bridge/Helper.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/PasswordStore.h"
#include "model/Preferences.h"
#include "net/StringHelper.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHost.h"
#include "tests/support/TestHttpServer.h"
#include "tests/ui/UiHarness.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/EnterByURLWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/widgets/Spinner.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QTest>
#include <QTimer>

namespace CR = ConfRecords;

namespace {

/// A login reply with no user record in it.
const QByteArray replyWithoutRecord =
    R"(<soapenv:Envelope xmlns:soapenv="http://schemas.xmlsoap.org/soap/envelope/"><soapenv:Body>)"
    R"(<ns:loginJsonResponse xmlns:ns="http://webservice.orvale.net/"><ns:return>{"result":[]}</ns:return>)"
    R"(</ns:loginJsonResponse></soapenv:Body></soapenv:Envelope>)";

} // namespace

/// The login view with the reference login service and the fake engine.
class TestLoginView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void emptyFields_data();
    void emptyFields();
    void refusedByLoginService();
    void libraryErrors_data();
    void libraryErrors();
    void errorsOnlyWhileLoginWindowShows();
    void nothingAnswers();
    void replyWithoutResult();
    void onlySecurePortAnswers();
    void plainAttemptOnlyWhereNeverSecure_data();
    void plainAttemptOnlyWhereNeverSecure();
    void rememberAndAutoLoginCoupling();
    void autoLogin_data();
    void autoLogin();
    void rememberedPasswordAfterFirstPaint();
    void autoLoginWaitsForTheKeychain_data();
    void autoLoginWaitsForTheKeychain();
    void engineNeverAnswers();
    void signInStoresTheUser();

private:
    void storeAutoLogin(const QString &password)
    {
        Preferences p;
        p.setUserIp(m_app->host());
        p.setUserName(QStringLiteral("demo"));
        p.setRemberPassword(1);
        p.setAutoLogin(1);
        m_app->keychain()->stored = password;
    }
    LoginViewController *login() const { return m_app->delegate()->loginVc(); }
    bool isIdle() const { return login()->loginButton()->isEnabled(); }

    std::unique_ptr<UiHarness> m_app;
};

void TestLoginView::initTestCase()
{
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
}

void TestLoginView::init()
{
    LoginViewController::autoLoginDelay = 1.5;
    LoginViewController::signInTimeoutMs = 30000;
    // Nothing remembered, nothing automatic, an empty keychain.
    m_app->launch();
    QMainWindow *window = m_app->delegate()->window();
    // The offscreen platform keeps its focus window across windows, so Qt Widgets would not
    // learn that the new one is active.
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void TestLoginView::cleanup()
{
    QVERIFY(m_app->quit());
}

void TestLoginView::emptyFields_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("toast");
    QTest::addColumn<int>("focused"); // 0 address, 1 user, 2 password
    QTest::newRow("no address") << ""
                                << "demo"
                                << "x"
                                << "请输入登录地址" << 0;
    QTest::newRow("no user") << testHost() << ""
                             << "x"
                             << "请输入用户名" << 1;
    QTest::newRow("no password") << testHost() << "demo"
                                 << ""
                                 << "请输入登录密码" << 2;
    QTest::newRow("nothing at all") << ""
                                    << ""
                                    << ""
                                    << "请输入登录地址" << 0;
    // A blank is not empty: the login goes on.
    QTest::newRow("a blank address") << " "
                                     << "demo"
                                     << "x"
                                     << "" << -1;
}

void TestLoginView::emptyFields()
{
    QFETCH(QString, address);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, toast);
    QFETCH(int, focused);
    m_app->typeLogin(address, user, password);
    if (toast.isEmpty()) {
        QVERIFY(!isIdle());
        return;
    }
    QCOMPARE(m_app->takeToasts(), QStringList{toast});
    QCOMPARE(UiHarness::toastIn(m_app->delegate()->window()), toast);
    QVERIFY(isIdle());
    const QLineEdit *fields[] = {login()->ipField(), login()->nameField(), login()->passField()};
    QCOMPARE(QApplication::focusWidget(), fields[focused]);
}

void TestLoginView::refusedByLoginService()
{
    m_app->typeLogin(m_app->host(), QStringLiteral("demo"), QStringLiteral("wrong"));
    QVERIFY(!isIdle());
    QVERIFY(login()->activity()->isAnimating());
    QVERIFY(!login()->remberPass()->isEnabled());
    QTRY_VERIFY(isIdle());
    QCOMPARE(m_app->takeToasts(), QStringList{QStringLiteral("用户名或密码错误")});
    QVERIFY(FakeEngine::instance().calls(CR::EventSignIn).isEmpty()); // the library is not asked
    QCOMPARE(login()->http_userPortal(), QStringLiteral("http://%1:8080").arg(testHost()));
}

void TestLoginView::libraryErrors_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("toast");
    QTest::newRow("bad credentials") << int(CR::Code::WrongPassword) << "用户名密码错误";
    QTest::newRow("not a portal") << int(CR::Code::NotAPortal) << "登录地址错误";
    QTest::newRow("anything else") << 7 << "连接不到服务器";
}

void TestLoginView::libraryErrors()
{
    QFETCH(int, code);
    QFETCH(QString, toast);
    m_app->typeLogin(m_app->host(), QStringLiteral("demo"), QStringLiteral("demo1234"));
    QTRY_COMPARE(FakeEngine::instance().calls(CR::EventSignIn).size(), 1);
    // The portal of the login reply, with the typed name and password as they are.
    const QString portal =
        QStringLiteral("http://%1:%2").arg(testHost()).arg(m_app->services()->config().portalPort);
    QCOMPARE(UiHarness::sentText(CR::EventSignIn, CR::SignIn::Portal, CR::TextWidth), portal);
    QCOMPARE(UiHarness::sentText(CR::EventSignIn, CR::SignIn::UserName, CR::SignIn::UserNameWidth),
             QStringLiteral("demo"));
    QCOMPARE(UiHarness::sentText(CR::EventSignIn, CR::SignIn::Password, CR::TextWidth),
             QStringLiteral("demo1234"));
    QVERIFY(!isIdle()); // busy until the library answers
    UiHarness::fire(CR::OutSignInFailed, code);
    QTRY_VERIFY(isIdle());
    QCOMPARE(m_app->takeToasts(), QStringList{toast});
    const bool passwordCleared = code == CR::Code::WrongPassword;
    QCOMPARE(login()->passField()->text().isEmpty(), passwordCleared);
    if (passwordCleared)
        QCOMPARE(QApplication::focusWidget(), login()->passField());
}

void TestLoginView::errorsOnlyWhileLoginWindowShows()
{
    m_app->delegate()->window()->hide();
    UiHarness::fire(CR::OutSignInFailed, CR::Code::WrongPassword);
    UiHarness::fire(CR::OutSignInFailed, 0);
    QVERIFY(UiHarness::settle());
    QVERIFY(m_app->takeToasts().isEmpty());
    m_app->delegate()->window()->show();
    QApplication::setActiveWindow(m_app->delegate()->window());
    UiHarness::fire(CR::OutSignInFailed, 0); // code 0 is no error
    QVERIFY(UiHarness::settle());
    QVERIFY(m_app->takeToasts().isEmpty());
    UiHarness::fire(CR::OutSignInFailed, 7); // and this one shows
    QVERIFY(UiHarness::settle());
    QCOMPARE(m_app->takeToasts(), QStringList{QStringLiteral("连接不到服务器")});
}

void TestLoginView::nothingAnswers()
{
    // Nothing listens on the test's fourth address: the plain attempt fails, then the secure one.
    m_app->typeLogin(testHost(4), QStringLiteral("demo"), QStringLiteral("x"));
    QTRY_VERIFY_WITH_TIMEOUT(isIdle(), 15000);
    QCOMPARE(login()->http_userPortal(), QStringLiteral("https://%1:9090").arg(testHost(4)));
    QCOMPARE(m_app->takeToasts(), QStringList{QStringLiteral("无法连接服务器,请检查输入!")});

    // Not the key window: the same failure passes silently.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    m_app->typeLogin(testHost(4), QStringLiteral("demo"), QStringLiteral("x"));
    QTRY_VERIFY_WITH_TIMEOUT(isIdle(), 15000);
    QVERIFY(m_app->takeToasts().isEmpty());
}

void TestLoginView::replyWithoutResult()
{
    TestHttpServer server;
    QVERIFY(server.listen(testHost(3), 8080));
    server.enqueue({200, "text/xml; charset=utf-8", replyWithoutRecord});
    m_app->typeLogin(testHost(3), QStringLiteral("demo"), QStringLiteral("x"));
    QTRY_VERIFY(isIdle()); // never busy forever
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(m_app->takeToasts(), QStringList{QStringLiteral("无法连接服务器,请检查输入!")});
    // The request as the login service reads it.
    const auto &request = server.requests().first();
    QCOMPARE(request.target, QByteArray("/webservice/UserService?"));
    QCOMPARE(request.header("Authorization"), "Basic " + QByteArray("demo:x").toBase64());
    QVERIFY(
        request.body.contains(QByteArray("<name>" + QByteArray("demo").toBase64() + "</name>")));
    QVERIFY(request.body.contains("<account>Mac_"));
}

void TestLoginView::onlySecurePortAnswers()
{
    // A login service on 9090 only, whose certificate this test trusts.
    auto secureOnly = TestDeployment::onStandardPorts(testHost(2), false);
    QVERIFY(secureOnly->host());
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    const QSslConfiguration saved = trusting;
    trusting.addCaCertificate(secureOnly->host()->certificate());
    QSslConfiguration::setDefaultConfiguration(trusting);
    m_app->typeLogin(testHost(2), QStringLiteral("demo"), QStringLiteral("demo1234"));
    QTRY_VERIFY_WITH_TIMEOUT(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty(), 15000);
    QSslConfiguration::setDefaultConfiguration(saved);
    QCOMPARE(login()->http_userPortal(), QStringLiteral("https://%1:9090").arg(testHost(2)));
    UiHarness::fire(CR::OutSignInFailed, CR::Code::WrongPassword);
    QTRY_VERIFY(isIdle());
}

void TestLoginView::plainAttemptOnlyWhereNeverSecure_data()
{
    QTest::addColumn<bool>("reachedSecurely"); // an earlier run signed in there over HTTPS
    QTest::addColumn<bool>("secureAnswers");   // the HTTPS login still answers
    QTest::addColumn<int>("plainRequests");
    QTest::addColumn<QString>("toast");
    // Each row has an address of its own: each deployment's certificate is its own, and the
    // client's connections to an address keep trusting what was trusted when they were made.
    QTest::addColumn<int>("address");
    QTest::newRow("reached securely before") << true << true << 0 << "" << 5;
    QTest::newRow("reached securely before, unreachable now")
        << true << false << 0 << "无法连接服务器,请检查输入!" << 6;
    QTest::newRow("never reached securely")
        << false << false << 1 << "无法连接服务器,请检查输入!" << 7;
}

void TestLoginView::plainAttemptOnlyWhereNeverSecure()
{
    QFETCH(bool, reachedSecurely);
    QFETCH(bool, secureAnswers);
    QFETCH(int, plainRequests);
    QFETCH(QString, toast);
    QFETCH(int, address);
    // A login service on 9090 only, whose certificate this test trusts.
    const QString server = testHost(address);
    auto secureOnly = TestDeployment::onStandardPorts(server, false);
    QVERIFY(secureOnly->host());
    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    const auto restore =
        qScopeGuard([saved] { QSslConfiguration::setDefaultConfiguration(saved); });
    QSslConfiguration trusting = saved;
    trusting.addCaCertificate(secureOnly->host()->certificate());
    QSslConfiguration::setDefaultConfiguration(trusting);
    if (reachedSecurely) {
        m_app->typeLogin(server, QStringLiteral("demo"), QStringLiteral("demo1234"));
        QTRY_VERIFY_WITH_TIMEOUT(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty(), 15000);
        QCOMPARE(login()->http_userPortal(), QStringLiteral("https://%1:9090").arg(server));
        UiHarness::fire(CR::OutSignInFailed, CR::Code::WrongPassword);
        QTRY_VERIFY(isIdle());
        m_app->takeToasts();
        m_app->restart(); // what is remembered outlives the run
        QApplication::setActiveWindow(m_app->delegate()->window());
        QVERIFY(QTest::qWaitForWindowActive(m_app->delegate()->window()));
    }
    if (!secureAnswers)
        secureOnly->stop();
    // Someone else answers the plain login port of that address now.
    TestHttpServer plain;
    QVERIFY(plain.listen(server, 8080));
    plain.setResponder([](const TestHttpServer::Request &) {
        return TestHttpServer::Reply(200, "text/xml; charset=utf-8", replyWithoutRecord);
    });
    FakeEngine::instance().reset();
    m_app->typeLogin(server, QStringLiteral("demo"), QStringLiteral("demo1234"));
    if (toast.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty(), 15000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(isIdle(), 15000);
    QCOMPARE(plain.requests().size(), plainRequests);
    QCOMPARE(m_app->takeToasts(), toast.isEmpty() ? QStringList() : QStringList{toast});
    QCOMPARE(login()->http_userPortal(), (reachedSecurely ? QStringLiteral("https://%1:9090")
                                                          : QStringLiteral("http://%1:8080"))
                                             .arg(server));
}

void TestLoginView::rememberAndAutoLoginCoupling()
{
    QCheckBox *remember = login()->remberPass();
    QCheckBox *automatic = login()->autoLoginBox();
    const auto stored = [] {
        const Preferences p;
        return QPair<int, int>(p.remberPassword(), p.autoLogin());
    };
    if (remember->isChecked())
        remember->click();
    QCOMPARE(stored(), qMakePair(0, 0));
    automatic->click(); // auto-login implies remember-password
    QVERIFY(remember->isChecked());
    QCOMPARE(stored(), qMakePair(1, 1));
    QVERIFY(AppStatus::shareStatus()->isAutoLogin());
    QVERIFY(AppStatus::shareStatus()->isRemberPassword());
    remember->click(); // and clearing remember-password clears auto-login
    QVERIFY(!automatic->isChecked());
    QCOMPARE(stored(), qMakePair(0, 0));
    QVERIFY(!AppStatus::shareStatus()->isAutoLogin());
    remember->click();
    QVERIFY(!automatic->isChecked());
    QCOMPARE(stored(), qMakePair(1, 0));
}

void TestLoginView::autoLogin_data()
{
    QTest::addColumn<QString>("suppressedBy"); // empty: not suppressed
    QTest::addColumn<QString>("password");
    QTest::newRow("started normally") << ""
                                      << "demo1234";
    QTest::newRow("an empty field still tries, and toasts") << ""
                                                            << "";
    QTest::newRow("opened by a link") << "link"
                                      << "demo1234";
    QTest::newRow("QR window opened") << "qr"
                                      << "demo1234";
}

void TestLoginView::autoLogin()
{
    QFETCH(QString, suppressedBy);
    QFETCH(QString, password);
    storeAutoLogin(password);
    LoginViewController::autoLoginDelay = 0.2;
    LoginViewController::setQrWindowFactory([] { return new QWidget; });
    m_app->restart(); // the stored choice is read at start-up
    // A link the application was started with arrives once it has launched.
    AppStatus::shareStatus()->setIsStartByWeb(suppressedBy == u"link");
    LoginViewController *view = login();
    QMainWindow *window = m_app->delegate()->window();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTRY_COMPARE(m_app->keychain()->readsAnswered, 1);
    QCOMPARE(view->passField()->text(), password); // remembered
    QVERIFY(view->autoLoginBox()->isChecked());
    QVERIFY(view->loginButton()->isEnabled()); // not at once
    if (suppressedBy == u"qr")
        view->qrButton()->click();
    const bool expected = suppressedBy.isEmpty();
    if (expected && password.isEmpty()) {
        QTRY_COMPARE(UiHarness::toastIn(window), QStringLiteral("请输入登录密码"));
    } else if (expected) {
        QTRY_VERIFY_WITH_TIMEOUT(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty(), 5000);
        QCOMPARE(UiHarness::sentText(CR::EventSignIn, CR::SignIn::Password, CR::TextWidth),
                 password);
    } else {
        // A timer set after the auto-login's, and longer, fires after it.
        bool later = false;
        QTimer::singleShot(400, this, [&later] { later = true; });
        QTRY_VERIFY(later);
        QVERIFY(view->loginButton()->isEnabled());
        QVERIFY(FakeEngine::instance().calls(CR::EventSignIn).isEmpty());
    }
    delete view->qrWindow();
    LoginViewController::setQrWindowFactory({});
}

void TestLoginView::rememberedPasswordAfterFirstPaint()
{
    // The keychain (its module, the desktop's secret service) is asked once the login window
    // is on screen: nothing of it comes before the first paint.
    Preferences().setRemberPassword(1);
    FakeKeychain *keychain = m_app->keychain();
    keychain->stored = QStringLiteral("demo1234");
    m_app->restart();
    const int answered = keychain->readsAnswered;
    QCOMPARE(keychain->pending, 0); // the window has not painted yet
    QTRY_COMPARE(keychain->readsAnswered, answered + 1);
    QCOMPARE(login()->passField()->text(), QStringLiteral("demo1234"));
}

void TestLoginView::autoLoginWaitsForTheKeychain_data()
{
    QTest::addColumn<bool>("failing");
    QTest::newRow("a slow keyring") << false;
    QTest::newRow("a keyring that fails") << true;
}

void TestLoginView::autoLoginWaitsForTheKeychain()
{
    QFETCH(bool, failing);
    storeAutoLogin(QStringLiteral("demo1234"));
    FakeKeychain *keychain = m_app->keychain();
    keychain->answerAfterMs = 600; // longer than the auto-login's own delay
    keychain->failing = failing;
    LoginViewController::autoLoginDelay = 0.05;
    bool busyBeforeAnswer = true;
    keychain->beforeAnswer = [&] {
        busyBeforeAnswer = login()->isBusy() || !m_app->toasts().isEmpty();
    };
    m_app->restart();
    QTRY_COMPARE(keychain->readsAnswered, 1);
    QVERIFY(!busyBeforeAnswer); // nothing was tried before the password was there
    if (failing) {
        // Without a password the automatic sign-in says what is missing.
        QTRY_COMPARE(UiHarness::toastIn(m_app->delegate()->window()),
                     QStringLiteral("请输入登录密码"));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!FakeEngine::instance().calls(CR::EventSignIn).isEmpty(), 5000);
    QCOMPARE(UiHarness::sentText(CR::EventSignIn, CR::SignIn::Password, CR::TextWidth),
             QStringLiteral("demo1234"));
    QVERIFY(m_app->toasts().isEmpty());
}

void TestLoginView::engineNeverAnswers()
{
    LoginViewController::signInTimeoutMs = 300;
    m_app->typeLogin(m_app->host(), QStringLiteral("demo"), QStringLiteral("demo1234"));
    QTRY_COMPARE(FakeEngine::instance().calls(CR::EventSignIn).size(), 1);
    QVERIFY(!isIdle());
    QTRY_VERIFY(isIdle()); // the engine said nothing: given up
    QCOMPARE(m_app->takeToasts(), QStringList{QStringLiteral("连接不到服务器")});
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1); // the engine stops trying
    QVERIFY(login()->ipField()->isEnabled());
    // An answer after that is taken back rather than opening the main window.
    UiHarness::fire(CR::OutSignedIn);
    QVERIFY(UiHarness::settle());
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
    QVERIFY(!login()->contactWindowController());
    QCOMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 2);
    QVERIFY(m_app->delegate()->window()->isVisible());
}

void TestLoginView::signInStoresTheUser()
{
    const auto remembered = [this] { return m_app->keychain()->stored; };
    if (!login()->remberPass()->isChecked())
        login()->remberPass()->click();      // asked to remember the password
    Preferences().setSignedInSecurely(true); // as after an earlier sign-in over TLS
    QVERIFY(m_app->signInAsDemo());
    QVERIFY(AppStatus::shareStatus()->isSignIn());
    QVERIFY(!m_app->delegate()->window()->isVisible()); // the login window closed
    ContactWindowController *main = login()->contactWindowController();
    QVERIFY(main->isActiveWindow() || QTest::qWaitForWindowActive(main));
    const Preferences p;
    QCOMPARE(p.userIp(), m_app->host());
    QCOMPARE(p.userName(), QStringLiteral("demo"));
    QVERIFY(!p.signedInSecurely());  // this one went through the plain port
    QVERIFY(p.passWord().isEmpty()); // never in the settings file
    QCOMPARE(login()->passField()->text(), QStringLiteral("demo1234")); // kept for next time
    QTRY_COMPARE(remembered(), QStringLiteral("demo1234"));
    // Unchecking the box forgets it.
    login()->remberPass()->click();
    QTRY_COMPARE(remembered(), QString());
    const auto user = AppUser::defaultUser();
    QCOMPARE(user->user_portal, QStringLiteral("http://%1:8080").arg(testHost()));
    QCOMPARE(
        user->httpPortal,
        QStringLiteral("http://%1:%2").arg(testHost()).arg(m_app->services()->config().portalPort));
    QCOMPARE(user->userName, QStringLiteral("demo"));
    QCOMPARE(user->userPassWord, QStringLiteral("demo1234"));
    QCOMPARE(user->coId, QStringLiteral("C001"));
    QCOMPARE(user->auth,
             QStringLiteral("Basic ") + QStringLiteral("demo:demo1234").toUtf8().toBase64());
    QVERIFY(user->upgradeContent.contains(u'&')); // the service's own text is kept
    QVERIFY(QFile::exists(AppUser::stroePath()));
    QFile file(AppUser::stroePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray archive = file.readAll();
    QVERIFY(!archive.contains("demo1234")); // the user file keeps no password,
    QVERIFY(!archive.contains(QByteArray("demo:demo1234").toBase64())); // nor the authorization
    // A second sign-in event while signed in changes nothing.
    UiHarness::fire(CR::OutSignedIn);
    QVERIFY(UiHarness::settle());
    QCOMPARE(login()->contactWindowController(), main);
}

QTEST_MAIN(TestLoginView)
#include "tst_loginview.moc"
