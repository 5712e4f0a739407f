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

    /// "host:port" of the portal as the login reply names it.
    QString portalAuthority() const { return host + u':' + QString::number(portalPort); }
    QString loginBase() const { return QStringLiteral("http://%1:%2").arg(host).arg(loginPort); }
    QString portalBase() const { return QStringLiteral("http://%1:%2").arg(host).arg(portalPort); }
};
