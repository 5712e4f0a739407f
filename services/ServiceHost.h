#pragma once

#include "services/ConferenceHub.h"
#include "services/ConnectionGuard.h"
#include "services/CredentialCheck.h"
#include "services/JanusSupervisor.h"
#include "services/LdapDirectory.h"
#include "services/LiveEndpoint.h"
#include "services/LoginEndpoint.h"
#include "services/MediaAssets.h"
#include "services/PortalEndpoint.h"
#include "services/RelayPool.h"
#include "services/ServiceDatabase.h"
#include "services/ServicesConfig.h"
#include "services/SignInGate.h"
#include "services/Throttle.h"
#include "services/TurnCredentials.h"
#include "services/TurnSupervisor.h"
#include "services/WebPages.h"

#include <QHttpServer>
#include <QObject>
#include <QSslCertificate>

#include <memory>

/// The whole reference deployment: the login and web site port, the TLS login port and the
/// portal port, over one database.
class ServiceHost final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServiceHost)

public:
    explicit ServiceHost(const ServicesConfig &config, QObject *parent = nullptr);

    /// Opens the data folder and listens; ports given as 0 are chosen by the system and
    /// written back into config().
    bool start(QString *error);
    const ServicesConfig &config() const { return m_config; }
    QSslCertificate certificate() const { return m_certificate; }
    ServiceDatabase &database() { return m_db; }
    /// The deployment's own media relay, or null when calls run without it.
    JanusSupervisor *janus() const { return m_janus.get(); }
    /// Every relay, the own one first; null when calls run without media.
    RelayPool *relays() const { return m_relays.get(); }
    /// The TURN server run as a child, or null (none, or an external one).
    TurnSupervisor *turn() const { return m_turn.get(); }
    ConferenceHub &conferenceHub() { return m_hub; }
    /// The company directory, or null when there is none.
    LdapDirectory *directory() const { return m_directory.get(); }
    /// Password checks (throttled, remembered) and guests' room attempts (throttled).
    SignInGate &signIns() { return m_signIns; }
    Throttle &guestJoins() { return m_guestJoins; }

private:
    bool openData(QString *error);
    void routeWebSite(QHttpServer &server);
    void routeLogin(QHttpServer &server, const QString &path);
    void routePortal(QHttpServer &server);
    QStringList certificateNames() const;
    bool listen(QHttpServer &server, QTcpServer *listener, quint16 *port, QString *error);
    void startMedia();
    /// Janus as a child, the first relay.
    void startOwnRelay(const QString &publicAddress);
    /// coturn as a child unless an external TURN server is named; the engines' ICE servers.
    void startTurn(const QString &publicAddress);

    ServicesConfig m_config;
    ConnectionGuard m_guard; ///< outlives every connection
    ServiceDatabase m_db;
    CredentialCheck m_check;
    MediaAssets m_media;
    LoginEndpoint m_login;
    PortalEndpoint m_portal;
    LiveEndpoint m_live;
    WebPages m_pages;
    ConferenceHub m_hub;
    SignInGate m_signIns;
    Throttle m_guestJoins;
    QHttpServer m_plain;
    QHttpServer m_tls;
    QHttpServer m_portalServer;
    QSslCertificate m_certificate;
    std::unique_ptr<JanusSupervisor> m_janus;
    std::unique_ptr<RelayPool> m_relays;
    std::unique_ptr<TurnSupervisor> m_turn;
    std::unique_ptr<TurnCredentials> m_iceServers;
    std::unique_ptr<LdapDirectory> m_directory;
};
