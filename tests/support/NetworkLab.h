#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class QProcess;

/// Hosts on networks of their own, made of Linux network namespaces joined by veth pairs, for
/// tests and benchmarks that need a call to cross routers, a NAT and a firewall (root only).
///
///   server  203.0.113.10 ─┐
///   server2 203.0.113.20 ─┤
///   relay1  203.0.113.40 ─┤
///   relay2  203.0.113.50 ─┤
///   database 203.0.113.70 ┤
///   office  198.51.100.10 ┼─ internet (router)
///   home    192.0.2.10 ── home router (NAT, outside 198.51.100.70) ─┤
///   firewalled 192.0.2.140 ── firewall router (NAT; no UDP; TCP to the server's open ports) ─┘
///
/// The servers' hosts (a deployment of several instances, its relays and its database) each
/// have a network of their own in 203.0.113.0/24. Every address is a documentation one and lives
/// only inside these namespaces: nothing leaves the machine. Namespaces are named after this
/// process ("orvlab<pid>-<n>-<host>"), so labs of test programs running side by side never meet;
/// those of programs that died are removed when the next lab is built, and a lab removes its own
/// when it goes.
class NetworkLab final
{
public:
    enum class Host {
        Server,
        Office,
        Home,
        Firewalled,
        Internet,
        HomeRouter,
        FirewallRouter,
        SecondServer,
        Relay,
        SecondRelay,
        Database,
    };
    /// A host's link to the router it hangs off (the server's and the office's to the internet).
    enum class Link { Server, Office, Home, Firewalled };
    /// Up: from the host towards its router; down: back to the host.
    enum class Direction { Up, Down };

    /// `openServerPorts`: the server's TCP ports the firewalled host may reach.
    explicit NetworkLab(const QList<quint16> &openServerPorts = {443});
    ~NetworkLab();
    NetworkLab(const NetworkLab &) = delete;
    NetworkLab &operator=(const NetworkLab &) = delete;

    /// Why no lab can be built here (not root, no `ip netns`, no `nft`), or empty.
    /// Why the lab, or one of `programs` its tests run, is not available here; empty if all are.
    static QString unavailable(const QStringList &programs = {});
    /// Makes the hosts and their links; false (with `error()`) when a step failed.
    bool build();
    QString error() const { return m_error; }

    QString namespaceName(Host host) const;
    /// The host's address on its own network.
    static QString address(Host host);
    /// The address the server sees the host's packets come from (its router's, behind a NAT).
    static QString seenAs(Host host);

    /// The program and arguments that run `program` in `host`: `ip netns exec <namespace> …`.
    QStringList command(Host host, const QString &program, const QStringList &arguments = {}) const;
    /// `command()` without the program: put in front of a program's own command line.
    QStringList launcher(Host host) const;
    /// Starts `program` in `host` as a child of `process`.
    void start(QProcess &process, Host host, const QString &program,
               const QStringList &arguments = {}) const;

    /// Drops `percent` of the UDP datagrams crossing `link` in `direction` (0 stops it).
    bool setLoss(Link link, Direction direction, int percent);
    /// Limits `link` in `direction` to `kbitPerSecond` (0 lifts the limit).
    bool setRate(Link link, Direction direction, int kbitPerSecond);
    /// Takes the host's end of `link` down, or brings it back with its route.
    bool setLinkUp(Link link, bool up);
    /// The server's TCP ports the firewalled host may reach, in place of the ones given.
    bool setOpenServerPorts(const QList<quint16> &ports);
    /// Loads nft rules (a file's text) in `host`, as `nft -f`.
    bool loadRules(Host host, const QByteArray &rules);

    /// Every lab namespace on the machine, of any process.
    static QStringList allNamespaces();

private:
    struct LinkEnds
    {
        Host host, router;
        QString hostSide, routerSide; // interface names, each named after the other end
        QString gateway;
    };
    static LinkEnds ends(Link link);
    static QList<Host> hosts();
    static QString hostName(Host host);
    /// The hosts beside the server in its range, each on a link of its own to the internet.
    static QList<Host> serverRange();
    /// The internet router's address on the link to `host` of the servers' range.
    static QString gatewayOf(Host host);
    static void removeStale();

    bool ip(const QStringList &arguments);
    bool inHost(Host host, const QStringList &arguments);
    /// Runs a program and its arguments (`line`) in `host` to the end.
    bool inside(Host host, const QStringList &line, const QByteArray &input = {});
    bool join(Host a, const QString &aSide, const QString &aAddress, Host b, const QString &bSide,
              const QString &bAddress);
    bool route(Host host, const QString &gateway);
    bool loadFirewall();
    bool loadLoss(Host host);
    bool exec(const QString &program, const QStringList &arguments, const QByteArray &input = {});
    void teardown();

    QString m_prefix;
    QList<quint16> m_openPorts;
    QString m_error;
    QMap<QString, int> m_loss; // "<namespace> <interface>" → percent
    bool m_built = false;
};
