// The deployment's own listeners under hostile input: oversized and slow requests, idle and
// excess connections, junk credentials, WebSockets that never sign in. A signed-in user is
// answered throughout and nothing is lost from the database.

#include "net/LoginRequest.h"
#include "services/ServiceHost.h"
#include "tests/support/TestDeployment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <sys/resource.h>

namespace {

const QString attacker = QStringLiteral("127.0.0.66");
constexpr int connectionCap = 100;
constexpr int webSocketCap = 3;

const QByteArray myAccount =
    R"(<e:Envelope xmlns:e="urn:e"><e:Body><n:MyAccountRequest xmlns:n="urn:n"/></e:Body></e:Envelope>)";

/// A connection of the test's own, from another loopback address than the signed-in user's.
std::unique_ptr<QTcpSocket> connectFrom(const QString &source, quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(QHostAddress(source));
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

QByteArray portalHead(qint64 length, const QByteArray &extra = {})
{
    return "POST /services/v1_1/PortalUserService HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/soap+xml\r\n" +
           extra + "Content-Length: " + QByteArray::number(length) + "\r\n\r\n";
}

bool closed(const QTcpSocket &socket)
{
    return socket.state() == QAbstractSocket::UnconnectedState;
}

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void refusedBeforeRead_data();
    void refusedBeforeRead();
    void pipelinedRequests_data();
    void pipelinedRequests();
    void slowSenderIsClosed_data();
    void slowSenderIsClosed();
    void hostileLoad();
    void webSocketLimits_data();
    void webSocketLimits();
    void restartShowsEveryoneOffline_data();
    void restartShowsEveryoneOffline();

private:
    quint16 portalPort() const { return m_deployment->host()->config().portalPort; }
    QString wsUrl() const
    {
        return QStringLiteral("ws://127.0.0.1:%1/conference").arg(portalPort());
    }
    QNetworkReply *post(const QString &authorization, const QByteArray &body = myAccount);
    int status(QNetworkReply *reply);
    QMap<QString, int> rowCounts();
    /// The first value a query of the database file finds, read beside the services.
    QVariant probe(const QString &query);

    std::unique_ptr<TestDeployment> m_deployment;
    QString m_dataDir;
    QNetworkAccessManager m_network;
    QString m_user =
        LoginRequest::authorization(QStringLiteral("demo"), QStringLiteral("demo1234"));
};

void TestLimits::initTestCase()
{
    // Thousands of sockets at both ends in this one process.
    rlimit files{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &files), 0);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 16384);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &files), 0);
    QVERIFY2(files.rlim_cur >= 4200, "the hard limit of open files is too low for the test");

    m_deployment = TestDeployment::adjusted([](ServicesConfig &config) {
        config.connectionsPerAddress = connectionCap;
        config.webSocketsPerAddress = webSocketCap;
        config.httpIdleMs = 1500;
        config.signInDeadlineMs = 500;
    });
    QVERIFY(m_deployment->host());
    m_dataDir = m_deployment->host()->config().dataDir;
}

QNetworkReply *TestLimits::post(const QString &authorization, const QByteArray &body)
{
    QNetworkRequest request(QUrl(
        QStringLiteral("http://127.0.0.1:%1/services/v1_1/PortalUserService").arg(portalPort())));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/soap+xml"));
    request.setRawHeader("Authorization", authorization.toLatin1());
    return m_network.post(request, body);
}

int TestLimits::status(QNetworkReply *reply)
{
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000))
        return -1;
    reply->deleteLater();
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QMap<QString, int> TestLimits::rowCounts()
{
    QMap<QString, int> counts;
    for (const char *table : {"entities", "accounts", "contacts", "broadcasts", "meta"}) {
        const QVariant rows = probe(QStringLiteral("SELECT count(*) FROM ") + QLatin1String(table));
        counts.insert(QLatin1String(table), rows.isValid() ? rows.toInt() : -1);
    }
    return counts;
}

QVariant TestLimits::probe(const QString &query)
{
    QVariant value;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("limits-probe"));
        db.setDatabaseName(m_dataDir + QStringLiteral("/orvale.sqlite"));
        if (db.open()) {
            QSqlQuery q(query, db);
            if (q.next())
                value = q.value(0);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("limits-probe"));
    return value;
}

void TestLimits::refusedBeforeRead_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    // Only the head is sent: the answer comes before the body would have been read.
    QTest::newRow("body over 64 KiB") << portalHead(64 * 1024 + 1) << QByteArray("413");
    QTest::newRow("a body of 1 GiB") << portalHead(qint64(1) << 30) << QByteArray("413");
    QTest::newRow("headers over 16 KiB")
        << portalHead(10, "X-Junk: " + QByteArray(17 * 1024, 'j') + "\r\n") << QByteArray("431");
    QTest::newRow("a body of no length")
        << QByteArray("POST /services/v1_1/PortalUserService HTTP/1.1\r\nHost: x\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n10000\r\n")
        << QByteArray("411");
    QTest::newRow("a length that is no number")
        << portalHead(1, "Content-Length: x\r\n") << QByteArray("400");
}

void TestLimits::refusedBeforeRead()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    auto socket = connectFrom(attacker, portalPort());
    QVERIFY(socket->waitForConnected(5000));
    socket->write(request);
    QTRY_VERIFY(socket->canReadLine());
    QCOMPARE(socket->readLine().split(' ').value(1), status);
    // The service closes once the answer is read.
    QTRY_VERIFY(closed(*socket));
}

void TestLimits::pipelinedRequests_data()
{
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("status");
    QTest::newRow("one without credentials")
        << portalHead(myAccount.size()) + myAccount << QByteArray("401");
    QTest::newRow("an oversized one") << portalHead(1 << 20) << QByteArray("413");
}

void TestLimits::pipelinedRequests()
{
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, status);
    auto socket = connectFrom(attacker, portalPort());
    QVERIFY(socket->waitForConnected(5000));
    // Both in one write: the second follows the first in the same read of the service.
    const QByteArray user = "Authorization: " + m_user.toLatin1() + "\r\n";
    socket->write(portalHead(myAccount.size(), user) + myAccount + second);
    QByteArray answers;
    QTRY_VERIFY((answers += socket->readAll()).count("HTTP/1.1 ") == 2);
    QVERIFY(answers.startsWith("HTTP/1.1 200"));
    QCOMPARE(answers.mid(answers.lastIndexOf("HTTP/1.1 ")).split(' ').value(1), status);
}

void TestLimits::slowSenderIsClosed_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("headAtOnce");
    const QByteArray whole = portalHead(myAccount.size()) + myAccount;
    QTest::newRow("silent") << QByteArray() << false;
    QTest::newRow("a head byte by byte") << whole << false;
    QTest::newRow("a body byte by byte") << whole << true;
}

void TestLimits::slowSenderIsClosed()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, headAtOnce);
    auto socket = connectFrom(attacker, portalPort());
    QVERIFY(socket->waitForConnected(5000));
    qsizetype sent = headAtOnce ? request.indexOf("\r\n\r\n") + 4 : 0;
    socket->write(request.first(sent));
    QTimer drip;
    connect(&drip, &QTimer::timeout, socket.get(), [&] {
        if (sent < request.size())
            socket->write(request.mid(sent++, 1));
    });
    drip.start(100);
    // Bytes keep coming, but no whole request within the idle time: the service closes.
    QTRY_VERIFY_WITH_TIMEOUT(closed(*socket), 10000);
    QVERIFY(sent < request.size() || request.isEmpty());
    QVERIFY(!socket->readAll().startsWith("HTTP/1.1 200"));
}

void TestLimits::hostileLoad()
{
    const QMap<QString, int> before = rowCounts();
    QVERIFY(!before.isEmpty());

    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 2000; ++i)
        idle.push_back(connectFrom(attacker, portalPort()));
    std::vector<std::unique_ptr<QTcpSocket>> oversized;
    for (int i = 0; i < 20; ++i) {
        oversized.push_back(connectFrom(QStringLiteral("127.0.0.67"), portalPort()));
        QTcpSocket *socket = oversized.back().get();
        connect(socket, &QTcpSocket::connected, socket, [socket] {
            socket->write(portalHead(qint64(1) << 30) + QByteArray(1 << 20, 'x'));
        });
    }
    const QStringList junk{QStringLiteral("Basic ***"),
                           QStringLiteral("Basic ") + QString::fromLatin1(QByteArray(8000, 'A')),
                           QStringLiteral("Basic ") +
                               QString::fromLatin1(QByteArray("demo").toBase64()),
                           LoginRequest::authorization(QStringLiteral("demo"), QStringLiteral("x")),
                           LoginRequest::authorization(QString(3000, u'n'), QStringLiteral("x")),
                           QStringLiteral("Bearer x")};
    QList<QNetworkReply *> junkReplies;
    for (int round = 0; round < 5; ++round)
        for (const QString &authorization : junk)
            junkReplies.append(post(authorization));

    // The signed-in user keeps being answered, one request after the other.
    for (int i = 0; i < 20; ++i)
        QCOMPARE(status(post(m_user)), 200);
    for (QNetworkReply *reply : std::as_const(junkReplies))
        QCOMPARE(status(reply), 401);

    // Excess connections are refused at once, idle ones closed after the idle time, and the
    // oversized ones after their answer.
    const auto allClosed = [](const std::vector<std::unique_ptr<QTcpSocket>> &sockets) {
        return std::all_of(sockets.cbegin(), sockets.cend(),
                           [](const auto &socket) { return closed(*socket); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allClosed(idle), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(allClosed(oversized), 20000);
    QCOMPARE(status(post(m_user)), 200);
    QCOMPARE(rowCounts(), before);
}

void TestLimits::webSocketLimits_data()
{
    QTest::addColumn<int>("signedIn");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not signed in") << 1 << QStringLiteral("not signed in");
    QTest::newRow("over the cap per address")
        << webSocketCap << QStringLiteral("too many connections");
}

void TestLimits::webSocketLimits()
{
    QFETCH(int, signedIn);
    QFETCH(QString, reason);
    const QStringList users{QStringLiteral("demo"), QStringLiteral("bob"), QStringLiteral("carol")};
    std::vector<std::unique_ptr<QWebSocket>> engines;
    for (int i = 0; i < signedIn; ++i) {
        auto engine = std::make_unique<QWebSocket>();
        QSignalSpy answered(engine.get(), &QWebSocket::textMessageReceived);
        engine->open(QUrl(wsUrl()));
        QTRY_COMPARE(engine->state(), QAbstractSocket::ConnectedState);
        const QJsonObject signIn{
            {QStringLiteral("type"), QStringLiteral("signIn")},
            {QStringLiteral("user"), users.at(i)},
            {QStringLiteral("password"), QString(users.at(i) + QStringLiteral("1234"))}};
        engine->sendTextMessage(QString::fromUtf8(QJsonDocument(signIn).toJson()));
        QVERIFY(answered.wait(5000));
        QVERIFY(answered.first().first().toString().contains(QStringLiteral("signedIn")));
        engines.push_back(std::move(engine));
    }
    QWebSocket stranger;
    stranger.open(QUrl(wsUrl()));
    QTRY_COMPARE(stranger.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(stranger.closeReason(), reason);
    for (const auto &engine : engines)
        QCOMPARE(engine->state(), QAbstractSocket::ConnectedState);
}

void TestLimits::restartShowsEveryoneOffline_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::newRow("left online by a crash") << false;
    QTest::newRow("signed in at the stop") << true;
}

void TestLimits::restartShowsEveryoneOffline()
{
    QFETCH(bool, signedIn);
    ServiceDatabase *db = &m_deployment->host()->database();
    QWebSocket engine;
    if (signedIn) {
        engine.open(QUrl(wsUrl()));
        QTRY_COMPARE(engine.state(), QAbstractSocket::ConnectedState);
        engine.sendTextMessage(
            QStringLiteral(R"({"type":"signIn","user":"erin","password":"erin1234"})"));
        QTRY_COMPARE(db->entry(1006)->presence, QStringLiteral("Online"));
    } else {
        QVERIFY(db->setPresence(1006, QStringLiteral("Busy")));
    }
    m_deployment->stop();
    QCOMPARE(probe(QStringLiteral("SELECT presence FROM entities WHERE entityID = 1006")),
             signedIn ? QVariant(QStringLiteral("Offline")) : QVariant(QStringLiteral("Busy")));
    QVERIFY(m_deployment->restart());
    db = &m_deployment->host()->database();
    for (qint64 member = 1001; member <= 1008; ++member)
        QCOMPARE(db->entry(member)->presence, QStringLiteral("Offline"));
}

QTEST_GUILESS_MAIN(TestLimits)
#include "tst_limits.moc"
