#pragma once

#include <QProcess>
#include <QTemporaryDir>

/// Debian's nginx as the deployment's TLS front, a child process of the test: the site the
/// package ships (services/nginx/orvale), listening on the test's address and ports, proxying
/// to the deployment's and Janus's ports, with the test's certificate. Its configuration,
/// logs, pid and temporary files stay in a folder of its own.
class TlsFront final
{
public:
    struct Ports
    {
        quint16 front = 0;    ///< https and wss: the login reply's portal, the relay, the web site
        quint16 tlsLogin = 0; ///< the TLS login port clients try (9090 in the shipped site)
        quint16 web = 0;      ///< the deployment's login service and web site, on loopback
        quint16 portal = 0;   ///< the deployment's portal, on loopback
        quint16 janus = 0;    ///< Janus's API, on loopback
    };

    TlsFront(const QString &address, const Ports &ports, const QString &certificate,
             const QString &key);
    ~TlsFront();

    /// Writes the configuration and starts nginx; true once it answers on its front port.
    bool start(QString *error);
    /// A command put in front of nginx's, such as a network lab host's launcher: nginx then
    /// counts as up once it has written its pid file, after it opened its ports.
    void setLauncher(const QStringList &launcher) { m_launcher = launcher; }
    /// Before start(): several instances, as "address:port" each, their login services and
    /// their portals, instead of the ports' `web` and `portal`.
    void setInstances(const QStringList &webServers, const QStringList &portalServers)
    {
        m_webServers = webServers;
        m_portalServers = portalServers;
    }
    void stop();
    /// "https://<address>:<front port>".
    QString base() const;
    const Ports &ports() const { return m_ports; }
    /// The shipped site with the test's addresses, ports and certificate; empty (and the
    /// reason) when the shipped site no longer has what is replaced.
    QString site(QString *error) const;

private:
    QString m_address;
    Ports m_ports;
    QString m_certificate;
    QString m_key;
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_launcher;
    QStringList m_webServers;
    QStringList m_portalServers;
};
