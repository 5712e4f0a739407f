#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "net/SoapFault.h"
#include "net/StringHelper.h"
#include "services/JanusSupervisor.h"
#include "services/ServiceHost.h"
#include "tests/support/TestDeployment.h"
#include "tests/support/TestHome.h"

#include <QNetworkAccessManager>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Outcome
{
    bool done = false;
    bool success = false;
    QVariant value;
    NetworkError error;
};

Outcome await(NetWork *request, bool start = true)
{
    auto outcome = std::make_shared<Outcome>();
    request->setSuccessBlock(QCoreApplication::instance(), [outcome](const QVariant &v) {
        *outcome = {true, true, v, {}};
    });
    request->setFailBlock(QCoreApplication::instance(), [outcome](const NetworkError &e) {
        *outcome = {true, false, {}, e};
    });
    if (start)
        request->startRequest();
    if (!QTest::qWaitFor([outcome] { return outcome->done; }, 15000))
        qWarning("no answer within 15 seconds");
    return *outcome;
}

struct Fetched
{
    int status = 0;
    QString type;
    QByteArray body;
};

Fetched fetch(const QString &url)
{
    QNetworkReply *reply = NetWork::manager()->get(QNetworkRequest(QUrl(url)));
    const bool finished = QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    Fetched result;
    if (finished) {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
        result.body = reply->readAll();
    }
    reply->deleteLater();
    return result;
}

QString auth(const QString &user, const QString &password)
{
    return LoginRequest::authorization(user, password);
}

std::unique_ptr<ServiceHost> startHost(const QString &dir, int maxLines = 200, bool stream = false)
{
    ServicesConfig config;
    config.makeStream = stream;
    config.loginPort = config.tlsPort = config.portalPort = 0;
    config.dataDir = dir;
    config.maxLines = maxLines;
    config.demo = true;
    auto host = std::make_unique<ServiceHost>(config);
    QString error;
    if (!host->start(&error)) {
        qWarning("services did not start: %s", qPrintable(error));
        return nullptr;
    }
    return host;
}

} // namespace

class TestServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void login_data();
    void login();
    void loginOverTls();
    void portalOperations_data();
    void portalOperations();
    void joinFaults_data();
    void joinFaults();
    void allLinesInUse();
    void searchHonoursLimitAndQuery_data();
    void searchHonoursLimitAndQuery();
    void contactsPersist();
    void passwordChangeSurvivesRestart();
    void refusedRequests_data();
    void refusedRequests();
    void version();
    void liveService();
    void hlsStream();
    void invitationPage();
    void publicName_data();
    void publicName();
    void listenEverywhereNeedsPublicName();

private:
    Outcome portal(const QString &body, const QString &action, const QString &authorization = {});
    Outcome rawPost(const QString &url, const QByteArray &body, const QString &authorization);
    QString webBase() const { return m_host->config().loginBase(); }
    QString portalUrl() const
    {
        return m_host->config().portalBase() + QStringLiteral("/services/v1_1/PortalUserService?");
    }

    std::unique_ptr<TestHome> m_home;
    QTemporaryDir m_data;
    std::unique_ptr<ServiceHost> m_host;
};

void TestServices::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_data.isValid());
    m_host = startHost(m_data.path(), 200, true);
    QVERIFY(m_host);
    QVERIFY(m_host->config().loginPort != 0 && m_host->config().portalPort != 0);
}

void TestServices::init()
{
    AppStatus::shareStatus()->setIsSignIn(true);
    AppUser::defaultUser()->auth = auth(QStringLiteral("demo"), QStringLiteral("demo1234"));
}

Outcome TestServices::portal(const QString &body, const QString &action,
                             const QString &authorization)
{
    NetWork *request = NetWork::initWithUrlString(portalUrl(), body, action);
    if (!authorization.isEmpty())
        request->setAuth(authorization);
    return await(request);
}

void TestServices::login_data()
{
    TestDeployment::addSignInRows();
    QTest::newRow("markup in the name") << "</name><x>"
                                        << "p" << false;
}

void TestServices::login()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    AppStatus::shareStatus()->setIsSignIn(false); // the login call brings its own envelope
    NetWork *request = NetWork::initWithUrlString(
        LoginRequest::requestAddress(LoginRequest::Attempt::Plain, webBase()),
        LoginRequest::envelope(QStringLiteral("Linux|WiFi"), user, password,
                               QStringLiteral("127.0.0.1")),
        QStringLiteral("loginJson"));
    request->setAuth(auth(user, password));
    const Outcome outcome = await(request);
    QVERIFY(outcome.success);
    const LoginReply reply = LoginRequest::decodeReply(outcome.value);
    if (!accepted) {
        QCOMPARE(int(reply.outcome), int(LoginReply::Outcome::Refused));
        QCOMPARE(reply.message, QStringLiteral("用户名或密码错误"));
        return;
    }
    QCOMPARE(int(reply.outcome), int(LoginReply::Outcome::Accepted));
    QCOMPARE(reply.portalAddress, m_host->config().portalBase());
    AppUser user2;
    user2.setValuesForKeysWithDictionary(reply.record);
    QCOMPARE(user2.coId, QStringLiteral("C001"));
    QCOMPARE(user2.isShare.toInt(), 1);
    QCOMPARE(user2.period.toInt(), 48);
    QCOMPARE(user2.version.toInt(), 3);
    QCOMPARE(user2.userRole.toInt(), 1);
    QVERIFY(user2.roleUrl.startsWith(webBase()));
    QVERIFY(user2.upgradeContent.contains(QStringLiteral("&")));
    QVERIFY(user2.upgradeContent.contains(QStringLiteral("\\n")));
    for (const char *key :
         {"msgType", "msg", "agrees", "portal", "play", "address", "entityType", "slienceSpeaker"})
        QVERIFY2(reply.record.contains(QString::fromLatin1(key)), key);
}

void TestServices::loginOverTls()
{
    AppStatus::shareStatus()->setIsSignIn(false);
    const QString base = QStringLiteral("https://127.0.0.1:%1").arg(m_host->config().tlsPort);
    auto attempt = [&] {
        NetWork *request = NetWork::initWithUrlString(
            LoginRequest::requestAddress(LoginRequest::Attempt::Secure, base),
            LoginRequest::envelope(QStringLiteral("a"), QStringLiteral("demo"),
                                   QStringLiteral("demo1234"), QStringLiteral("127.0.0.1")),
            QStringLiteral("loginJson"));
        return await(request);
    };
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , loginJson");
    const Outcome untrusted = attempt();
    QVERIFY(!untrusted.success);
    QCOMPARE(int(untrusted.error.kind), int(NetworkError::Kind::Transport));

    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = saved;
    trusting.addCaCertificate(m_host->certificate());
    QSslConfiguration::setDefaultConfiguration(trusting);
    NetWork::manager()->clearConnectionCache();
    const Outcome trusted = attempt();
    // A client that signed in here asks for updates here too.
    const Outcome version = await(NetWork::initWithUrlString(
        base + QStringLiteral("/quilber/webservice/UserService/getVersion"),
        NetWork::Params{{QStringLiteral("clientType"), QStringLiteral("mac")}}));
    QSslConfiguration::setDefaultConfiguration(saved);
    QVERIFY2(version.success, qPrintable(version.error.message));
    QVERIFY2(trusted.success, qPrintable(trusted.error.message));
    QCOMPARE(int(LoginRequest::decodeReply(trusted.value).outcome),
             int(LoginReply::Outcome::Accepted));
}

void TestServices::portalOperations_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("own account") << "<ns1:MyAccountRequest/>"
                                 << "MyAccountRequest"
                                 << "Entity/displayName"
                                 << "演示用户";
    QTest::newRow("own room link") << "<ns1:MyAccountRequest/>"
                                   << "MyAccountRequest"
                                   << "Entity/RoomMode/roomURL"
                                   << "key=" + m_host->database().entry(1001)->roomKey;
    QTest::newRow("own room by id")
        << "<ns1:SearchByEntityIDRequest>  <ns1:entityID>1001</ns1:entityID>  "
           "</ns1:SearchByEntityIDRequest>"
        << "SearchByEntityIDRequest"
        << "Entity/entityID"
        << "1001";
    QTest::newRow("invitation with PIN") << "<ns1:GetInviteContentRequest><ns1:roomID>2001</"
                                            "ns1:roomID></ns1:GetInviteContentRequest>"
                                         << "GetInviteContentRequest"
                                         << "content"
                                         << "Room PIN: 1234)";
    QTest::newRow("contacts")
        << "<ns1:SearchMyContactsRequest>    <ns1:Filter>    <ns1:limit>199</ns1:limit>    "
           "</ns1:Filter>    </ns1:SearchMyContactsRequest>"
        << "SearchMyContactsRequest"
        << "total"
        << "8";
}

static QVariant walk(QVariant value, const QString &path)
{
    for (const QString &step : path.split(u'/'))
        value = value.toMap().value(step);
    return value;
}

void TestServices::portalOperations()
{
    QFETCH(QString, body);
    QFETCH(QString, action);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const Outcome outcome = portal(body, action);
    QVERIFY2(outcome.success, outcome.error.body.constData());
    QVERIFY2(walk(outcome.value, path).toString().contains(expected),
             qPrintable(walk(outcome.value, path).toString()));
}

void TestServices::joinFaults_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("reason");
    QTest::newRow("PIN needed") << "<ns1:JoinConferenceRequest><ns1:conferenceID>2001</"
                                   "ns1:conferenceID></ns1:JoinConferenceRequest>"
                                << "Wrong PIN";
    QTest::newRow("wrong PIN")
        << "<ns1:JoinConferenceRequest><ns1:conferenceID>2001</ns1:conferenceID><ns1:PIN>9</"
           "ns1:PIN></ns1:JoinConferenceRequest>"
        << "Wrong PIN";
    QTest::newRow("full room") << "<ns1:JoinConferenceRequest><ns1:conferenceID>2003</"
                                  "ns1:conferenceID></ns1:JoinConferenceRequest>"
                               << "Room capacity has been reached";
    QTest::newRow("no such room") << "<ns1:JoinConferenceRequest><ns1:conferenceID>99</"
                                     "ns1:conferenceID></ns1:JoinConferenceRequest>"
                                  << "Unable to join the conference";
    QTest::newRow("member room PIN") << "<ns1:JoinConferenceRequest><ns1:conferenceID>1008</"
                                        "ns1:conferenceID></ns1:JoinConferenceRequest>"
                                     << "Wrong PIN";
    QTest::newRow("other portal") << "<ns1:JoinIPCConferenceRequest><ns1:local-part>2002</"
                                     "ns1:local-part><ns1:domain>elsewhere</ns1:domain><ns1:PIN></"
                                     "ns1:PIN></ns1:JoinIPCConferenceRequest>"
                                  << "Unable to join the conference";
    // Joins and mutes that find nothing to act on say so (tst_portalguards has them succeed).
    QTest::newRow("mute in own room, nobody there")
        << "<ns1:MuteAudioRequest><ns1:conferenceID>1001</ns1:conferenceID><ns1:participantID>p7</"
           "ns1:participantID></ns1:MuteAudioRequest>"
        << "Participant is not in the conference";
    QTest::newRow("join open room without an engine")
        << "<ns1:JoinConferenceRequest>  <ns1:conferenceID>2002</ns1:conferenceID>  "
           "</ns1:JoinConferenceRequest>"
        << "Not signed in to the conference service";
    QTest::newRow("join with PIN without an engine")
        << "<ns1:JoinConferenceRequest><ns1:conferenceID>2001</ns1:conferenceID><ns1:PIN>1234</"
           "ns1:PIN></ns1:JoinConferenceRequest>"
        << "Not signed in to the conference service";
    QTest::newRow("join other portal's room by extension without an engine")
        << "<ns1:JoinIPCConferenceRequest><ns1:local-part>2002</"
           "ns1:local-part><ns1:domain>127.0.0.1</ns1:domain><ns1:PIN></ns1:PIN></"
           "ns1:JoinIPCConferenceRequest>"
        << "Not signed in to the conference service";
    QTest::newRow("mute elsewhere")
        << "<ns1:MuteAudioRequest><ns1:conferenceID>1002</ns1:conferenceID><ns1:participantID>p</"
           "ns1:participantID></ns1:MuteAudioRequest>"
        << "Not authorized to moderate this conference";
    QTest::newRow("unknown operation") << "<ns1:DeleteEverythingRequest/>"
                                       << "Unknown operation: DeleteEverything";
}

void TestServices::joinFaults()
{
    QFETCH(QString, body);
    QFETCH(QString, reason);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^请求数据失败")));
    const Outcome outcome = portal(body, QStringLiteral("JoinConferenceRequest"));
    QVERIFY(!outcome.success);
    QCOMPARE(outcome.error.httpStatus, 500);
    QCOMPARE(SoapFault::reasonText(outcome.error), reason);
}

void TestServices::allLinesInUse()
{
    QTemporaryDir dir;
    const auto host = startHost(dir.path(), 0);
    QVERIFY(host);
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , JoinConferenceRequest");
    const Outcome outcome = await(NetWork::initWithUrlString(
        host->config().portalBase() + QStringLiteral("/services/v1_1/PortalUserService"),
        QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>2002</ns1:conferenceID></"
                       "ns1:JoinConferenceRequest>"),
        QStringLiteral("JoinConferenceRequest")));
    QCOMPARE(SoapFault::reasonText(outcome.error),
             QStringLiteral("All Lines in use. Please try again later."));
}

void TestServices::searchHonoursLimitAndQuery_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("count");
    QTest::newRow("case-insensitive") << "ALICE" << 199 << 1;
    QTest::newRow("chinese") << "王" << 199 << 1;
    QTest::newRow("everyone, limited") << "" << 3 << 3;
    QTest::newRow("everyone") << "" << 199 << 8;
    QTest::newRow("rooms are not members") << "会议" << 199 << 0;
    QTest::newRow("ampersand") << "a&b" << 199 << 0;
}

void TestServices::searchHonoursLimitAndQuery()
{
    QFETCH(QString, query);
    QFETCH(int, limit);
    QFETCH(int, count);
    const QString body =
        QStringLiteral("<ns1:SearchRequest><ns1:Filter><ns1:limit>%1</ns1:limit>"
                       "<ns1:EntityType>Member</ns1:EntityType><ns1:query>%2</ns1:query>"
                       "</ns1:Filter></ns1:SearchRequest>")
            .arg(limit)
            .arg(StringHelper::xmlEscaped(query));
    const Outcome outcome = portal(body, QStringLiteral("SearchRequest"));
    QVERIFY(outcome.success);
    const QVariant entities = outcome.value.toMap().value(QStringLiteral("Entity"));
    const int found =
        entities.typeId() == QMetaType::QVariantMap ? 1 : int(entities.toList().size());
    QCOMPARE(found, count);
    QCOMPARE(outcome.value.toMap().value(QStringLiteral("total")).toInt(), count);
}

void TestServices::contactsPersist()
{
    const QString add = QStringLiteral(
        "<ns1:AddToMyContactsRequest><ns1:entityID>%1</ns1:entityID></ns1:AddToMyContactsRequest>");
    const QString remove = QStringLiteral("<ns1:RemoveFromMyContactsRequest><ns1:entityID>%1</"
                                          "ns1:entityID></ns1:RemoveFromMyContactsRequest>");
    const QString list = QStringLiteral("<ns1:SearchMyContactsRequest/>");
    QVERIFY(portal(add.arg(1007), QStringLiteral("AddToMyContactsRequest")).success);
    QCOMPARE(portal(list, QStringLiteral("SearchMyContactsRequest")).value.toMap()["total"].toInt(),
             9);
    QVERIFY(portal(remove.arg(1007), QStringLiteral("RemoveFromMyContactsRequest")).success);
    QCOMPARE(portal(list, QStringLiteral("SearchMyContactsRequest")).value.toMap()["total"].toInt(),
             8);
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , RemoveFromMyContactsRequest");
    QVERIFY(!portal(remove.arg(1007), QStringLiteral("RemoveFromMyContactsRequest")).success);
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , AddToMyContactsRequest");
    QVERIFY(!portal(add.arg(1001), QStringLiteral("AddToMyContactsRequest")).success); // oneself
}

void TestServices::passwordChangeSurvivesRestart()
{
    QTemporaryDir dir;
    auto host = startHost(dir.path());
    QVERIFY(host);
    const QString url =
        host->config().portalBase() + QStringLiteral("/services/v1_1/PortalUserService");
    const QString body = QStringLiteral("<ns1:UpdatePasswordRequest><ns1:password>新密码&lt;1</"
                                        "ns1:password></ns1:UpdatePasswordRequest>");
    QVERIFY(await(NetWork::initWithUrlString(url, body, QStringLiteral("UpdatePasswordRequest")))
                .success);

    ServicesConfig config = host->config();
    host.reset();
    config.loginPort = config.tlsPort = config.portalPort = 0;
    ServiceHost again(config);
    QString error;
    QVERIFY2(again.start(&error), qPrintable(error));
    const QString url2 =
        again.config().portalBase() + QStringLiteral("/services/v1_1/PortalUserService");
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , MyAccountRequest");
    NetWork *old = NetWork::initWithUrlString(url2, QStringLiteral("<ns1:MyAccountRequest/>"),
                                              QStringLiteral("MyAccountRequest"));
    QCOMPARE(await(old).error.httpStatus, 401);
    NetWork *fresh = NetWork::initWithUrlString(url2, QStringLiteral("<ns1:MyAccountRequest/>"),
                                                QStringLiteral("MyAccountRequest"));
    fresh->setAuth(auth(QStringLiteral("demo"), QStringLiteral("新密码<1")));
    QVERIFY(await(fresh).success);
}

void TestServices::refusedRequests_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("authorization");
    QTest::addColumn<int>("status");
    const QString good = auth(QStringLiteral("demo"), QStringLiteral("demo1234"));
    const QByteArray myAccount =
        R"(<e:Envelope xmlns:e="urn:e"><e:Body><n:MyAccountRequest xmlns:n="urn:n"/></e:Body></e:Envelope>)";
    QTest::newRow("wrong password")
        << myAccount << auth(QStringLiteral("demo"), QStringLiteral("x")) << 401;
    QTest::newRow("no authorization") << myAccount << QString() << 401;
    QTest::newRow("not base64") << myAccount << QStringLiteral("Basic ***") << 401;
    QTest::newRow("not xml") << QByteArray("hello") << good << 400;
    QTest::newRow("entity bomb")
        << QByteArray(
               R"(<!DOCTYPE a [<!ENTITY x "y">]><e:Envelope xmlns:e="urn:e"><e:Body>&x;</e:Body></e:Envelope>)")
        << good << 400;
    QTest::newRow("no operation") << QByteArray(
                                         R"(<e:Envelope xmlns:e="urn:e"><e:Body/></e:Envelope>)")
                                  << good << 400;
    QTest::newRow("too large") << QByteArray(200 * 1024, 'x') << good << 413;
}

Outcome TestServices::rawPost(const QString &url, const QByteArray &body,
                              const QString &authorization)
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/soap+xml"));
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization.toLatin1());
    QNetworkReply *reply = NetWork::manager()->post(request, body);
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    Outcome outcome;
    outcome.done = reply->isFinished();
    outcome.error.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    outcome.error.body = reply->readAll();
    reply->deleteLater();
    return outcome;
}

void TestServices::refusedRequests()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, authorization);
    QFETCH(int, status);
    const Outcome outcome = rawPost(portalUrl(), body, authorization);
    QCOMPARE(outcome.error.httpStatus, status);
    const Outcome stillUp =
        portal(QStringLiteral("<ns1:MyAccountRequest/>"), QStringLiteral("MyAccountRequest"));
    QVERIFY(stillUp.success);
}

void TestServices::version()
{
    NetWork *request = NetWork::initWithUrlString(
        webBase() + QStringLiteral("/quilber/webservice/UserService/getVersion"),
        NetWork::Params{{QStringLiteral("clientType"), QStringLiteral("mac")}});
    const Outcome outcome = await(request);
    QVERIFY(outcome.success);
    const QVariantMap ret = outcome.value.toMap().value(QStringLiteral("return")).toMap();
    QCOMPARE(ret.value(QStringLiteral("systemTime")).toString(), QStringLiteral("20261201"));
    QVERIFY(ret.value(QStringLiteral("url")).toString().startsWith(webBase()));
}

void TestServices::liveService()
{
    const Outcome list =
        await(NetWork::initWithJsonReturnUrlString(
                  webBase() + QStringLiteral("/rest/LiveService/getLiveList/C001"), {}),
              false);
    QVERIFY(list.success);
    const QVariantList lives = list.value.toList();
    QCOMPARE(lives.size(), 2);
    const QVariantMap running = lives[0].toMap();
    const QVariantMap coming = lives[1].toMap();
    QVERIFY(running["timestamp"].toLongLong() <= 0);
    QVERIFY(coming["timestamp"].toLongLong() > 24 * 3600 * 1000LL);
    QVERIFY(running["liveRemark"].toString().contains(u'\n')); // raw CR LF survived the cleaning
    QVERIFY(running["hlsAddress"].toString().endsWith(QStringLiteral("/live/hls/index.m3u8")));
    QCOMPARE(running["liveStart"].toString().count(u' '), 1);

    const Outcome none =
        await(NetWork::initWithJsonReturnUrlString(
                  webBase() + QStringLiteral("/rest/LiveService/getLiveList/C002"), {}),
              false);
    QCOMPARE(none.value.toMap().value(QStringLiteral("msg")).toString(),
             QStringLiteral("暂无直播"));

    const Outcome countdown =
        await(NetWork::initWithJsonReturnUrlString(
                  webBase() + QStringLiteral("/rest/LiveService/getCountDownTime/C001/") +
                      coming["liveId"].toString(),
                  {}),
              false);
    QVERIFY(countdown.value.toMap().value(QStringLiteral("timestamp")).toLongLong() > 0);

    const Fetched picture = fetch(webBase() + running["liveImgs"].toList().first().toString());
    QCOMPARE(picture.type, QStringLiteral("image/png"));
    QVERIFY(picture.body.startsWith("\x89PNG"));
}

void TestServices::hlsStream()
{
    const QString playlistUrl = webBase() + QStringLiteral("/live/hls/index.m3u8");
    QByteArray playlist;
    const bool made = QTest::qWaitFor(
        [&] {
            playlist = fetch(playlistUrl).body;
            return playlist.startsWith("#EXTM3U");
        },
        60000);
    QVERIFY2(made, "the test stream was not made");
    QVERIFY(playlist.contains("#EXT-X-MEDIA-SEQUENCE:"));
    QVERIFY(!playlist.contains("#EXT-X-ENDLIST")); // a live stream
    QByteArray segment;
    for (const QByteArray &line : playlist.split('\n')) {
        if (line.endsWith(".ts"))
            segment = line;
    }
    QVERIFY(!segment.isEmpty());
    const Fetched media =
        fetch(webBase() + QStringLiteral("/live/hls/") + QString::fromLatin1(segment));
    QCOMPARE(media.type, QStringLiteral("video/mp2t"));
    QVERIFY(media.body.startsWith('G')); // MPEG-TS sync byte
    QCOMPARE(fetch(webBase() + QStringLiteral("/live/hls/..%2Forvale.sqlite")).status, 404);
    QCOMPARE(fetch(webBase() + QStringLiteral("/live/images/..%2F..%2Fkey.pem")).status, 404);
}

void TestServices::invitationPage()
{
    const QString query = QStringLiteral("key=S2V5&portal=aHR0cDovL2g=&pin=&period=MTIz56");
    const Fetched page = fetch(webBase() + QStringLiteral("/pages/Kwuser/l.do?") + query);
    QVERIFY(page.type.startsWith(QStringLiteral("text/html")));
    QVERIFY2(QString::fromUtf8(page.body).contains(QStringLiteral("orvale://join?") +
                                                   query.toHtmlEscaped()),
             page.body.constData());

    const QString attack = QString::fromUtf8(
        fetch(webBase() +
              QStringLiteral("/pages/Kwuser/l.do?key=%22%3E%3Cscript%3Ealert(1)%3C/script%3E"))
            .body);
    QVERIFY(!attack.contains(QStringLiteral("<script")));
    QVERIFY(attack.contains(QStringLiteral("orvale://join?key=%22%3E%3Cscript%3E")));
}

void TestServices::publicName_data()
{
    // Expected addresses: {login} and {portal} stand for the deployment's own ports.
    QTest::addColumn<QString>("publicName");
    QTest::addColumn<int>("frontPort");
    QTest::addColumn<QString>("web");
    QTest::addColumn<QString>("portalAuthority");
    QTest::addColumn<QString>("roomLinks");
    QTest::addColumn<QString>("relay");
    QTest::addColumn<int>("agrees");
    QTest::newRow("listen address") << QString() << 0 << "http://127.0.0.1:{login}"
                                    << "127.0.0.1:{portal}"
                                    << "http://127.0.0.1:{portal}/"
                                    << "http://127.0.0.1:" << 0;
    QTest::newRow("name, own ports")
        << "conf.example.test" << 0 << "http://conf.example.test:{login}"
        << "conf.example.test:{portal}"
        << "http://conf.example.test:{portal}/"
        << "http://conf.example.test:" << 0;
    QTest::newRow("address, own ports") << "192.0.2.10" << 0 << "http://192.0.2.10:{login}"
                                        << "192.0.2.10:{portal}"
                                        << "http://192.0.2.10:{portal}/"
                                        << "http://192.0.2.10:" << 0;
    QTest::newRow("front on 443") << "conf.example.test" << 443 << "https://conf.example.test"
                                  << "conf.example.test:443"
                                  << "https://conf.example.test/"
                                  << "https://conf.example.test/janus" << 1;
    QTest::newRow("front on 8443")
        << "conf.example.test" << 8443 << "https://conf.example.test:8443"
        << "conf.example.test:8443"
        << "https://conf.example.test:8443/"
        << "https://conf.example.test:8443/janus" << 1;
}

void TestServices::publicName()
{
    QFETCH(QString, publicName);
    QFETCH(int, frontPort);
    QFETCH(QString, web);
    QFETCH(QString, portalAuthority);
    QFETCH(QString, roomLinks);
    QFETCH(QString, relay);
    QFETCH(int, agrees);
    QTemporaryDir dir;
    ServicesConfig config;
    config.loginPort = config.tlsPort = config.portalPort = 0;
    config.dataDir = dir.path();
    config.makeStream = false;
    config.publicName = publicName;
    config.frontPort = quint16(frontPort);
    config.demo = true;
    config.media = true; // a Janus that cannot start: still one relay address to hand out
    config.janus = dir.filePath(QStringLiteral("no-janus"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^calls without media")));
    ServiceHost host(config);
    QString error;
    QVERIFY2(host.start(&error), qPrintable(error));
    const auto fill = [&host](QString text) {
        return text.replace(QStringLiteral("{login}"), QString::number(host.config().loginPort))
            .replace(QStringLiteral("{portal}"), QString::number(host.config().portalPort));
    };
    // The deployment itself is reached where it listens, whatever it tells its clients.
    const QString direct = QStringLiteral("http://127.0.0.1:%1").arg(host.config().loginPort);
    const QString portalDirect =
        QStringLiteral("http://127.0.0.1:%1/services/v1_1/PortalUserService?")
            .arg(host.config().portalPort);

    AppStatus::shareStatus()->setIsSignIn(false);
    NetWork *login = NetWork::initWithUrlString(
        LoginRequest::requestAddress(LoginRequest::Attempt::Plain, direct),
        LoginRequest::envelope(QStringLiteral("a"), QStringLiteral("demo"),
                               QStringLiteral("demo1234"), QStringLiteral("127.0.0.1")),
        QStringLiteral("loginJson"));
    const Outcome signedIn = await(login);
    QVERIFY(signedIn.success);
    const QVariantMap record = LoginRequest::decodeReply(signedIn.value).record;
    QCOMPARE(record.value(QStringLiteral("portal")).toString(), fill(portalAuthority));
    QCOMPARE(record.value(QStringLiteral("agrees")).toInt(), agrees);
    QVERIFY(record.value(QStringLiteral("address")).toString().startsWith(fill(web) + u'/'));
    QVERIFY(record.value(QStringLiteral("roleUrl")).toString().startsWith(fill(web) + u'/'));

    AppStatus::shareStatus()->setIsSignIn(true);
    const Outcome account =
        await(NetWork::initWithUrlString(portalDirect, QStringLiteral("<ns1:MyAccountRequest/>"),
                                         QStringLiteral("MyAccountRequest")));
    QVERIFY(account.success);
    const QString room = walk(account.value, QStringLiteral("Entity/RoomMode/roomURL")).toString();
    QVERIFY2(room.startsWith(fill(roomLinks)), qPrintable(room));
    const QString domain = publicName.isEmpty() ? QStringLiteral("127.0.0.1") : publicName;
    QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , JoinIPCConferenceRequest");
    const Outcome joined = await(NetWork::initWithUrlString(
        portalDirect,
        QStringLiteral("<ns1:JoinIPCConferenceRequest><ns1:local-part>2002</ns1:local-part>"
                       "<ns1:domain>%1</ns1:domain><ns1:PIN></ns1:PIN>"
                       "</ns1:JoinIPCConferenceRequest>")
            .arg(domain),
        QStringLiteral("JoinIPCConferenceRequest")));
    // The domain is accepted: what is left to refuse is that no engine is signed in here.
    QCOMPARE(SoapFault::reasonText(joined.error),
             QStringLiteral("Not signed in to the conference service"));

    const Outcome version = await(NetWork::initWithUrlString(
        direct + QStringLiteral("/quilber/webservice/UserService/getVersion"),
        NetWork::Params{{QStringLiteral("clientType"), QStringLiteral("mac")}}));
    const QVariantMap ret = version.value.toMap().value(QStringLiteral("return")).toMap();
    QVERIFY(ret.value(QStringLiteral("url")).toString().startsWith(fill(web) + u'/'));

    const Outcome lives =
        await(NetWork::initWithJsonReturnUrlString(
                  direct + QStringLiteral("/rest/LiveService/getLiveList/C001"), {}),
              false);
    const QVariantMap live = lives.value.toList().value(0).toMap();
    QVERIFY(live["hlsAddress"].toString().startsWith(fill(web) + u'/'));
    QVERIFY(live["rtmpAddress"].toString().startsWith(QStringLiteral("rtmp://") + domain + u'/'));

    QVERIFY(host.janus());
    QVERIFY2(host.janus()->url().startsWith(relay), qPrintable(host.janus()->url()));

    const auto names = host.certificate().subjectAlternativeNames();
    QVERIFY(names.contains(QSsl::DnsEntry, domain) || names.contains(QSsl::IpAddressEntry, domain));
}

void TestServices::listenEverywhereNeedsPublicName()
{
    QTemporaryDir dir;
    ServicesConfig config;
    config.host = QStringLiteral("0.0.0.0");
    config.loginPort = config.tlsPort = config.portalPort = 0;
    config.dataDir = dir.path();
    config.makeStream = false;
    config.media = false;
    ServiceHost host(config);
    QString error;
    QVERIFY(!host.start(&error));
    QVERIFY2(error.contains(QStringLiteral("--public-url")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestServices)
#include "tst_services.moc"
