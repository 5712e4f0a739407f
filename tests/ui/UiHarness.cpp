#include "tests/ui/UiHarness.h"

#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "tests/support/FakeEngine.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/widgets/ToastView.h"

#include <QApplication>
#include <QChildEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <limits>

namespace CR = ConfRecords;

UiHarness::UiHarness(const QString &host, bool launched)
    : m_host(host)
{
    if (!host.isEmpty())
        m_deployment = TestDeployment::onStandardPorts(host);
    qApp->installEventFilter(this);
    if (launched)
        launch();
}

UiHarness::~UiHarness()
{
    // Windows still open hold toasts whose end is noted in m_seen: close them while it exists.
    quit();
    qApp->removeEventFilter(this);
}

void UiHarness::launch()
{
    quit();
    TestHome::clear();
    AppUser::delUser(); // the shared user is kept in memory once read
    // The deployment announces a release: keep its prompt off the windows under test.
    Preferences().setSystemTime(std::numeric_limits<qint64>::max());
    m_keychain = std::make_unique<FakeKeychain>();
    m_toasts.clear();
    startApplication();
}

void UiHarness::restart()
{
    closeApplication();
    startApplication();
}

void UiHarness::closeApplication()
{
    m_delegate.reset();
    m_engineSession.reset();
    // What the windows queued for later runs now, while what it refers to is still known.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void UiHarness::startApplication()
{
    // What a new process would not know and the launch does not set itself.
    AppStatus::shareStatus()->setIsChangePassword(false);
    AppStatus::shareStatus()->setCurrentRometeUri({});
    FakeEngine::instance().reset();
    m_delegate = std::make_unique<AppDelegate>();
    m_delegate->applicationDidFinishLaunching();
    m_delegate->startEngine();
}

bool UiHarness::quit()
{
    if (!m_delegate)
        return true;
    closeApplication();
    m_keychain.reset();
    bool closed = true;
    for (const QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            qWarning("a window outlived the application: %s", window->metaObject()->className());
            closed = false;
        }
    }
    return closed;
}

bool UiHarness::eventFilter(QObject *watched, QEvent *event)
{
    // Toasts are shown only now and then: note each as it is added to its window.
    if (event->type() == QEvent::Show) {
        auto *toast = qobject_cast<ToastView *>(watched);
        if (toast && !m_seen.contains(toast)) {
            m_seen.insert(toast);
            connect(toast, &QObject::destroyed, this, [this, toast] { m_seen.remove(toast); });
            m_toasts.append(toast->label()->text());
        }
    }
    return QObject::eventFilter(watched, event);
}

QStringList UiHarness::takeToasts()
{
    QStringList taken = m_toasts;
    m_toasts.clear();
    return taken;
}

QString UiHarness::toastIn(QWidget *window)
{
    const ToastView *toast = ToastView::shownIn(window);
    return toast ? toast->label()->text() : QString();
}

bool UiHarness::settle()
{
    // The dispatcher queues its work to the application object: anything queued there after
    // it runs after it.
    const auto done = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        qApp, [done] { *done = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([done] { return *done; }, 10000);
}

void UiHarness::fire(uint32_t event, int32_t value, int size)
{
    QByteArray record = ConfRecords::zeroed(uint32_t(size));
    ConfRecords::writeI32(record, 0, value);
    FakeEngine::instance().fire(event, record);
}

QString UiHarness::sentText(uint32_t id, int offset, int width)
{
    const auto calls = FakeEngine::instance().calls(id);
    if (calls.isEmpty())
        return {};
    return ConfRecords::readText(calls.last().bytes, uint32_t(offset), uint32_t(width));
}

void UiHarness::typeLogin(const QString &address, const QString &user, const QString &password)
{
    LoginViewController *login = m_delegate->loginVc();
    login->ipField()->setText(address);
    login->nameField()->setText(user);
    login->passField()->setText(password);
    login->loginButton()->click();
}

bool UiHarness::signInAsDemo()
{
    FakeEngine::instance().reset();
    typeLogin(m_host, QStringLiteral("demo"), QStringLiteral("demo1234"));
    if (!QTest::qWaitFor([] { return !FakeEngine::instance().calls(CR::EventSignIn).isEmpty(); },
                         10000))
        return false;
    fire(CR::OutSignedIn);
    return QTest::qWaitFor(
               [this] {
                   ContactWindowController *main = m_delegate->loginVc()->contactWindowController();
                   return main && main->isVisible();
               },
               10000) &&
           signInEngineSession(QStringLiteral("demo"), QStringLiteral("demo1234"));
}

bool UiHarness::signInEngineSession(const QString &user, const QString &password)
{
    if (!m_deployment)
        return true;
    m_engineSession = std::make_unique<QWebSocket>();
    bool signedIn = false;
    connect(m_engineSession.get(), &QWebSocket::textMessageReceived, this,
            [&signedIn](const QString &text) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                signedIn =
                    signedIn || message.value(QLatin1String("type")).toString() == u"signedIn";
            });
    connect(m_engineSession.get(), &QWebSocket::connected, this, [&] {
        const QJsonObject message{
            {"type", QStringLiteral("signIn")}, {"user", user}, {"password", password}};
        m_engineSession->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    });
    const ServicesConfig &config = m_deployment->host()->config();
    m_engineSession->open(
        QUrl(QStringLiteral("ws://%1:%2/conference").arg(config.host).arg(config.portalPort)));
    const bool done = QTest::qWaitFor([&signedIn] { return signedIn; }, 10000);
    disconnect(m_engineSession.get(), nullptr, this, nullptr);
    return done;
}
