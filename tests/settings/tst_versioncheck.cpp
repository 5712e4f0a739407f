#include "model/AppUser.h"
#include "model/Preferences.h"
#include "net/ContactListNetworking.h"
#include "net/VersionCheck.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/VersionServiceReply.h"

#include <QSignalSpy>
#include <QTest>

/// The version service's reply, the update prompt text and the automatic check's rules.
class TestVersionCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void promptText_data();
    void promptText();
    void browsableUrl_data();
    void browsableUrl();
    void releaseFromReply_data();
    void releaseFromReply();
    void userChannel_data();
    void userChannel();
    void automaticCheck();

private:
    std::unique_ptr<TestHome> m_home;
    TestHttpServer m_server;
};

void TestVersionCheck::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    // The version service always answers on port 8080 of the update host.
    QVERIFY(m_server.listen(testHost(), 8080));
    Preferences().setUpdateHost(testHost());
    QCOMPARE(
        VersionCheck::versionAddress(),
        QStringLiteral("http://%1:8080/quilber/webservice/UserService/getVersion").arg(testHost()));
}

void TestVersionCheck::promptText_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::newRow("title and two lines") << "新版本 2.0&修复了若干问题\\n提升了画质"
                                         << "新版本 2.0"
                                         << "修复了若干问题\n提升了画质";
    QTest::newRow("the default text") << "&发现新版本,是否升级\\n"
                                      << ""
                                      << "发现新版本,是否升级\n";
    QTest::newRow("no ampersand") << "只有一句"
                                  << "只有一句"
                                  << "只有一句";
    QTest::newRow("first and last of three") << "甲&乙&丙"
                                             << "甲"
                                             << "丙";
    QTest::newRow("a real line break stays") << "标题&一\n二"
                                             << "标题"
                                             << "一\n二";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
}

void TestVersionCheck::promptText()
{
    QFETCH(QString, content);
    QFETCH(QString, title);
    QFETCH(QString, message);
    const auto prompt = VersionCheck::promptText(content);
    QCOMPARE(prompt.title, title);
    QCOMPARE(prompt.message, message);
}

void TestVersionCheck::browsableUrl_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("http") << "http://127.0.0.1:8080/download/orvale"
                          << "http://127.0.0.1:8080/download/orvale";
    QTest::newRow("https, upper case") << "HTTPS://example.org/a"
                                       << "https://example.org/a";
    QTest::newRow("blanks around") << "  http://h/x  "
                                   << "http://h/x";
    QTest::newRow("file") << "file:///etc/passwd"
                          << "";
    QTest::newRow("script") << "javascript:alert(1)"
                            << "";
    QTest::newRow("command") << "/usr/bin/xterm"
                             << "";
    QTest::newRow("no host") << "http:///x"
                             << "";
    QTest::newRow("other scheme") << "orvale://join?key=a"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestVersionCheck::browsableUrl()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(VersionCheck::browsableUrl(text).toString(), expected);
}

void TestVersionCheck::releaseFromReply_data()
{
    QTest::addColumn<QVariant>("reply");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("url");
    QTest::addColumn<qint64>("stamp");
    const auto answer = [](const QVariant &url, const QVariant &stamp) {
        return QVariant(QVariantMap{{"return", QVariantMap{{"url", url}, {"systemTime", stamp}}}});
    };
    QTest::newRow("full") << answer("http://h/d", "5") << true << "http://h/d" << qint64(5);
    QTest::newRow("no return") << QVariant(QVariantMap{{"other", "x"}}) << false << "" << qint64(0);
    QTest::newRow("return is text")
        << QVariant(QVariantMap{{"return", "x"}}) << false << "" << qint64(0);
    QTest::newRow("not a map") << QVariant(QStringLiteral("x")) << false << "" << qint64(0);
    QTest::newRow("bad stamp") << answer("http://h/d", "soon") << true << "http://h/d" << qint64(0);
    QTest::newRow("hostile address") << answer("file:///bin/sh", "7") << true << "" << qint64(7);
    QTest::newRow("stamp with a fraction")
        << answer("http://h/d", "12.0") << true << "http://h/d" << qint64(12);
    QTest::newRow("stamp followed by text")
        << answer("http://h/d", " 8 build") << true << "http://h/d" << qint64(8);
    QTest::newRow("large stamp") << answer("https://h", "20261208120000") << true << "https://h"
                                 << qint64(20261208120000);
}

void TestVersionCheck::releaseFromReply()
{
    QFETCH(QVariant, reply);
    QFETCH(bool, answered);
    QFETCH(QString, url);
    QFETCH(qint64, stamp);
    const auto release = VersionCheck::releaseFromReply(reply);
    QCOMPARE(release.answered, answered);
    QCOMPARE(release.url.toString(), url);
    QCOMPARE(release.systemTime, stamp);
}

void TestVersionCheck::userChannel_data()
{
    QTest::addColumn<QVariant>("version");
    QTest::addColumn<qint64>("channel");
    QTest::newRow("number") << QVariant(3) << qint64(3);
    QTest::newRow("text") << QVariant("4") << qint64(4);
    QTest::newRow("text with a fraction") << QVariant("3.0") << qint64(3);
    QTest::newRow("text followed by more") << QVariant(" 5 beta") << qint64(5);
    QTest::newRow("fractional number") << QVariant(3.7) << qint64(3);
    QTest::newRow("no number") << QVariant("beta") << qint64(0);
    QTest::newRow("absent") << QVariant() << qint64(0);
}

void TestVersionCheck::userChannel()
{
    QFETCH(QVariant, version);
    QFETCH(qint64, channel);
    AppUser::defaultUser()->version = version;
    QCOMPARE(VersionCheck::userChannel(), channel);
}

void TestVersionCheck::automaticCheck()
{
    const auto user = AppUser::defaultUser();
    user->upgradeContent = QStringLiteral("Orvale 2&更快\\n更稳");
    ContactListNetworking networking;
    QSignalSpy prompts(&networking, &ContactListNetworking::updateAvailable);

    // Channel 2: nothing is asked. The channel-3 check that follows is the first request.
    user->version = 2;
    networking.checkUpdate();
    user->version = QStringLiteral("3");
    m_server.enqueue(
        {200, "text/xml; charset=utf-8", VersionServiceReply::release("http://h/get", "5")});
    networking.checkUpdate();
    QVERIFY(prompts.wait(5000));
    QCOMPARE(m_server.requests().size(), 1);
    QCOMPARE(m_server.requests()[0].target,
             QByteArray("/quilber/webservice/UserService/getVersion?clientType=mac"));
    QCOMPARE(prompts[0][0].toString(), QStringLiteral("Orvale 2"));
    QCOMPARE(prompts[0][1].toString(), QStringLiteral("更快\n更稳"));
    QCOMPARE(prompts[0][2].toUrl(), QUrl("http://h/get"));
    QCOMPARE(Preferences().systemTime(), qint64(5));

    // The same release again and an older one announce nothing; a newer one with a hostile
    // address is announced without an address to open.
    const QList<QByteArray> replies{VersionServiceReply::release("http://h/get", "5"),
                                    VersionServiceReply::release("http://h/older", "4"),
                                    VersionServiceReply::release("file:///bin/sh", "6")};
    for (const QByteArray &reply : replies) {
        m_server.enqueue({200, "text/xml; charset=utf-8", reply});
        const qsizetype before = m_server.requests().size();
        networking.checkUpdate();
        QTRY_COMPARE(m_server.requests().size(), before + 1);
    }
    QTRY_COMPARE(prompts.size(), 2);
    QVERIFY(prompts[1][2].toUrl().isEmpty());
    QCOMPARE(Preferences().systemTime(), qint64(6));
}

QTEST_GUILESS_MAIN(TestVersionCheck)
#include "tst_versioncheck.moc"
