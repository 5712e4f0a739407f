#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "net/NetWork.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"
#include "tests/support/TestHttpServer.h"

#include <QPointer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTcpServer>
#include <QTest>
#include <QThreadPool>

namespace {

struct Outcome
{
    int successes = 0;
    int failures = 0;
    QVariant value;
    NetworkError error;
};

void watch(NetWork *request, Outcome &outcome,
           const QObject *context = QCoreApplication::instance())
{
    request->setSuccessBlock(context, [&outcome](const QVariant &value) {
        ++outcome.successes;
        outcome.value = value;
    });
    request->setFailBlock(context, [&outcome](const NetworkError &error) {
        ++outcome.failures;
        outcome.error = error;
    });
}

const QByteArray soapReply =
    R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"><env:Body><ns1:SearchMyContactsResponse xmlns:ns1="urn:u"><ns1:total>0</ns1:total></ns1:SearchMyContactsResponse></env:Body></env:Envelope>)";
const QByteArray faultReply =
    R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"><env:Body><env:Fault><env:Reason><env:Text xml:lang="en">Wrong PIN</env:Text></env:Reason></env:Fault></env:Body></env:Envelope>)";
const QByteArray versionReply =
    R"(<soap:Envelope xmlns:soap="urn:s"><soap:Body><ns:getVersionResponse xmlns:ns="urn:v"><return><url>http://u</url><systemTime>5</systemTime></return></ns:getVersionResponse></soap:Body></soap:Envelope>)";

/// A SOAP reply of exactly `size` bytes: the answer behind a comment of padding.
QByteArray paddedSoapReply(qint64 size)
{
    return "<!--" + QByteArray(size - soapReply.size() - 7, 'x') + "-->" + soapReply;
}

NetWork *startedRequest(const QString &kind, const QString &url)
{
    if (kind == u"json")
        return NetWork::initWithJsonReturnUrlString(url, {});
    NetWork *request = kind == u"soap"
                           ? NetWork::initWithUrlString(url, QStringLiteral("<x/>"),
                                                        QStringLiteral("SearchMyContactsRequest"))
                           : NetWork::initWithUrlString(url, NetWork::Params{});
    request->startRequest();
    return request;
}

} // namespace

class TestNetWork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void soapPostBeforeSignIn();
    void soapPostAfterSignIn();
    void authorizationHeader();
    void replyRules_data();
    void replyRules();
    void responseNames_data();
    void responseNames();
    void getParameters();
    void jsonHandlersSetAfterStart();
    void cancellation();
    void handlersFollowTheirContext_data();
    void handlersFollowTheirContext();
    void timeouts_data();
    void timeouts();
    void unreachable();
    void replySizeLimit_data();
    void replySizeLimit();
    void conversionOffTheMainThread();
    void redirects_data();
    void redirects();

private:
    std::unique_ptr<TestHome> m_home;
    TestHttpServer *m_server = nullptr;
};

void TestNetWork::initTestCase()
{
    m_home = std::make_unique<TestHome>();
}

void TestNetWork::init()
{
    delete m_server;
    m_server = new TestHttpServer(this);
    QVERIFY(m_server->listen());
    AppStatus::shareStatus()->setIsSignIn(false);
    AppUser::delUser();
}

void TestNetWork::soapPostBeforeSignIn()
{
    const QString body = QStringLiteral("<ns1:Search><ns1:query>王小明</ns1:query></ns1:Search>");
    m_server->enqueue({200, "application/soap+xml; charset=utf-8", soapReply});
    Outcome outcome;
    NetWork *request = NetWork::initWithUrlString(m_server->baseUrl() + "/webservice/UserService?",
                                                  body, QStringLiteral("SearchMyContactsRequest"));
    QCOMPARE(request->soapMessage(), body);
    QCOMPARE(request->timeout(), 20000);
    watch(request, outcome);
    request->startRequest();
    QCOMPARE(outcome.successes + outcome.failures, 0); // never inside the caller's own work
    QTRY_COMPARE(outcome.successes, 1);
    QCOMPARE(outcome.failures, 0);
    QCOMPARE(outcome.value.toMap().value("total").toString(), QStringLiteral("0"));

    QCOMPARE(m_server->requests().size(), 1);
    const auto &sent = m_server->requests().first();
    QCOMPARE(sent.method, QByteArray("POST"));
    QCOMPARE(sent.target, QByteArray("/webservice/UserService?"));
    QCOMPARE(sent.body, body.toUtf8());
    QCOMPARE(sent.header("Content-Length").toLongLong(), qint64(body.toUtf8().size()));
    QVERIFY(body.toUtf8().size() > body.size());
    QCOMPARE(sent.header("Content-Type"), QByteArray("application/soap+xml; charset=utf-8"));
    QCOMPARE(sent.header("SOAPAction"), QByteArray("SearchMyContactsRequest"));
    QVERIFY(sent.header("Authorization").isNull());
}

void TestNetWork::soapPostAfterSignIn()
{
    AppStatus::shareStatus()->setIsSignIn(true);
    m_server->enqueue({200, "text/xml", soapReply});
    Outcome outcome;
    const QString body = QStringLiteral("<ns1:MyAccount/>");
    NetWork *request =
        NetWork::initWithUrlString(m_server->baseUrl() + "/services/v1_1/PortalUserService", body,
                                   QStringLiteral("SearchMyContactsRequest"));
    watch(request, outcome);
    request->startRequest();
    QTRY_COMPARE(outcome.successes, 1);
    AppStatus::shareStatus()->setIsSignIn(false);

    const QString blanks(52, u' ');
    const QByteArray expected =
        (QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + blanks +
         QStringLiteral(
             "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:ns1=\"") +
         QStringLiteral("http://portal.orvale.net/user/v1_1\">") + blanks +
         QStringLiteral("<env:Body><ns1:MyAccount/></env:Body>") + blanks +
         QStringLiteral("</env:Envelope>"))
            .toUtf8();
    QCOMPARE(m_server->requests().first().body, expected);
}

void TestNetWork::authorizationHeader()
{
    AppUser::defaultUser()->auth = QStringLiteral("Basic ZGVtbzpkZW1vMTIzNA==");
    m_server->enqueue({200, "text/xml", soapReply});
    m_server->enqueue({200, "text/xml", soapReply});
    Outcome first, second;
    NetWork *a = NetWork::initWithUrlString(m_server->baseUrl(), QStringLiteral("<a/>"),
                                            QStringLiteral("X"));
    QCOMPARE(a->auth(), QStringLiteral("Basic ZGVtbzpkZW1vMTIzNA=="));
    watch(a, first);
    a->startRequest();
    QTRY_COMPARE(first.successes + first.failures, 1);
    NetWork *b = NetWork::initWithUrlString(m_server->baseUrl(), QStringLiteral("<a/>"),
                                            QStringLiteral("X"));
    b->setAuth(QStringLiteral("Basic other\r\nX-Injected: 1"));
    watch(b, second);
    b->startRequest();
    QTRY_COMPARE(second.successes + second.failures, 1);
    QCOMPARE(m_server->requests()[0].header("Authorization"),
             QByteArray("Basic ZGVtbzpkZW1vMTIzNA=="));
    QCOMPARE(m_server->requests()[1].header("Authorization"),
             QByteArray("Basic otherX-Injected: 1"));
    QVERIFY(m_server->requests()[1].header("X-Injected").isNull());
}

void TestNetWork::replyRules_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("errorKind");

    using K = NetworkError::Kind;
    QTest::newRow("soap text/xml")
        << "soap" << 200 << QByteArray("text/xml") << soapReply << true << 0;
    QTest::newRow("soap soap+xml")
        << "soap" << 201 << QByteArray("application/soap+xml") << soapReply << true << 0;
    QTest::newRow("soap plain text")
        << "soap" << 200 << QByteArray("text/plain") << soapReply << false << int(K::ContentType);
    QTest::newRow("soap fault") << "soap" << 500 << QByteArray("application/soap+xml") << faultReply
                                << false << int(K::Status);
    QTest::newRow("soap redirect status")
        << "soap" << 304 << QByteArray("text/xml") << QByteArray() << false << int(K::Status);
    QTest::newRow("soap not xml") << "soap" << 200 << QByteArray("text/xml") << QByteArray("<a><b>")
                                  << false << int(K::Malformed);
    QTest::newRow("soap missing response")
        << "soap" << 200 << QByteArray("text/xml") << versionReply << true << 0;
    QTest::newRow("get text/html")
        << "get" << 200 << QByteArray("text/html") << versionReply << true << 0;
    QTest::newRow("get json type") << "get" << 200 << QByteArray("application/json") << versionReply
                                   << false << int(K::ContentType);
    QTest::newRow("get not xml") << "get" << 200 << QByteArray("text/xml") << QByteArray("oops")
                                 << true << 0;
    QTest::newRow("get 404") << "get" << 404 << QByteArray("text/html") << QByteArray("<html/>")
                             << false << int(K::Status);
    QTest::newRow("json") << "json" << 200 << QByteArray("application/json; charset=utf-8")
                          << QByteArray("[1]") << true << 0;
    QTest::newRow("json as html") << "json" << 200 << QByteArray("text/html") << QByteArray("[1]")
                                  << false << int(K::ContentType);
    QTest::newRow("json broken") << "json" << 200 << QByteArray("application/json")
                                 << QByteArray("[1,") << true << 0;
}

void TestNetWork::replyRules()
{
    QFETCH(QString, kind);
    QFETCH(int, status);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QFETCH(bool, success);
    QFETCH(int, errorKind);
    m_server->enqueue({status, type, body});
    Outcome outcome;
    const QString url =
        m_server->baseUrl() + QStringLiteral("/quilber/webservice/UserService/getVersion");
    QPointer<NetWork> request;
    if (kind == u"json") {
        request = NetWork::initWithJsonReturnUrlString(url, {});
        watch(request, outcome);
    } else {
        request = kind == u"soap"
                      ? NetWork::initWithUrlString(url, QStringLiteral("<x/>"),
                                                   QStringLiteral("SearchMyContactsRequest"))
                      : NetWork::initWithUrlString(url, NetWork::Params{});
        watch(request, outcome);
        if (!success && kind == u"soap")
            QTest::ignoreMessage(
                QtWarningMsg,
                QRegularExpression(QStringLiteral(
                    "请求数据失败 , SearchMyContactsRequest|Expected|Premature|Opening")));
        request->startRequest();
    }
    QTRY_COMPARE(outcome.successes + outcome.failures, 1);
    QTRY_VERIFY(!request); // a request ends itself once done: no handler can follow
    QCOMPARE(outcome.successes + outcome.failures, 1);
    QCOMPARE(outcome.successes == 1, success);
    if (!success) {
        QCOMPARE(int(outcome.error.kind), errorKind);
        QCOMPARE(outcome.error.httpStatus, status);
        if (errorKind == int(NetworkError::Kind::Status))
            QCOMPARE(outcome.error.body, body);
    } else if (kind == u"get" && body == versionReply) {
        QCOMPARE(outcome.value.toMap()["return"].toMap()["systemTime"].toString(),
                 QStringLiteral("5"));
    } else if (kind == u"json" && body == "[1]") {
        QCOMPARE(outcome.value.toList(), QVariantList{1});
    } else if (kind != u"soap") {
        QVERIFY(!outcome.value.isValid());
    }
}

void TestNetWork::responseNames_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("response");
    QTest::newRow("request suffix") << "SearchMyContactsRequest"
                                    << "SearchMyContactsResponse";
    QTest::newRow("password") << "UpdatePasswordRequest"
                              << "UpdatePasswordResponse";
    QTest::newRow("login") << "loginJson"
                           << "loginJsonResponse";
    QTest::newRow("last seven characters") << "RequestX"
                                           << "RResponse";
}

void TestNetWork::responseNames()
{
    QFETCH(QString, action);
    QTEST(NetWork::responseNameForAction(action), "response");
}

void TestNetWork::getParameters()
{
    m_server->enqueue({200, "text/xml", versionReply});
    Outcome outcome;
    NetWork *request = NetWork::initWithUrlString(
        m_server->baseUrl() + "/quilber/webservice/UserService/getVersion",
        NetWork::Params{{QStringLiteral("clientType"), QStringLiteral("mac")},
                        {QStringLiteral("q"), QStringLiteral("a b&c=王")}});
    watch(request, outcome);
    request->startRequest();
    QTRY_COMPARE(outcome.successes, 1);
    QCOMPARE(m_server->requests().first().method, QByteArray("GET"));
    QCOMPARE(
        m_server->requests().first().target,
        QByteArray(
            "/quilber/webservice/UserService/getVersion?clientType=mac&q=a%20b%26c%3D%E7%8E%8B"));
}

void TestNetWork::jsonHandlersSetAfterStart()
{
    m_server->enqueue({200, "application/json", R"({"msg":"none"})"});
    NetWork *request = NetWork::initWithJsonReturnUrlString(m_server->baseUrl() + "/live", {});
    QCOMPARE(request->timeout(), NetWork::getTimeoutMs);
    Outcome outcome;
    watch(request, outcome); // the request is already on its way
    QTRY_COMPARE(m_server->requests().size(), 1);
    QTRY_COMPARE(outcome.successes, 1);
    QCOMPARE(outcome.value.toMap()["msg"].toString(), QStringLiteral("none"));
}

void TestNetWork::cancellation()
{
    TestHttpServer::Reply never;
    never.never = true;
    m_server->enqueue(never);
    Outcome outcome;
    QPointer<NetWork> request = NetWork::initWithUrlString(
        m_server->baseUrl(), QStringLiteral("<a/>"), QStringLiteral("loginJson"));
    watch(request, outcome);
    request->startRequest();
    QTRY_COMPARE(m_server->requests().size(), 1);
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , loginJson");
    request->cancelNetworkOperations();
    QCOMPARE(outcome.failures, 0);
    QTRY_COMPARE(outcome.failures, 1);
    QVERIFY(outcome.error.isCancelled());
    QCOMPARE(outcome.successes, 0);
    QTRY_VERIFY(request.isNull()); // the request released itself after delivering
}

void TestNetWork::handlersFollowTheirContext_data()
{
    QTest::addColumn<bool>("fault");
    QTest::addColumn<bool>("contextGone");
    QTest::newRow("reply, context alive") << false << false;
    QTest::newRow("reply, context gone") << false << true;
    QTest::newRow("fault, context alive") << true << false;
    QTest::newRow("fault, context gone") << true << true;
}

void TestNetWork::handlersFollowTheirContext()
{
    QFETCH(bool, fault);
    QFETCH(bool, contextGone);
    if (fault) {
        m_server->enqueue({500, "application/soap+xml", faultReply});
        QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , SearchMyContactsRequest");
    } else {
        m_server->enqueue({200, "text/xml", soapReply});
    }
    Outcome outcome;
    auto context = std::make_unique<QObject>();
    QPointer<NetWork> request = startedRequest("soap", m_server->baseUrl());
    watch(request, outcome, context.get());
    if (contextGone)
        context.reset();           // before the reply can arrive: no event has been processed yet
    QTRY_VERIFY(request.isNull()); // delivered (or not) and released
    QCOMPARE(outcome.successes, !contextGone && !fault ? 1 : 0);
    QCOMPARE(outcome.failures, !contextGone && fault ? 1 : 0);
}

void TestNetWork::timeouts_data()
{
    QTest::addColumn<QByteArray>("partial");
    QTest::addColumn<bool>("post");
    QTest::newRow("post, no answer") << QByteArray() << true;
    QTest::newRow("post, stalled body") << QByteArray("<env:Envelope") << true;
    QTest::newRow("get, no answer") << QByteArray() << false;
}

void TestNetWork::timeouts()
{
    QFETCH(QByteArray, partial);
    QFETCH(bool, post);
    TestHttpServer::Reply never;
    never.never = true;
    never.partialBody = partial;
    m_server->enqueue(never);
    Outcome outcome;
    NetWork *request = post ? NetWork::initWithUrlString(
                                  m_server->baseUrl(), QStringLiteral("<a/>"), QStringLiteral("X"))
                            : NetWork::initWithUrlString(m_server->baseUrl(), NetWork::Params{});
    request->setTimeout(300);
    watch(request, outcome);
    if (post)
        QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , X");
    request->startRequest();
    QTRY_COMPARE_WITH_TIMEOUT(outcome.failures, 1, 3000);
    QCOMPARE(int(outcome.error.kind), int(NetworkError::Kind::Timeout));
    QCOMPARE(outcome.successes, 0);
}

void TestNetWork::unreachable()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close(); // nothing listens there now
    Outcome outcome;
    NetWork *request =
        NetWork::initWithUrlString(QStringLiteral("http://127.0.0.1:%1/x").arg(port),
                                   QStringLiteral("<a/>"), QStringLiteral("loginJson"));
    watch(request, outcome);
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , loginJson");
    request->startRequest();
    QTRY_COMPARE(outcome.failures, 1);
    QCOMPARE(int(outcome.error.kind), int(NetworkError::Kind::Transport));
    QCOMPARE(outcome.error.code, QNetworkReply::ConnectionRefusedError);
}

void TestNetWork::replySizeLimit_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<qint64>("declaredLength"); // -1: none
    QTest::addColumn<bool>("tooLarge");

    const qint64 limit = NetWork::maxReplyBytes;
    QTest::newRow("soap at the limit")
        << "soap" << paddedSoapReply(limit) << false << qint64(0) << false;
    QTest::newRow("soap one byte over")
        << "soap" << paddedSoapReply(limit + 1) << false << qint64(0) << true;
    QTest::newRow("soap announcing 64 MiB, then stalling")
        << "soap" << QByteArray("<env:Envelope") << true << qint64(64 << 20) << true;
    QTest::newRow("soap without length, stalling past the limit")
        << "soap" << QByteArray(limit + 65536, ' ') << true << qint64(-1) << true;
    QTest::newRow("get without length, stalling past the limit")
        << "get" << QByteArray(limit + 65536, ' ') << true << qint64(-1) << true;
    QTest::newRow("json over the limit")
        << "json"
        << "[" + QByteArray(limit, ' ') + "]" << false << qint64(0) << true;
}

void TestNetWork::replySizeLimit()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, body);
    QFETCH(bool, stall);
    QFETCH(qint64, declaredLength);
    QFETCH(bool, tooLarge);
    const QByteArray type = kind == u"json" ? "application/json" : "text/xml";
    TestHttpServer::Reply reply(200, type, body);
    if (stall) {
        reply.never = true;
        reply.partialBody = body;
        reply.declaredLength = declaredLength;
        reply.noLength = declaredLength < 0;
    }
    m_server->enqueue(reply);
    if (tooLarge && kind == u"soap")
        QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , SearchMyContactsRequest");
    Outcome outcome;
    NetWork *request = startedRequest(kind, m_server->baseUrl() + "/x");
    request->setTimeout(60000); // only the size limit may end a stalled reply here
    watch(request, outcome);
    QTRY_COMPARE_WITH_TIMEOUT(outcome.successes + outcome.failures, 1, 30000);
    QCOMPARE(outcome.failures, int(tooLarge));
    if (tooLarge)
        QCOMPARE(int(outcome.error.kind), int(NetworkError::Kind::TooLarge));
    else
        QCOMPARE(outcome.value.toMap().value("total").toString(), QStringLiteral("0"));
}

void TestNetWork::conversionOffTheMainThread()
{
    // While the conversion worker is held, arrived replies must stay undelivered: nothing
    // is converted on the main thread. Released, they are delivered in order of arrival,
    // the long one first.
    QSemaphore gate, held;
    auto release = qScopeGuard([&gate] { gate.release(); });
    NetWork::conversionQueue()->start([&] {
        held.release();
        gate.acquire();
    });
    held.acquire();

    const QByteArray entries = QByteArray("<ns1:e><ns1:f>1</ns1:f></ns1:e>").repeated(40000);
    const QByteArray longReply = QByteArray(soapReply).replace(
        "<ns1:total>0</ns1:total>", QByteArray("<ns1:total>1</ns1:total>" + entries));
    m_server->enqueue({200, "text/xml", longReply});
    m_server->enqueue({200, "text/xml", soapReply});
    QStringList order;
    const auto track = [&order](NetWork *request) {
        request->setSuccessBlock(QCoreApplication::instance(), [&order](const QVariant &value) {
            order.append(value.toMap().value("total").toString());
        });
        request->setFailBlock(QCoreApplication::instance(),
                              [&order](const NetworkError &) { order.append("failure"); });
    };
    NetWork *first = startedRequest("soap", m_server->baseUrl() + "/1");
    track(first);
    QTRY_VERIFY(!first->isLoading());
    NetWork *second = startedRequest("soap", m_server->baseUrl() + "/2");
    track(second);
    QTRY_VERIFY(!second->isLoading());
    QCoreApplication::processEvents();
    QCOMPARE(order, QStringList());

    release.dismiss();
    gate.release();
    QTRY_COMPARE(order.size(), 2);
    QCOMPARE(order, (QStringList{"1", "0"}));
}

void TestNetWork::redirects_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("sameOrigin");
    QTest::addColumn<bool>("followed");

    QTest::newRow("soap to another origin") << "soap" << false << false;
    QTest::newRow("soap to the same origin") << "soap" << true << false;
    QTest::newRow("get to another origin") << "get" << false << false;
    QTest::newRow("get to the same origin") << "get" << true << true;
    QTest::newRow("json to another origin") << "json" << false << false;
    QTest::newRow("json to the same origin") << "json" << true << true;
}

void TestNetWork::redirects()
{
    QFETCH(QString, kind);
    QFETCH(bool, sameOrigin);
    QFETCH(bool, followed);
    AppUser::defaultUser()->auth = QStringLiteral("Basic ZGVtbzpkZW1vMTIzNA==");
    TestHttpServer other;
    QVERIFY(other.listen(testHost()));
    const QByteArray type = kind == u"json" ? "application/json" : "text/xml";
    const QByteArray body = kind == u"json" ? "[1]" : versionReply;
    other.enqueue({200, type, body});

    const QString target = (sameOrigin ? m_server->baseUrl() : other.baseUrl()) + "/moved";
    TestHttpServer::Reply redirect(302, "text/html", "<html/>");
    redirect.headers.append({"Location", target.toUtf8()});
    m_server->enqueue(redirect);
    m_server->enqueue({200, type, body});
    if (kind == u"soap")
        QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , SearchMyContactsRequest");

    Outcome outcome;
    watch(startedRequest(kind, m_server->baseUrl() + "/start"), outcome);
    QTRY_COMPARE(outcome.successes + outcome.failures, 1);
    QCOMPARE(outcome.successes, int(followed));
    QVERIFY(other.requests().isEmpty());
    QCOMPARE(m_server->requests().size(), followed ? 2 : 1);
    if (followed)
        QCOMPARE(m_server->requests().last().target, QByteArray("/moved"));
}

QTEST_GUILESS_MAIN(TestNetWork)
#include "tst_network.moc"
