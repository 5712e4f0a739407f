#pragma once

#include "services/DatabaseSettings.h"
#include "services/LdapSettings.h"
#include "services/RelaySettings.h"

#include <QList>
#include <QString>

/// What the command line of orvale-services sets.
struct ServicesConfig
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 loginPort = 8080;
    quint16 tlsPort = 9090;
    quint16 portalPort = 8081;
    QString dataDir;
    bool reset = false;
    bool demo = false;                       ///< load the demo company into an empty database
    int maxLines = 200;                      ///< concurrent conference lines of the whole portal
    bool makeStream = true;                  ///< make the live test stream when it is missing
    bool media = false;                      ///< run Janus for the calls' audio and video
    QString janus = QStringLiteral("janus"); ///< the Janus program
    /// Portal replies are held this long after the operation took effect, so that tests can
    /// let the engines hear of a conference before the client hears the portal's answer.
    int portalReplyDelayMs = 0;
    int pingIntervalMs = 10000; ///< the conference service pings every engine this often
    int silenceLimitMs = 30000; ///< and drops one that has sent nothing, not even a pong, this long
    /// The name clients reach the deployment by (a host name or an address), separate from
    /// `host`, where it listens; empty: `host`. Everything handed to clients names it.
    QString publicName;
    /// The port of the TLS front (nginx) at `publicName` that every connection of the clients
    /// goes through, https and wss; 0: clients reach the deployment's own listeners over http.
    quint16 frontPort = 0;
    quint16 janusPort = 0; ///< Janus's API port (0: any free one); the front's site names it

    // Transport limits of the deployment's own listeners (the front applies its own too).
    qint64 maxBodyBytes = 64 * 1024; ///< a larger request body is refused before it is read
    int maxHeaderBytes = 16 * 1024;  ///< and a larger request line with its headers
    int connectionsPerAddress = 256; ///< open connections from one address, WebSockets included
    int webSocketsPerAddress = 64;   ///< conference WebSockets from one address
    int httpIdleMs = 30000;      ///< a connection without a whole new request for this long closes
    int signInDeadlineMs = 5000; ///< a conference WebSocket not signed in by then is closed

    QString advertisedHost() const { return publicName.isEmpty() ? host : publicName; }
    bool behindFront() const { return frontPort != 0; }

    // NAT and firewall traversal.
    bool turn = true;                                  ///< hand engines a TURN server
    QString turnServer = QStringLiteral("turnserver"); ///< the coturn program run as a child
    QString externalTurn;         ///< "host[:port]" of a TURN server run elsewhere: none is started
    quint16 turnPort = 3478;      ///< TURN and STUN over UDP and TCP
    quint16 turnTlsPort = 5349;   ///< TURN over TLS, when a certificate is configured
    QString turnCert;             ///< PEM certificate chain of the TURN server's TLS
    QString turnKey;              ///< and its key
    QString turnRelayAddress;     ///< where relays are made from; empty: the listen address
    quint16 relayMinPort = 49152; ///< the TURN server's relay ports
    quint16 relayMaxPort = 65535;
    int turnLifetimeS = 86400;       ///< how long TURN credentials hold; renewed at 3/4 of it
    int relayTokenLifetimeS = 86400; ///< how long an engine's relay token holds; likewise
    quint16 rtpMinPort = 20000;      ///< Janus's RTP ports
    quint16 rtpMaxPort = 40000;

    // Relays run elsewhere, beside the own Janus (or instead of it).
    QList<RelaySettings> relays;
    bool localRelay = true;         ///< run Janus as a child, the relay conferences go to first
    int relayAnswerBoundMs = 15000; ///< a relay that leaves its checks unanswered this long is left

    LdapSettings ldap; ///< the company directory beside the local accounts; no URL: none
    /// The deployment's database; none named: the SQLite file of the data folder.
    DatabaseSettings database;
    /// Several instances on one PostgreSQL database: this one's name among them (empty: one
    /// made at start), how often it beats, and how many beats the others wait for before
    /// they end its sessions.
    QString instanceId;
    int heartbeatMs = 1000;
    int heartbeatMisses = 3;

    /// "host:port" of the portal as the login reply names it.
    QString portalAuthority() const { return authority(behindFront() ? frontPort : portalPort); }
    QString loginBase() const { return base(loginPort); }
    QString portalBase() const { return base(portalPort); }
    /// Where clients reach one of the deployment's own listeners, through the front if any.
    QString base(quint16 ownPort) const
    {
        if (!behindFront())
            return QStringLiteral("http://") + authority(ownPort);
        return frontPort == 443 ? QStringLiteral("https://") + bracketed()
                                : QStringLiteral("https://") + authority(frontPort);
    }

private:
    QString bracketed() const
    {
        const QString name = advertisedHost();
        return name.contains(u':') ? u'[' + name + u']' : name; // an IPv6 address
    }
    QString authority(quint16 port) const { return bracketed() + u':' + QString::number(port); }
};
