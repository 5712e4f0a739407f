#include "engine/media/JanusClient.h"
#include "services/JanusSupervisor.h"
#include "tests/support/TestHttpServer.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

/// The engine's session with Janus: kept alive, closed for real, its events passed on.
class TestJanusClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsTheSessionAlive();
    void passesOnHangupAndMedia();
    void ignoresAnswersAfterClose();
    void closesItsSessionAtJanus();
    void survivesOneFailedRequest_data();
    void survivesOneFailedRequest();
    void losesTheSessionWhenItsKeepaliveFails();
};

namespace {

const QByteArray json = "application/json";

/// A scripted Janus that creates session 11 and then answers its first poll with `events`, or
/// never.
void serveSession(TestHttpServer &server, const QByteArray &events = {})
{
    server.enqueue({200, json, R"({"janus":"success","data":{"id":11}})"});
    TestHttpServer::Reply poll(200, json, events);
    poll.never = events.isEmpty();
    server.enqueue(poll);
    TestHttpServer::Reply idle(200, json);
    idle.never = true; // the next poll waits
    server.enqueue(idle);
}

bool opened(JanusClient &client)
{
    bool ok = false;
    client.open([&ok](bool done) { ok = done; });
    return QTest::qWaitFor([&ok] { return ok; }, 5000);
}

/// The error code of Janus's answer to a keepalive on `session` (a URL) with `token`, 0 for
/// none.
int errorCode(const QString &session, const QString &token)
{
    QNetworkAccessManager http;
    QNetworkRequest request{QUrl(session)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QJsonObject keepalive{{"janus", "keepalive"}, {"transaction", "probe"}, {"token", token}};
    std::unique_ptr<QNetworkReply> reply(http.post(request, QJsonDocument(keepalive).toJson()));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    if (!done.wait(5000))
        return 0;
    return QJsonDocument::fromJson(reply->readAll())
        .object()
        .value("error")
        .toObject()
        .value("code")
        .toInt();
}

} // namespace

void TestJanusClient::keepsTheSessionAlive()
{
    TestHttpServer server;
    QVERIFY(server.listen());
    serveSession(server);
    JanusClient client(QUrl(server.baseUrl() + QStringLiteral("/janus")));
    client.setKeepAliveInterval(50);
    QVERIFY(opened(client));
    const auto keepalives = [&server] {
        return std::count_if(server.requests().cbegin(), server.requests().cend(),
                             [](const TestHttpServer::Request &r) {
                                 return r.target == "/janus/11" && r.body.contains("keepalive");
                             });
    };
    QTRY_VERIFY(keepalives() >= 3);
}

void TestJanusClient::passesOnHangupAndMedia()
{
    TestHttpServer server;
    QVERIFY(server.listen());
    serveSession(server, R"([{"janus":"media","sender":7,"type":"video","receiving":false},)"
                         R"({"janus":"hangup","sender":7,"reason":"DTLS alert"}])");
    JanusClient client(QUrl(server.baseUrl() + QStringLiteral("/janus")));
    QSignalSpy hangup(&client, &JanusClient::hangup);
    QSignalSpy receiving(&client, &JanusClient::receiving);
    QVERIFY(opened(client));
    QTRY_COMPARE(hangup.size(), 1);
    QCOMPARE(hangup[0], (QVariantList{qint64(7), QStringLiteral("DTLS alert")}));
    QCOMPARE(receiving, (QList<QVariantList>{{qint64(7), QStringLiteral("video"), false}}));
}

void TestJanusClient::ignoresAnswersAfterClose()
{
    TestHttpServer server;
    QVERIFY(server.listen());
    TestHttpServer::Reply created(200, json, R"({"janus":"success","data":{"id":11}})");
    created.held = true; // Janus answers once the client has given up
    server.enqueue(created);
    server.enqueue({200, json, R"({"janus":"success"})"});
    JanusClient client(QUrl(server.baseUrl() + QStringLiteral("/janus")));
    bool answered = false;
    client.open([&answered](bool) { answered = true; });
    QTRY_COMPARE(server.requests().size(), 1);
    int closed = -1;
    client.close([&closed](bool confirmed) { closed = confirmed; });
    QCOMPARE(closed, 0); // nothing was open yet
    server.releaseHeld();
    // The session Janus made after all is destroyed at once; the caller hears nothing of it.
    QTRY_COMPARE(server.requests().size(), 2);
    QCOMPARE(server.requests()[1].target, "/janus/11");
    QVERIFY(server.requests()[1].body.contains("destroy"));
    QVERIFY(!answered);
    QCOMPARE(client.session(), 0);
}

void TestJanusClient::closesItsSessionAtJanus()
{
    if (QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty()) {
        // scripts/test installs Janus: there its absence is a failure.
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL("Janus is not installed");
        QSKIP("Janus is not installed");
    }
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QString why;
    QVERIFY2(janus.start(&why), qPrintable(why));
    QTRY_VERIFY_WITH_TIMEOUT(janus.ready(), 10000);
    QJsonObject media;
    janus.admit(1, QStringLiteral("u1"), 2, [&media](const QJsonObject &m) { media = m; });
    QTRY_VERIFY(!media.isEmpty());
    const QString token = media.value("relayToken").toString();
    QVERIFY(!token.isEmpty());

    // Without the token the deployment signed, Janus makes no session.
    JanusClient stranger{QUrl(janus.url())};
    int strangerOpened = -1;
    stranger.open([&strangerOpened](bool done) { strangerOpened = done; });
    QTRY_COMPARE(strangerOpened, 0);
    JanusClient client{QUrl(janus.url())};
    client.setAccess(token, QSslConfiguration::defaultConfiguration());
    QVERIFY(opened(client));
    qint64 handle = 0;
    client.attach([&handle](qint64 h) { handle = h; });
    QTRY_VERIFY(handle != 0);
    const qint64 session = client.session();
    QSignalSpy lost(&client, &JanusClient::lost);
    int closed = -1;
    client.close([&closed](bool confirmed) { closed = confirmed; });
    QTRY_COMPARE(closed, 1);
    QCOMPARE(lost.size(), 0);
    // Janus no longer knows the session.
    QCOMPARE(errorCode(janus.url() + QStringLiteral("/%1").arg(session), token), 458);
}

void TestJanusClient::survivesOneFailedRequest_data()
{
    QTest::addColumn<bool>("stalls"); ///< the failed request is never answered, else refused
    QTest::newRow("refused once") << false;
    QTest::newRow("stalled once") << true;
}

/// One attach fails on the way: it is sent again, and the session and its streams stay.
void TestJanusClient::survivesOneFailedRequest()
{
    QFETCH(bool, stalls);
    TestHttpServer server;
    QVERIFY(server.listen());
    int attaches = 0;
    server.setResponder([&attaches, stalls](const TestHttpServer::Request &r) {
        TestHttpServer::Reply reply(200, json);
        if (r.method == "GET")
            reply.never = true; // the poll waits
        else if (r.body.contains("create"))
            reply.body = R"({"janus":"success","data":{"id":11}})";
        else if (r.body.contains("attach") && ++attaches == 1)
            reply.never = stalls, reply.status = stalls ? 200 : 503;
        else if (r.body.contains("attach"))
            reply.body = R"({"janus":"success","data":{"id":7}})";
        else
            reply.body = R"({"janus":"ack"})";
        return reply;
    });
    JanusClient client(QUrl(server.baseUrl() + QStringLiteral("/janus")));
    client.setRequestTimeout(300);
    QSignalSpy lost(&client, &JanusClient::lost);
    QVERIFY(opened(client));
    qint64 handle = 0;
    client.attach([&handle](qint64 h) { handle = h; });
    QTRY_COMPARE(handle, 7);
    QCOMPARE(attaches, 2);
    QCOMPARE(lost.size(), 0);
}

/// A keepalive that fails every time it is sent again is the session's loss.
void TestJanusClient::losesTheSessionWhenItsKeepaliveFails()
{
    TestHttpServer server;
    QVERIFY(server.listen());
    server.setResponder([](const TestHttpServer::Request &r) {
        TestHttpServer::Reply reply(200, json);
        if (r.method == "GET")
            reply.never = true;
        else if (r.body.contains("create"))
            reply.body = R"({"janus":"success","data":{"id":11}})";
        else
            reply.status = 503;
        return reply;
    });
    JanusClient client(QUrl(server.baseUrl() + QStringLiteral("/janus")));
    client.setKeepAliveInterval(50);
    QSignalSpy lost(&client, &JanusClient::lost);
    QVERIFY(opened(client));
    QVERIFY(lost.wait());
    const auto keepalives = std::count_if(
        server.requests().cbegin(), server.requests().cend(),
        [](const TestHttpServer::Request &r) { return r.body.contains("keepalive"); });
    QVERIFY(keepalives > 1); // tried again before giving the session up
}

QTEST_GUILESS_MAIN(TestJanusClient)
#include "tst_janusclient.moc"
