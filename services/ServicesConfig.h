#pragma once

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
    int maxLines = 200;                      ///< concurrent conference lines of the whole portal
    bool makeStream = true;                  ///< make the live test stream when it is missing
    bool media = false;                      ///< run Janus for the calls' audio and video
    QString janus = QStringLiteral("janus"); ///< the Janus program
    /// Portal replies are held this long after the operation took effect, so that tests can
    /// let the engines hear of a conference before the client hears the portal's answer.
    int portalReplyDelayMs = 0;
    int pingIntervalMs = 10000; ///< the conference service pings every engine this often
    int silenceLimitMs = 30000; ///< and drops one that has sent nothing, not even a pong, this long

    /// The name clients reach the deployment by; empty: the listen address.
    QString publicName;
    QString publicHost() const { return publicName.isEmpty() ? host : publicName; }

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
    int turnLifetimeS = 86400;  ///< how long TURN credentials hold; renewed at 3/4 of it
    quint16 rtpMinPort = 20000; ///< Janus's RTP ports
    quint16 rtpMaxPort = 40000;

    /// "host:port" of the portal as the login reply names it.
    QString portalAuthority() const { return host + u':' + QString::number(portalPort); }
    QString loginBase() const { return QStringLiteral("http://%1:%2").arg(host).arg(loginPort); }
    QString portalBase() const { return QStringLiteral("http://%1:%2").arg(host).arg(portalPort); }
};
