#include "tests/support/LdapServer.h"
#include "tests/support/Needs.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHost.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <memory>

namespace {

const LdapServer::Person lin{QStringLiteral("lin"), QStringLiteral("Lin-pass-77"),
                             QStringLiteral("林静 Lin Jing"), QStringLiteral("lin@orvale.test"),
                             QStringLiteral("6001")};
const LdapServer::Person marco{QStringLiteral("marco"), QStringLiteral("Marco-pass-88"),
                               QStringLiteral("Marco Rossi"), QStringLiteral("marco@orvale.test"),
                               QStringLiteral("6002")};

QString soap(const QString &operation, const QString &fields = {})
{
    return QStringLiteral("<e:Envelope xmlns:e=\"urn:e\"><e:Body><n:%1 xmlns:n=\"urn:n\">%2"
                          "</n:%1></e:Body></e:Envelope>")
        .arg(operation, fields);
}

QString base64(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

} // namespace

/// The company directory through a real slapd: people sign in by a bind as themselves over
/// TLS with the directory's certificate checked, and appear as members; local accounts keep
/// working beside them.
class TestLdapEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void signIn_data();
    void signIn();
    void directoryPeopleAreMembers();
    void directoryPasswordsStayInTheDirectory();
    void disabledDirectoryPersonIsRefused();
    void connection_data();
    void connection();
    void silentDirectoryHoldsNothingUp();
    void refusesDirectoryInClear_data();
    void refusesDirectoryInClear();

private:
    struct Answer
    {
        int status = 0;
        QByteArray body;
    };

    QStringList directoryOptions(const QString &url, const QString &ca) const;
    Answer post(const QString &url, const QString &body, const QByteArray &authorization = {});
    /// Whether the login service lets `user` in, and the portal answers their MyAccount.
    bool loginAccepted(const ServicesProcess &services, const QString &user,
                       const QString &password);
    Answer myAccount(const ServicesProcess &services, const QString &user, const QString &password);
    /// The account command's exit code, run on the deployment's database.
    int accountCommand(const QString &verb, const QString &user,
                       const QByteArray &input = {}) const;
    /// The display name the conference service signs an engine in with; empty when refused.
    QString engineSignIn(const ServicesProcess &services, const QString &user,
                         const QString &password);

    LdapServer m_ldap;
    std::unique_ptr<ServicesProcess> m_services;
    QNetworkAccessManager m_net;
};

void TestLdapEndToEnd::initTestCase()
{
    ORVALE_NEEDS(LdapServer::unavailable());
    QString error;
    QVERIFY2(m_ldap.start({lin, marco}, &error), qPrintable(error));
    m_services =
        std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost(1),
                                          directoryOptions(m_ldap.ldapsUrl(), m_ldap.caFile()));
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
}

QStringList TestLdapEndToEnd::directoryOptions(const QString &url, const QString &ca) const
{
    QStringList options{QStringLiteral("--ldap-url"),
                        url,
                        QStringLiteral("--ldap-base"),
                        m_ldap.peopleBase(),
                        QStringLiteral("--ldap-bind-dn"),
                        m_ldap.adminDn(),
                        QStringLiteral("--ldap-bind-password-file"),
                        m_ldap.adminPasswordFile(),
                        QStringLiteral("--ldap-refresh"),
                        QStringLiteral("10")};
    if (url.startsWith(QLatin1String("ldap://")))
        options.append(QStringLiteral("--ldap-starttls"));
    if (!ca.isEmpty())
        options << QStringLiteral("--ldap-ca") << ca;
    return options;
}

TestLdapEndToEnd::Answer TestLdapEndToEnd::post(const QString &url, const QString &body,
                                                const QByteArray &authorization)
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml"));
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    QNetworkReply *reply = m_net.post(request, body.toUtf8());
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000);
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    reply->deleteLater();
    return answer;
}

bool TestLdapEndToEnd::loginAccepted(const ServicesProcess &services, const QString &user,
                                     const QString &password)
{
    const Answer login = post(
        QStringLiteral("http://%1:8080/webservice/UserService").arg(services.host()),
        soap(QStringLiteral("loginJson"),
             QStringLiteral("<name>%1</name><pwd>%2</pwd>").arg(base64(user), base64(password))));
    const bool accepted = login.status == 200 && login.body.contains("登录成功");
    const bool refused = login.status == 200 && login.body.contains("用户名或密码错误");
    if (accepted == refused)
        qWarning("unexpected login answer %d: %s", login.status, login.body.constData());
    return accepted;
}

TestLdapEndToEnd::Answer TestLdapEndToEnd::myAccount(const ServicesProcess &services,
                                                     const QString &user, const QString &password)
{
    return post(services.portal() + QStringLiteral("/services/v1_1/PortalUserService"),
                soap(QStringLiteral("MyAccountRequest")),
                "Basic " + (user + u':' + password).toUtf8().toBase64());
}

QString TestLdapEndToEnd::engineSignIn(const ServicesProcess &services, const QString &user,
                                       const QString &password)
{
    QWebSocket engine;
    QJsonObject answer;
    connect(&engine, &QWebSocket::textMessageReceived, this, [&answer](const QString &text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString type = message.value(QStringLiteral("type")).toString();
        if (type == u"signedIn" || type == u"signInFailed")
            answer = message;
    });
    engine.open(QUrl(
        QStringLiteral("ws://%1:%2/conference").arg(services.host()).arg(services.portalPort())));
    if (!QTest::qWaitFor([&] { return engine.state() == QAbstractSocket::ConnectedState; }, 10000))
        return QStringLiteral("(not connected)");
    engine.sendTextMessage(QString::fromUtf8(
        QJsonDocument(QJsonObject{{"type", "signIn"}, {"user", user}, {"password", password}})
            .toJson()));
    if (!QTest::qWaitFor([&] { return !answer.isEmpty(); }, 20000))
        return QStringLiteral("(no answer)");
    return answer.value(QStringLiteral("displayName")).toString();
}

int TestLdapEndToEnd::accountCommand(const QString &verb, const QString &user,
                                     const QByteArray &input) const
{
    QProcess command;
    command.start(
        QStringLiteral(ORVALE_SERVICES),
        {QStringLiteral("account"), verb, user, QStringLiteral("--data"), m_services->dataPath()});
    command.write(input);
    command.closeWriteChannel();
    if (!command.waitForFinished(30000) || command.exitStatus() != QProcess::NormalExit)
        return -1;
    return command.exitCode();
}

void TestLdapEndToEnd::signIn_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("displayName"); ///< empty: refused
    QTest::newRow("directory person") << lin.uid << lin.password << lin.displayName;
    QTest::newRow("directory person, wrong password")
        << lin.uid << QStringLiteral("Lin-pass-78") << QString();
    // A bind without a password is anonymous: it must not let anyone in.
    QTest::newRow("directory person, no password") << lin.uid << QString() << QString();
    QTest::newRow("another's password") << lin.uid << marco.password << QString();
    QTest::newRow("filter characters") << QStringLiteral("*") << lin.password << QString();
    QTest::newRow("in neither") << QStringLiteral("nobody") << lin.password << QString();
    QTest::newRow("local account")
        << QStringLiteral("demo") << QStringLiteral("demo1234") << QStringLiteral("演示用户");
    QTest::newRow("local account, wrong password")
        << QStringLiteral("demo") << QStringLiteral("demo12345") << QString();
}

void TestLdapEndToEnd::signIn()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, displayName);
    QCOMPARE(loginAccepted(*m_services, user, password), !displayName.isEmpty());
    const Answer portal = myAccount(*m_services, user, password);
    QCOMPARE(portal.status, displayName.isEmpty() ? 401 : 200);
    if (!displayName.isEmpty())
        QVERIFY2(QString::fromUtf8(portal.body).contains(displayName), portal.body.constData());
    QCOMPARE(engineSignIn(*m_services, user, password), displayName);
}

void TestLdapEndToEnd::directoryPeopleAreMembers()
{
    // Marco never signed in: he is a member from the directory's reading alone.
    auto search = [this] {
        return QString::fromUtf8(
            post(m_services->portal() + QStringLiteral("/services/v1_1/PortalUserService"),
                 soap(QStringLiteral("SearchRequest"), QStringLiteral("<n:query>i</n:query>")),
                 "Basic " + QByteArray("demo:demo1234").toBase64())
                .body);
    };
    QTRY_VERIFY_WITH_TIMEOUT(search().contains(marco.displayName), 30000);
    const QString found = search();
    for (const LdapServer::Person &p : {lin, marco}) {
        QVERIFY2(found.contains(u'>' + p.displayName + u'<'), qPrintable(found));
        QVERIFY(found.contains(u'>' + p.mail + u'<'));
        QVERIFY(found.contains(u'>' + p.phone + u'<'));
    }
    QVERIFY(found.contains(QStringLiteral(">Alice 王丽<"))); // the local members stay
}

void TestLdapEndToEnd::directoryPasswordsStayInTheDirectory()
{
    const Answer change =
        post(m_services->portal() + QStringLiteral("/services/v1_1/PortalUserService"),
             soap(QStringLiteral("UpdatePasswordRequest"),
                  QStringLiteral("<n:password>Another-pass-1</n:password>")),
             "Basic " + (lin.uid + u':' + lin.password).toUtf8().toBase64());
    QCOMPARE(change.status, 500);
    QVERIFY(change.body.contains("company directory"));
    QVERIFY(loginAccepted(*m_services, lin.uid, lin.password));
    QVERIFY(!loginAccepted(*m_services, lin.uid, QStringLiteral("Another-pass-1")));
    QCOMPARE(accountCommand(QStringLiteral("passwd"), lin.uid, "Another-pass-1\n"), 1);
    QVERIFY(loginAccepted(*m_services, lin.uid, lin.password));
}

void TestLdapEndToEnd::disabledDirectoryPersonIsRefused()
{
    // Accepted by the directory just now: the portal remembers that.
    QCOMPARE(myAccount(*m_services, marco.uid, marco.password).status, 200);
    QCOMPARE(accountCommand(QStringLiteral("disable"), marco.uid), 0);
    QCOMPARE(myAccount(*m_services, marco.uid, marco.password).status, 401);
    QVERIFY(!loginAccepted(*m_services, marco.uid, marco.password));
    QCOMPARE(engineSignIn(*m_services, marco.uid, marco.password), QString());
    QCOMPARE(accountCommand(QStringLiteral("enable"), marco.uid), 0);
    QCOMPARE(myAccount(*m_services, marco.uid, marco.password).status, 200);
}

void TestLdapEndToEnd::connection_data()
{
    QTest::addColumn<bool>("startTls");
    QTest::addColumn<QString>("ca");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("ldaps") << false << m_ldap.caFile() << true;
    QTest::newRow("StartTLS") << true << m_ldap.caFile() << true;
    QTest::newRow("ldaps, another CA") << false << m_ldap.otherCaFile() << false;
    QTest::newRow("StartTLS, another CA") << true << m_ldap.otherCaFile() << false;
    QTest::newRow("ldaps, the system's CAs") << false << QString() << false;
}

void TestLdapEndToEnd::connection()
{
    QFETCH(bool, startTls);
    QFETCH(QString, ca);
    QFETCH(bool, accepted);
    // The directory takes a password in clear too: a refusal means nothing went in clear.
    ServicesProcess services(QStringLiteral(ORVALE_SERVICES), testHost(2),
                             directoryOptions(startTls ? m_ldap.ldapUrl() : m_ldap.ldapsUrl(), ca));
    QVERIFY2(services.start(), qPrintable(services.output()));
    QCOMPARE(loginAccepted(services, marco.uid, marco.password), accepted);
    QCOMPARE(myAccount(services, marco.uid, marco.password).status, accepted ? 200 : 401);
    QVERIFY(loginAccepted(services, QStringLiteral("demo"), QStringLiteral("demo1234")));
}

void TestLdapEndToEnd::silentDirectoryHoldsNothingUp()
{
    // A directory that takes connections and never answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    ServicesProcess services(
        QStringLiteral(ORVALE_SERVICES), testHost(3),
        directoryOptions(QStringLiteral("ldaps://127.0.0.1:%1").arg(silent.serverPort()),
                         m_ldap.caFile()));
    QVERIFY2(services.start(), qPrintable(services.output()));
    QNetworkRequest request{
        QUrl(QStringLiteral("http://%1:8080/webservice/UserService").arg(services.host()))};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml"));
    std::unique_ptr<QNetworkReply> waiting(
        m_net.post(request, soap(QStringLiteral("loginJson"),
                                 QStringLiteral("<name>%1</name><pwd>%2</pwd>")
                                     .arg(base64(marco.uid), base64(marco.password)))
                                .toUtf8()));
    QTRY_VERIFY(silent.hasPendingConnections() || !silent.children().isEmpty());
    // While the directory keeps that sign-in waiting, the local accounts are served.
    QCOMPARE(myAccount(services, QStringLiteral("demo"), QStringLiteral("demo1234")).status, 200);
    QVERIFY(loginAccepted(services, QStringLiteral("alice"), QStringLiteral("alice1234")));
    QVERIFY(!waiting->isFinished());
}

void TestLdapEndToEnd::refusesDirectoryInClear_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("ldap:// without StartTLS")
        << QStringList{QStringLiteral("--ldap-url"), m_ldap.ldapUrl(),
                       QStringLiteral("--ldap-base"), m_ldap.peopleBase()};
    QTest::newRow("no base") << QStringList{QStringLiteral("--ldap-url"), m_ldap.ldapsUrl()};
}

void TestLdapEndToEnd::refusesDirectoryInClear()
{
    QFETCH(QStringList, options);
    QTemporaryDir data;
    QProcess services;
    services.start(QStringLiteral(ORVALE_SERVICES),
                   QStringList{QStringLiteral("--data"), data.path()} + options);
    QVERIFY(services.waitForFinished(20000));
    QCOMPARE(services.exitCode(), 2);
    QVERIFY(services.readAllStandardError().contains("--ldap-"));
}

QTEST_MAIN(TestLdapEndToEnd)
#include "tst_ldap_e2e.moc"
