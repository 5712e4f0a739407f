#include "net/LoginRequest.h"
#include "tests/support/JanusProbe.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "tests/support/TlsFront.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

namespace {

quint16 freePort(const QString &address)
{
    QTcpServer probe;
    return probe.listen(QHostAddress(address), 0) ? probe.serverPort() : 0;
}

/// An engine driver: the client's bridge over the real engine in a process of its own.
struct Driver
{
    QProcess process;
    ProcessLines lines{process};

    ~Driver() { stopDriver(process); }
    void tell(const QString &line) { process.write((line + u'\n').toUtf8()); }
    QString heard(const QString &prefix, int timeoutMs = 15000)
    {
        return lines.startingWith(prefix, timeoutMs);
    }
};

} // namespace

/// The deployment behind its TLS front, as on a server: nginx on the test's address with the
/// site the package ships, the deployment and Janus on loopback behind it, and engines that
/// reach everything over https and wss at the deployment's public name.
class TestFrontEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void signInAtTheTlsLoginPort();
    void callThroughTheFront();
    void relayRefusesRequests_data();
    void relayRefusesRequests();
    void untrustedCertificateIsRefused();

private:
    /// A driver signed in as `user` through the front; `trusting`: with the deployment's
    /// certificate as the engine's and the client's CA file.
    std::unique_ptr<Driver> startDriver(const QString &user, const QByteArray &settings,
                                        bool trusting);
    QString certificate() const { return m_services->dataPath() + QStringLiteral("/cert.pem"); }
    /// The front's answer to a relay request carrying `token` ("": none).
    QJsonObject relayAnswer(const QString &token);
    /// What `url` answers to `body` over TLS, trusting the deployment's certificate.
    QByteArray post(const QString &url, const QByteArray &body);
    QByteArray get(const QString &url);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    std::unique_ptr<TlsFront> m_front;
    QTemporaryDir m_settings;
};

void TestFrontEndToEnd::initTestCase()
{
    if (const QString why = mediaUnavailable(); !why.isEmpty()) {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    m_home = std::make_unique<TestHome>();
    const QString loopback = QStringLiteral("127.0.0.1");
    TlsFront::Ports ports{freePort(testHost()), freePort(testHost()), freePort(loopback),
                          freePort(loopback), freePort(loopback)};
    const auto number = [](quint16 port) { return QString::number(port); };
    // Everything of the deployment on loopback; its public name is the front's.
    m_services = std::make_unique<ServicesProcess>(
        QStringLiteral(ORVALE_SERVICES), loopback,
        QStringList{QStringLiteral("--login-port"), number(ports.web), QStringLiteral("--tls-port"),
                    number(freePort(loopback)), QStringLiteral("--portal-port"),
                    number(ports.portal), QStringLiteral("--janus-port"), number(ports.janus),
                    QStringLiteral("--public-url"),
                    QStringLiteral("https://%1:%2").arg(testHost()).arg(ports.front)});
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));
    m_front = std::make_unique<TlsFront>(testHost(), ports, certificate(),
                                         m_services->dataPath() + QStringLiteral("/key.pem"));
    QString error;
    QVERIFY2(m_front->start(&error), qPrintable(error));
}

std::unique_ptr<Driver> TestFrontEndToEnd::startDriver(const QString &user,
                                                       const QByteArray &settings, bool trusting)
{
    auto driver = std::make_unique<Driver>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("orvale.media.debug=true"));
    driver->process.setProcessEnvironment(environment);
    driver->process.setProcessChannelMode(QProcess::MergedChannels);
    driver->process.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    if (!driver->process.waitForStarted() || driver->heard(QStringLiteral("ready")).isEmpty())
        return nullptr;
    const QString path = m_settings.filePath(user + QStringLiteral(".ecf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return nullptr;
    file.write("[engine]\n" + settings +
               (trusting ? "caFile=" + certificate().toUtf8() + "\n" : QByteArray()));
    file.close();
    if (trusting) {
        driver->tell(QStringLiteral("trust ") + certificate());
        if (driver->heard(QStringLiteral("trusting")).isEmpty())
            return nullptr;
    }
    driver->tell(QStringLiteral("settings ") + path);
    driver->tell(QStringLiteral("login %1 %2 %3")
                     .arg(user, user == u"demo" ? QStringLiteral("demo1234") : user + u"1234",
                          m_front->base()));
    return driver;
}

void TestFrontEndToEnd::callThroughTheFront()
{
    const auto a =
        startDriver(QStringLiteral("demo"), "pictureColour=#c03020\ntoneFrequency=660\n", true);
    const auto b =
        startDriver(QStringLiteral("alice"), "pictureColour=#2040c0\ntoneFrequency=440\n", true);
    QVERIFY(a && b);
    QVERIFY(!a->heard(QStringLiteral("loginSuccess")).isEmpty());
    QVERIFY(!b->heard(QStringLiteral("loginSuccess")).isEmpty());
    b->tell(QStringLiteral("join 1002")); // alice's own room
    QVERIFY(!b->heard(QStringLiteral("conference")).isEmpty());
    a->tell(QStringLiteral("join 1002"));
    QVERIFY(!a->heard(QStringLiteral("conference")).isEmpty());
    // The relay is handed out at the public name, over https, with a token of the engine's own.
    const QString relay = QStringLiteral("\"url\":\"%1/janus\"").arg(m_front->base());
    const QString media = a->lines.containing(relay, 15000);
    QVERIFY2(!media.isEmpty(), qPrintable(relay));
    QVERIFY(media.contains(QStringLiteral("\"relayToken\":\"")));
    // Each sees the other's pictures.
    const auto pictures = [](Driver &driver, const QString &of) {
        driver.lines.forget();
        driver.tell(QStringLiteral("details"));
        const auto count =
            QRegularExpression(QStringLiteral("camera of \\S*-%1;\\S* (\\d+)").arg(of))
                .match(driver.heard(QStringLiteral("details:"), 5000));
        return count.hasMatch() ? count.captured(1).toLongLong() : 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(pictures(*b, QStringLiteral("u1001")) > 30, 30000); // demo at alice
    QTRY_VERIFY_WITH_TIMEOUT(pictures(*a, QStringLiteral("u1002")) > 30, 30000); // alice at demo
}

QByteArray TestFrontEndToEnd::post(const QString &url, const QByteArray &body)
{
    QNetworkAccessManager http;
    QNetworkRequest request{QUrl(url)};
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificates(certificate());
    request.setSslConfiguration(ssl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    std::unique_ptr<QNetworkReply> reply(http.post(request, body));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    return done.wait(10000) ? reply->readAll() : QByteArray();
}

QByteArray TestFrontEndToEnd::get(const QString &url)
{
    QNetworkAccessManager http;
    QNetworkRequest request{QUrl(url)};
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificates(certificate());
    request.setSslConfiguration(ssl);
    std::unique_ptr<QNetworkReply> reply(http.get(request));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    return done.wait(10000) ? reply->readAll() : QByteArray();
}

QJsonObject TestFrontEndToEnd::relayAnswer(const QString &token)
{
    QJsonObject body{{"janus", "create"}, {"transaction", "t"}};
    if (!token.isEmpty())
        body.insert("token", token);
    return QJsonDocument::fromJson(
               post(m_front->base() + QStringLiteral("/janus"), QJsonDocument(body).toJson()))
        .object();
}

void TestFrontEndToEnd::signInAtTheTlsLoginPort()
{
    // The client's second try, https://<server>:9090, answered by the front.
    const QString base =
        QStringLiteral("https://%1:%2").arg(testHost()).arg(m_front->ports().tlsLogin);
    QXmlStreamReader reply(post(LoginRequest::requestAddress(LoginRequest::Attempt::Secure, base),
                                LoginRequest::envelope(QStringLiteral("a"), QStringLiteral("demo"),
                                                       QStringLiteral("demo1234"), testHost())
                                    .toUtf8()));
    QString json;
    while (!reply.atEnd()) {
        if (reply.readNext() == QXmlStreamReader::StartElement && reply.name() == u"return")
            json = reply.readElementText();
    }
    const QJsonObject record =
        QJsonDocument::fromJson(json.toUtf8()).object().value("result").toArray().at(0).toObject();
    QCOMPARE(record.value("msgType").toInt(), 1);
    // The portal is announced over HTTPS at the front, and the web links follow.
    QCOMPARE(record.value("agrees").toInt(), 1);
    QCOMPARE(record.value("portal").toString(),
             QStringLiteral("%1:%2").arg(testHost()).arg(m_front->ports().front));
    QVERIFY(record.value("address").toString().startsWith(m_front->base() + u'/'));
    // A client that signed in there asks the same port for updates.
    QVERIFY(get(base + QStringLiteral("/quilber/webservice/UserService/getVersion?clientType=mac"))
                .contains("getVersionResponse"));
}

void TestFrontEndToEnd::relayRefusesRequests_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("refused");
    const JanusProbe janus(m_services->dataPath());
    const QString valid = janus.signedToken();
    QString forged = valid;
    forged[forged.size() - 3] = forged[forged.size() - 3] == u'A' ? u'B' : u'A';
    QTest::newRow("no token") << QString() << true;
    QTest::newRow("forged signature") << forged << true;
    QTest::newRow("expired") << QStringLiteral("1,janus,janus.plugin.videoroom:") +
                                    valid.section(u':', 1)
                             << true;
    QTest::newRow("signed by the deployment") << valid << false;
}

void TestFrontEndToEnd::relayRefusesRequests()
{
    QFETCH(QString, token);
    QFETCH(bool, refused);
    const QJsonObject answer = relayAnswer(token);
    QVERIFY2(!answer.isEmpty(), "the relay did not answer through the front");
    if (refused) {
        QCOMPARE(answer.value("janus").toString(), QStringLiteral("error"));
        QCOMPARE(answer.value("error").toObject().value("code").toInt(), 403); // unauthorized
    } else {
        QCOMPARE(answer.value("janus").toString(), QStringLiteral("success"));
    }
}

void TestFrontEndToEnd::untrustedCertificateIsRefused()
{
    // The engine's settings name no CA file: the deployment's self-signed certificate is not
    // in the system's store.
    const auto c = startDriver(QStringLiteral("bob"), {}, false);
    QVERIFY(c);
    QCOMPARE(c->heard(QStringLiteral("error:")), QStringLiteral("error:服务器证书不可信"));
}

QTEST_GUILESS_MAIN(TestFrontEndToEnd)
#include "tst_front_e2e.moc"
