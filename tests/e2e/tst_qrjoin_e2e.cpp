#include "app/AppDelegate.h"
#include "model/AppStatus.h"
#include "tests/support/DragAndDrop.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/invite/QRCodeWindowController.h"
#include "ui/invite/QRImageView.h"
#include "ui/main/LoginViewController.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

/// Two clients and the real deployment: the demo user saves the invitation of the own room
/// as a picture; a second client, signed out, drops the picture into its join-by-QR window
/// and enters the room as a guest.
class TestQRJoinEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void savedInvitationJoinsAsGuest();

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<AppDelegate> m_app;
};

void TestQRJoinEndToEnd::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
}

void TestQRJoinEndToEnd::savedInvitationJoinsAsGuest()
{
    // The inviting client, in a process and a home of its own.
    QTemporaryDir inviterHome; // not a TestHome: that would move this process's home too
    const QString picture = m_home->path() + QStringLiteral("/二维码.png");
    QProcess inviter;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), inviterHome.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), inviterHome.path() + "/.config");
    environment.insert(QStringLiteral("XDG_DATA_HOME"), inviterHome.path() + "/.local/share");
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), inviterHome.path() + "/.cache");
    inviter.setProcessEnvironment(environment);
    inviter.start(QStringLiteral(ORVALE_INVITER), {m_services->host(), QStringLiteral("demo"),
                                                   QStringLiteral("demo1234"), picture});
    QVERIFY(inviter.waitForFinished(60000));
    QVERIFY2(inviter.exitCode() == 0, inviter.readAllStandardError().constData());
    const QString link = QString::fromUtf8(inviter.readAllStandardOutput()).trimmed();
    QVERIFY(link.contains(QStringLiteral("/pages/Kwuser/l.do?key=")));
    QVERIFY(QFile::exists(picture));

    // The second client, signed out.
    m_app = std::make_unique<AppDelegate>();
    m_app->applicationDidFinishLaunching();
    QTRY_VERIFY(m_app->engineStarted());
    QVERIFY(QTest::qWaitForWindowExposed(m_app->window()));
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
    LoginViewController *login = m_app->loginVc();
    QVERIFY(!login->qrButton()->isHidden());
    QTest::mouseClick(login->qrButton(), Qt::LeftButton);
    QPointer<QRCodeWindowController> window =
        qobject_cast<QRCodeWindowController *>(login->qrWindow());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(!m_app->window()->isVisible());

    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(picture)});
    QVERIFY(DragAndDrop::dropOn(window->qrImage(), &dropped));
    QTRY_COMPARE_WITH_TIMEOUT(window->infoLabel()->text(), QStringLiteral("请输入姓名后，进入会议"),
                              10000);
    QVERIFY(window->nameView()->isVisible());
    window->userName()->setText(QStringLiteral("扫码来宾"));
    // Tests run without any network but loopback, which the reachability monitor reports as
    // none; the join refuses to start without a network.
    AppStatus::shareStatus()->reachabilityChanged(2);
    QTest::mouseClick(window->joinButton(), Qt::LeftButton);

    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    QTRY_VERIFY_WITH_TIMEOUT(conference->isVisible(), 15000);
    QTRY_VERIFY(!window);
    QVERIFY(!m_app->window()->isVisible());
    QVERIFY(AppStatus::shareStatus()->isInConference());
    QVERIFY(!AppStatus::shareStatus()->isSignIn()); // a guest
    QTRY_COMPARE_WITH_TIMEOUT(conference->contentViewController()->titleLabel()->text(),
                              QStringLiteral("房间里(1人)"), 10000);
    conference->controlWindowVc()->leaveButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->window()->isVisible(), 10000); // back at the login window
}

QTEST_MAIN(TestQRJoinEndToEnd)
#include "tst_qrjoin_e2e.moc"
