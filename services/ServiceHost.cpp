#include "services/ServiceHost.h"

#include "services/Certificate.h"
#include "services/DemoData.h"
#include "services/GuardedSslServer.h"
#include "services/GuardedTcpServer.h"

#include <QDir>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QNetworkInterface>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTimer>

#include <memory>

namespace {

using Method = QHttpServerRequest::Method;

/// Where Janus is reached: the listen address (every interface's but loopback when it
/// listens on all) and the public one. The TURN server relays there, and nowhere else inside.
QStringList ownAddresses(const QString &host, const QString &publicAddress)
{
    QList<QHostAddress> candidates{QHostAddress(host), QHostAddress(publicAddress)};
    const QHostAddress listen(host);
    if (listen == QHostAddress::AnyIPv4 || listen == QHostAddress::AnyIPv6) {
        for (const QHostAddress &a : QNetworkInterface::allAddresses())
            if (!a.isLoopback() && !a.isLinkLocal())
                candidates.append(a);
    }
    QStringList own;
    for (const QHostAddress &a : std::as_const(candidates)) {
        if (!a.isNull() && a != QHostAddress::AnyIPv4 && a != QHostAddress::AnyIPv6 &&
            !own.contains(a.toString()))
            own.append(a.toString());
    }
    return own;
}

void logRequests(QHttpServer &server, const char *name)
{
    server.afterRequest([name](QHttpServerResponse &&response, const QHttpServerRequest &request) {
        qInfo("%s %s %s -> %d", name, request.method() == Method::Post ? "POST" : "GET",
              qPrintable(request.url().path()), int(response.statusCode()));
        return std::move(response);
    });
}

/// Writes `response` now, or `holdMs` later with `context` alive.
void answer(QHttpServerResponse &&response, const std::shared_ptr<QHttpServerResponder> &responder,
            int holdMs, QObject *context)
{
    if (holdMs <= 0) {
        response.write(std::move(*responder));
        return;
    }
    auto held = std::make_shared<QHttpServerResponse>(std::move(response));
    QTimer::singleShot(holdMs, context, [held, responder] { held->write(std::move(*responder)); });
}

} // namespace

ServiceHost::ServiceHost(const ServicesConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_guard(m_config)
    , m_check(m_db)
    , m_media(config.dataDir)
    , m_login(m_db, m_config)
    , m_portal(m_db, m_config)
    , m_live(m_db, m_config, m_media)
    , m_pages(m_db, m_config)
    , m_hub(m_db, m_config)
    , m_signIns(m_db, m_check)
    , m_guestJoins("guest join", Throttle::Policy{}, Throttle::Policy{})
{
    m_portal.setConferenceHub(&m_hub);
    m_portal.setSignInGate(&m_signIns);
    m_login.setSignInGate(&m_signIns);
    m_hub.setThrottles(&m_signIns, &m_guestJoins);
}

bool ServiceHost::openData(QString *error)
{
    if (!QDir().mkpath(m_config.dataDir)) {
        *error = QStringLiteral("cannot create the data folder ") + m_config.dataDir;
        return false;
    }
    // Nobody is signed in yet, whatever the last run left behind (demo data loaded below, into
    // an empty database, shows the states it comes with).
    DatabaseSettings database = m_config.database;
    if (!database.postgres())
        database.sqlitePath = m_config.dataDir + QStringLiteral("/orvale.sqlite");
    if (!m_db.open(database, m_config.reset, error) || !m_db.resetPresence(error))
        return false;
    if (m_db.isPostgres()) { // other instances may count failures on the same database
        m_signIns.throttle().shareIn(m_db);
        m_guestJoins.shareIn(m_db);
    }
    if (m_config.demo && m_db.isEmpty() && !DemoData::load(m_db)) {
        *error = QStringLiteral("loading the demo data failed");
        return false;
    }
    if (m_db.isEmpty())
        qInfo("no accounts yet: add one with `orvale-services account add NAME --data %s`",
              qPrintable(m_config.dataDir));
    DemoData::keepBroadcastsCurrent(m_db);
    if (m_config.makeStream)
        m_media.ensureStream();
    return true;
}

QStringList ServiceHost::certificateNames() const
{
    QStringList names{m_config.advertisedHost()};
    const QHostAddress listening(m_config.host);
    if (m_config.host != names.first() && !listening.isNull() &&
        listening != QHostAddress::AnyIPv4 && listening != QHostAddress::AnyIPv6)
        names.append(m_config.host);
    return names;
}

bool ServiceHost::start(QString *error)
{
    // Clients on other machines would be told to reach the deployment at 0.0.0.0.
    const QHostAddress listening(m_config.host);
    if (m_config.publicName.isEmpty() &&
        (listening == QHostAddress::AnyIPv4 || listening == QHostAddress::AnyIPv6)) {
        *error = QStringLiteral("listening on %1 needs a public name (--public-url): the name "
                                "or address clients reach this machine by")
                     .arg(m_config.host);
        return false;
    }
    if (!openData(error) || !m_hub.shareState(error))
        return false;
    if (m_config.ldap.enabled()) {
        m_directory = std::make_unique<LdapDirectory>(m_config.ldap, m_db);
        m_check.setDirectory(m_directory.get());
        m_directory->start();
    }
    QSslKey key;
    if (!Certificate::load(m_config.dataDir, certificateNames(), &m_certificate, &key, error))
        return false;
    auto *tlsListener = new GuardedSslServer(m_guard);
    QSslConfiguration tls;
    tls.setLocalCertificate(m_certificate);
    tls.setPrivateKey(key);
    tlsListener->setSslConfiguration(tls);

    routeWebSite(m_plain);
    // A client that signed in over TLS reaches the version and live services there too.
    routeWebSite(m_tls);
    routeLogin(m_plain, QStringLiteral("/webservice/UserService"));
    routeLogin(m_tls, QStringLiteral("/webservice/UserService/loginJson"));
    routePortal(m_portalServer);
    logRequests(m_plain, "web");
    logRequests(m_tls, "tls");
    logRequests(m_portalServer, "portal");
    if (!listen(m_tls, tlsListener, &m_config.tlsPort, error) ||
        !listen(m_plain, new GuardedTcpServer(m_guard), &m_config.loginPort, error) ||
        !listen(m_portalServer, new GuardedTcpServer(m_guard), &m_config.portalPort, error))
        return false;
    startMedia();
    return true;
}

void ServiceHost::startMedia()
{
    if (!m_config.media)
        return;
    // The public name as an address: Janus and coturn tell it to peers behind a 1:1 NAT.
    QString publicAddress = m_config.advertisedHost();
    if (QHostAddress(publicAddress).isNull()) {
        const QList<QHostAddress> found = QHostInfo::fromName(publicAddress).addresses();
        publicAddress = found.isEmpty() ? QString() : found.first().toString();
    }
    startTurn(publicAddress);
    m_relays = std::make_unique<RelayPool>(m_db);
    if (m_config.localRelay)
        startOwnRelay(publicAddress);
    for (const RelaySettings &settings : std::as_const(m_config.relays)) {
        JanusSupervisor *relay = m_relays->addRemote(settings, m_config.dataDir);
        relay->setAnswerBound(m_config.relayAnswerBoundMs);
        relay->setRelayTokenLifetime(m_config.relayTokenLifetimeS);
        QString ignored; // one that does not answer yet is asked again
        relay->start(&ignored);
    }
    m_hub.setMedia(m_relays.get());
}

void ServiceHost::startOwnRelay(const QString &publicAddress)
{
    m_janus = std::make_unique<JanusSupervisor>(m_config.janus, m_config.dataDir);
    // Behind the front Janus is reached through it only; otherwise where the services are.
    // Janus binds only its interfaces' own addresses: on loopback that is 127.0.0.1.
    const QString loopback = QStringLiteral("127.0.0.1");
    const bool local = QHostAddress(m_config.host).isLoopback();
    if (m_config.behindFront())
        m_janus->setAddress(loopback, m_config.janusPort, {}, m_config.base(0));
    else
        m_janus->setAddress(local ? loopback : m_config.host, m_config.janusPort,
                            local && m_config.publicName.isEmpty() ? loopback
                                                                   : m_config.advertisedHost());
    m_janus->setNetwork({m_config.host, publicAddress, m_config.rtpMinPort, m_config.rtpMaxPort});
    m_janus->setRelayTokenLifetime(m_config.relayTokenLifetimeS);
    m_janus->setAnswerBound(m_config.relayAnswerBoundMs);
    QString why;
    if (!m_janus->start(&why)) // calls go to the other relays, or carry no media
        return qWarning("calls without media: %s", qPrintable(why)); // the tiles will say so
    m_relays->add(m_janus.get());
}

void ServiceHost::startTurn(const QString &publicAddress)
{
    if (!m_config.turn)
        return;
    const QByteArray secret = TurnSupervisor::secret(m_config.dataDir);
    if (secret.isEmpty())
        return qWarning("calls without TURN: no secret in %s", qPrintable(m_config.dataDir));
    if (m_config.externalTurn.isEmpty()) {
        m_turn = std::make_unique<TurnSupervisor>(m_config);
        QStringList own = ownAddresses(m_config.host, publicAddress);
        if (!m_config.turnRelayAddress.isEmpty() && !own.contains(m_config.turnRelayAddress))
            own.append(m_config.turnRelayAddress); // the relay's own address
        m_turn->setAllowedPeers(own);
        QString why;
        if (!m_turn->start(&why)) {
            qWarning("calls without TURN: %s", qPrintable(why));
            m_turn.reset();
            return;
        }
        // Engines are handed no server that is not there.
        connect(m_turn.get(), &TurnSupervisor::lost, this,
                [this] { m_hub.setIceServers(nullptr); });
    }
    m_iceServers = std::make_unique<TurnCredentials>(m_config, secret);
    m_hub.setIceServers(m_iceServers.get());
}

/// Qt's own listeners have no limits: the server gets a guarded one.
bool ServiceHost::listen(QHttpServer &server, QTcpServer *listener, quint16 *port, QString *error)
{
    if (!listener->listen(QHostAddress(m_config.host), *port)) {
        *error = QStringLiteral("cannot listen on %1:%2").arg(m_config.host).arg(*port);
        delete listener;
        return false;
    }
    *port = listener->serverPort();
    server.bind(listener);
    return true;
}

void ServiceHost::routeLogin(QHttpServer &server, const QString &path)
{
    server.route(path, Method::Post,
                 [this, path](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     // The answer may wait for the company directory, off the event loop.
                     auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
                     m_login.handle(request, this,
                                    [this, held, path](QHttpServerResponse &&response, int hold) {
                                        qInfo("login POST %s -> %d", qPrintable(path),
                                              int(response.statusCode()));
                                        answer(std::move(response), held, hold, this);
                                    });
                 });
}

void ServiceHost::routePortal(QHttpServer &server)
{
    // The engines' WebSocket: the route only lets the upgrade through, writing nothing.
    server.route(QStringLiteral("/conference"), Method::Get,
                 [](const QHttpServerRequest &, QHttpServerResponder &&) {});
    connect(&server, &QHttpServer::newWebSocketConnection, this, [this, &server] {
        while (server.hasPendingWebSocketConnections())
            m_hub.accept(server.nextPendingWebSocketConnection());
    });
    server.route(QStringLiteral("/services/v1_1/PortalUserService"), Method::Post,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
                     m_portal.handle(request, this,
                                     [this, held](QHttpServerResponse &&response, int hold) {
                                         qInfo("portal POST /services/v1_1/PortalUserService -> %d",
                                               int(response.statusCode()));
                                         answer(std::move(response), held,
                                                std::max(hold, m_config.portalReplyDelayMs), this);
                                     });
                 });
}

void ServiceHost::routeWebSite(QHttpServer &server)
{
    server.route(QStringLiteral("/quilber/webservice/UserService/getVersion"), Method::Get,
                 [this](const QHttpServerRequest &request) { return m_pages.version(request); });
    server.route(QStringLiteral("/pages/Kwuser/l.do"), Method::Get,
                 [this](const QHttpServerRequest &request) { return m_pages.invitation(request); });
    server.route(QStringLiteral("/rest/LiveService/getLiveList/<arg>"), Method::Get,
                 [this](const QString &coId) { return m_live.liveList(coId); });
    server.route(QStringLiteral("/rest/LiveService/getCountDownTime/<arg>/<arg>"), Method::Get,
                 [this](const QString &coId, const QString &liveId) {
                     return m_live.countdown(coId, liveId);
                 });
    server.route(QStringLiteral("/live/images/<arg>"), Method::Get,
                 [this](const QString &file) { return m_live.cover(file); });
    server.route(QStringLiteral("/live/hls/index.m3u8"), Method::Get,
                 [this] { return m_live.playlist(); });
    server.route(QStringLiteral("/live/hls/<arg>"), Method::Get,
                 [this](const QString &file) { return m_live.segment(file); });
    server.route(QStringLiteral("/download/orvale"), Method::Get, [this] {
        return m_pages.plainPage(QStringLiteral("下载 Orvale"),
                                 QStringLiteral("最新版本的 Orvale 客户端。"));
    });
    server.route(QStringLiteral("/admin/"), Method::Get, [this] {
        return m_pages.plainPage(QStringLiteral("管理后台"), QStringLiteral("会议室与成员管理。"));
    });
    server.route(QStringLiteral("/pages/video/intro.html"), Method::Get, [this] {
        return m_pages.plainPage(QStringLiteral("产品介绍"),
                                 QStringLiteral("Orvale 视频会议产品介绍。"));
    });
    server.route(QStringLiteral("/"), Method::Get, [this] {
        return m_pages.plainPage(QStringLiteral("Orvale"), QStringLiteral("公司视频会议服务。"));
    });
}
