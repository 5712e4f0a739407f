// The STUN and TURN servers the conference service hands an engine with its media, and the
// token for the relay's API, written out as services/ConferenceProtocol.md documents them.
#include "services/ServiceHost.h"
#include "services/TurnCredentials.h"
#include "services/TurnSupervisor.h"
#include "tests/support/TestHost.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

class TestIceServers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mediaCarriesFreshCredentials_data();
    void mediaCarriesFreshCredentials();
};

namespace {

constexpr int lifetimeS = 8;

/// scripts/test installs Janus and coturn: there their absence fails rather than skips.
bool relayInstalled()
{
    const bool found = !QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty() &&
                       !QStandardPaths::findExecutable(QStringLiteral("turnserver")).isEmpty();
    if (!found && qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
        qFatal("Janus or coturn is not installed although scripts/setup installs them");
    return found;
}

/// The next message of `type` on `socket`, waiting for it; empty when none comes in time.
QJsonObject next(QList<QJsonObject> &received, const QString &type, int timeoutMs)
{
    QJsonObject found;
    (void)QTest::qWaitFor(
        [&] {
            for (qsizetype i = 0; i < received.size(); ++i) {
                if (received[i].value(QStringLiteral("type")).toString() == type) {
                    found = received.takeAt(i);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

struct Turn
{
    QStringList urls;
    qint64 expiry = 0;
    QString who;
    bool verified = false;
};

/// The TURN entry of an `iceServers` list, its credential checked against the secret.
Turn turnOf(const QJsonArray &servers, const QByteArray &secret)
{
    Turn turn;
    for (const QJsonValue &server : servers) {
        const QJsonObject s = server.toObject();
        const QString user = s.value(QStringLiteral("username")).toString();
        if (user.isEmpty())
            continue;
        for (const QJsonValue &url : s.value(QStringLiteral("urls")).toArray())
            turn.urls.append(url.toString());
        turn.expiry = user.section(u':', 0, 0).toLongLong();
        turn.who = user.section(u':', 1);
        turn.verified = s.value(QStringLiteral("credential")).toString() ==
                        TurnCredentials::password(secret, user);
    }
    return turn;
}

/// Whether the relay at `url` opens a session for a request with `token`.
bool relayTakes(const QString &url, const QString &token)
{
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QJsonObject create{{"janus", "create"}, {"transaction", "t1"}, {"token", token}};
    std::unique_ptr<QNetworkReply> reply(
        network.post(request, QJsonDocument(create).toJson(QJsonDocument::Compact)));
    if (!QTest::qWaitFor([&reply] { return reply->isFinished(); }, 5000))
        return false;
    return QJsonDocument::fromJson(reply->readAll()).object().value("janus").toString() ==
           u"success";
}

} // namespace

void TestIceServers::mediaCarriesFreshCredentials_data()
{
    QTest::addColumn<int>("address"); // the test's own loopback address
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QStringList>("turnUrls");
    const QString host = testHost(1), tlsHost = testHost(2);
    QTest::newRow("udp and tcp") << 1 << false
                                 << QStringList{
                                        QStringLiteral("turn:%1:3478?transport=udp").arg(host),
                                        QStringLiteral("turn:%1:3478?transport=tcp").arg(host)};
    QTest::newRow("and tls") << 2 << true
                             << QStringList{
                                    QStringLiteral("turn:%1:3478?transport=udp").arg(tlsHost),
                                    QStringLiteral("turn:%1:3478?transport=tcp").arg(tlsHost),
                                    QStringLiteral("turns:%1:5349?transport=tcp").arg(tlsHost)};
}

void TestIceServers::mediaCarriesFreshCredentials()
{
    QFETCH(int, address);
    QFETCH(bool, tls);
    QFETCH(QStringList, turnUrls);
    if (!relayInstalled())
        QSKIP("Janus or coturn is not installed");
    QTemporaryDir data;
    ServicesConfig config;
    config.host = testHost(address);
    config.loginPort = config.tlsPort = config.portalPort = 0;
    config.makeStream = false;
    config.media = true;
    config.dataDir = data.path();
    config.turnLifetimeS = config.relayTokenLifetimeS = lifetimeS;
    config.demo = true;
    if (tls) { // the deployment's own certificate, made before the media start
        config.turnCert = data.filePath(QStringLiteral("cert.pem"));
        config.turnKey = data.filePath(QStringLiteral("key.pem"));
    }
    ServiceHost host(config);
    QString why;
    QVERIFY2(host.start(&why), qPrintable(why));
    QVERIFY(host.turn());
    if (tls) { // coturn took the certificate
        const auto listening = [&config] {
            QTcpSocket probe;
            probe.connectToHost(config.host, 5349);
            return probe.waitForConnected(200);
        };
        QTRY_VERIFY_WITH_TIMEOUT(listening(), 10000);
    }

    QWebSocket socket;
    QList<QJsonObject> received;
    connect(&socket, &QWebSocket::textMessageReceived, this, [&received](const QString &text) {
        received.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
    socket.open(QUrl(
        QStringLiteral("ws://%1:%2/conference").arg(config.host).arg(host.config().portalPort)));
    QTRY_COMPARE(socket.state(), QAbstractSocket::ConnectedState);
    socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument({{"type", "guestJoin"},
                                         {"roomKey", host.database().entry(2002)->roomKey},
                                         {"name", "Guest"}})
                              .toJson()));

    const QJsonObject media = next(received, QStringLiteral("media"), 20000);
    QVERIFY2(media.value(QStringLiteral("available")).toBool(),
             QJsonDocument(media).toJson().constData());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QJsonArray servers = media.value(QStringLiteral("iceServers")).toArray();
    QVERIFY(servers.contains(
        QJsonObject{{"urls", QJsonArray{QStringLiteral("stun:%1:3478").arg(config.host)}}}));
    const QByteArray secret = TurnSupervisor::secret(data.path());
    const Turn first = turnOf(servers, secret);
    QCOMPARE(first.urls, turnUrls);
    QVERIFY(first.verified);
    QCOMPARE(first.who, QStringLiteral("g1"));
    QVERIFY(first.expiry > now + lifetimeS - 3 && first.expiry <= now + lifetimeS);

    // Before they expire, fresh ones for the call that goes on.
    const QJsonObject renewal = next(received, QStringLiteral("iceServers"), lifetimeS * 1000);
    QVERIFY(!renewal.isEmpty());
    QVERIFY(QDateTime::currentSecsSinceEpoch() < first.expiry);
    const Turn second = turnOf(renewal.value(QStringLiteral("iceServers")).toArray(), secret);
    QVERIFY(second.verified);
    QCOMPARE(second.urls, turnUrls);
    QVERIFY(second.expiry > first.expiry);

    // The relay's token likewise: a fresh one comes before the first expires, and the relay
    // takes it once it refuses the first.
    const QString firstToken = media.value(QStringLiteral("relayToken")).toString();
    const QJsonObject tokenRenewal = next(received, QStringLiteral("relayToken"), lifetimeS * 1000);
    const QString secondToken = tokenRenewal.value(QStringLiteral("relayToken")).toString();
    QVERIFY(!secondToken.isEmpty() && secondToken != firstToken);
    const qint64 firstExpiry = firstToken.section(u',', 0, 0).toLongLong();
    QVERIFY(QDateTime::currentSecsSinceEpoch() <= firstExpiry);
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() > firstExpiry, lifetimeS * 1000);
    const QString relay = media.value(QStringLiteral("url")).toString();
    QVERIFY(!relayTakes(relay, firstToken));
    QVERIFY(relayTakes(relay, secondToken));
}

QTEST_GUILESS_MAIN(TestIceServers)
#include "tst_iceservers.moc"
