#include "tests/support/NetworkLab.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString labPrefix = QStringLiteral("orvlab");
QAtomicInt labsMade;

// The internet router's side of each network; the hosts' gateways.
const QString internetToServer = QStringLiteral("203.0.113.1");
const QString internetToOffice = QStringLiteral("198.51.100.1");
const QString internetToHome = QStringLiteral("198.51.100.65");
const QString internetToFirewall = QStringLiteral("198.51.100.129");
const QString homeRouterInside = QStringLiteral("192.0.2.1");
const QString firewallInside = QStringLiteral("192.0.2.129");

QString joined(const QList<quint16> &ports)
{
    QStringList words;
    for (quint16 port : ports)
        words.append(QString::number(port));
    return words.join(QStringLiteral(", "));
}

/// Both routers are NATs: a private network behind one outside address.
QByteArray masquerade()
{
    return "table ip orvlabnat\n"
           "delete table ip orvlabnat\n"
           "table ip orvlabnat {\n"
           "  chain outward {\n"
           "    type nat hook postrouting priority 100;\n"
           "    oifname \"internet\" masquerade\n"
           "  }\n"
           "}\n";
}

} // namespace

NetworkLab::NetworkLab(const QList<quint16> &openServerPorts)
    : m_prefix(QStringLiteral("%1%2-%3-")
                   .arg(labPrefix)
                   .arg(QCoreApplication::applicationPid())
                   .arg(labsMade.fetchAndAddRelaxed(1)))
    , m_openPorts(openServerPorts)
{}

NetworkLab::~NetworkLab()
{
    teardown();
}

QString NetworkLab::unavailable(const QStringList &programs)
{
    for (const QString &program : programs)
        if (QStandardPaths::findExecutable(program).isEmpty() &&
            QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin")}).isEmpty())
            return program + QStringLiteral(" is not installed");
    if (::geteuid() != 0)
        return QStringLiteral("the network lab needs root");
    for (const char *tool : {"ip", "nft", "tc", "sysctl"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return QStringLiteral("the network lab needs %1 on the path").arg(QLatin1String(tool));
    QProcess list;
    list.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("list")});
    if (!list.waitForFinished() || list.exitCode() != 0)
        return QStringLiteral("`ip netns` is not available");
    return {};
}

QList<NetworkLab::Host> NetworkLab::hosts()
{
    return QList<Host>{Host::Server,   Host::Office,     Host::Home,          Host::Firewalled,
                       Host::Internet, Host::HomeRouter, Host::FirewallRouter} +
           serverRange();
}

QList<NetworkLab::Host> NetworkLab::serverRange()
{
    return {Host::SecondServer, Host::Relay, Host::SecondRelay, Host::Database};
}

QString NetworkLab::gatewayOf(Host host)
{
    // Each host's network is the 16 addresses (a /28) its own address is in; the router takes
    // the first one after the network's own.
    const quint32 first = QHostAddress(address(host)).toIPv4Address() & ~quint32(15);
    return QHostAddress(first + 1).toString();
}

QString NetworkLab::hostName(Host host)
{
    switch (host) {
    case Host::Server:
        return QStringLiteral("server");
    case Host::Office:
        return QStringLiteral("office");
    case Host::Home:
        return QStringLiteral("home");
    case Host::Firewalled:
        return QStringLiteral("firewalled");
    case Host::Internet:
        return QStringLiteral("internet");
    case Host::HomeRouter:
        return QStringLiteral("homerouter");
    case Host::FirewallRouter:
        return QStringLiteral("firewall");
    case Host::SecondServer:
        return QStringLiteral("server2");
    case Host::Relay:
        return QStringLiteral("relay1");
    case Host::SecondRelay:
        return QStringLiteral("relay2");
    case Host::Database:
        return QStringLiteral("database");
    }
    return {};
}

QString NetworkLab::namespaceName(Host host) const
{
    return m_prefix + hostName(host);
}

QString NetworkLab::address(Host host)
{
    switch (host) {
    case Host::Server:
        return QStringLiteral("203.0.113.10");
    case Host::Office:
        return QStringLiteral("198.51.100.10");
    case Host::Home:
        return QStringLiteral("192.0.2.10");
    case Host::Firewalled:
        return QStringLiteral("192.0.2.140");
    case Host::Internet:
        return internetToServer;
    case Host::HomeRouter:
        return QStringLiteral("198.51.100.70");
    case Host::FirewallRouter:
        return QStringLiteral("198.51.100.140");
    case Host::SecondServer:
        return QStringLiteral("203.0.113.20");
    case Host::Relay:
        return QStringLiteral("203.0.113.40");
    case Host::SecondRelay:
        return QStringLiteral("203.0.113.50");
    case Host::Database:
        return QStringLiteral("203.0.113.70");
    }
    return {};
}

QString NetworkLab::seenAs(Host host)
{
    if (host == Host::Home)
        return address(Host::HomeRouter);
    if (host == Host::Firewalled)
        return address(Host::FirewallRouter);
    return address(host);
}

NetworkLab::LinkEnds NetworkLab::ends(Link link)
{
    switch (link) {
    case Link::Server:
        return {Host::Server, Host::Internet, QStringLiteral("internet"), QStringLiteral("server"),
                internetToServer};
    case Link::Office:
        return {Host::Office, Host::Internet, QStringLiteral("internet"), QStringLiteral("office"),
                internetToOffice};
    case Link::Home:
        return {Host::Home, Host::HomeRouter, QStringLiteral("router"), QStringLiteral("home"),
                homeRouterInside};
    case Link::Firewalled:
        return {Host::Firewalled, Host::FirewallRouter, QStringLiteral("router"),
                QStringLiteral("firewalled"), firewallInside};
    }
    return {};
}

QStringList NetworkLab::launcher(Host host) const
{
    return {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
            namespaceName(host)};
}

QStringList NetworkLab::command(Host host, const QString &program,
                                const QStringList &arguments) const
{
    return launcher(host) + QStringList{program} + arguments;
}

void NetworkLab::start(QProcess &process, Host host, const QString &program,
                       const QStringList &arguments) const
{
    const QStringList line = command(host, program, arguments);
    // A test that crashes leaves nothing running in its namespaces.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(line.first(), line.mid(1));
}

bool NetworkLab::build()
{
    removeStale();
    m_built = true; // from here on a half-built lab is torn down too
    for (Host host : hosts())
        if (!ip({QStringLiteral("netns"), QStringLiteral("add"), namespaceName(host)}) ||
            !inHost(host, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                           QStringLiteral("up")}))
            return false;
    for (Host router : {Host::Internet, Host::HomeRouter, Host::FirewallRouter})
        if (!inside(router, {QStringLiteral("sysctl"), QStringLiteral("-qw"),
                             QStringLiteral("net.ipv4.ip_forward=1")}))
            return false;
    for (Host host : serverRange())
        if (!join(host, QStringLiteral("internet"), address(host) + QStringLiteral("/28"),
                  Host::Internet, hostName(host), gatewayOf(host) + QStringLiteral("/28")) ||
            !route(host, gatewayOf(host)))
            return false;
    const bool linked =
        join(Host::Server, QStringLiteral("internet"),
             address(Host::Server) + QStringLiteral("/28"), Host::Internet,
             QStringLiteral("server"), internetToServer + QStringLiteral("/28")) &&
        join(Host::Office, QStringLiteral("internet"),
             address(Host::Office) + QStringLiteral("/26"), Host::Internet,
             QStringLiteral("office"), internetToOffice + QStringLiteral("/26")) &&
        join(Host::HomeRouter, QStringLiteral("internet"),
             address(Host::HomeRouter) + QStringLiteral("/26"), Host::Internet,
             QStringLiteral("homerouter"), internetToHome + QStringLiteral("/26")) &&
        join(Host::FirewallRouter, QStringLiteral("internet"),
             address(Host::FirewallRouter) + QStringLiteral("/26"), Host::Internet,
             QStringLiteral("firewall"), internetToFirewall + QStringLiteral("/26")) &&
        join(Host::Home, QStringLiteral("router"), address(Host::Home) + QStringLiteral("/25"),
             Host::HomeRouter, QStringLiteral("home"), homeRouterInside + QStringLiteral("/25")) &&
        join(Host::Firewalled, QStringLiteral("router"),
             address(Host::Firewalled) + QStringLiteral("/25"), Host::FirewallRouter,
             QStringLiteral("firewalled"), firewallInside + QStringLiteral("/25"));
    return linked && route(Host::Server, internetToServer) &&
           route(Host::Office, internetToOffice) && route(Host::HomeRouter, internetToHome) &&
           route(Host::FirewallRouter, internetToFirewall) && route(Host::Home, homeRouterInside) &&
           route(Host::Firewalled, firewallInside) && loadRules(Host::HomeRouter, masquerade()) &&
           loadFirewall();
}

bool NetworkLab::join(Host a, const QString &aSide, const QString &aAddress, Host b,
                      const QString &bSide, const QString &bAddress)
{
    const QString up = QStringLiteral("up");
    return ip({QStringLiteral("link"), QStringLiteral("add"), aSide, QStringLiteral("netns"),
               namespaceName(a), QStringLiteral("type"), QStringLiteral("veth"),
               QStringLiteral("peer"), QStringLiteral("name"), bSide, QStringLiteral("netns"),
               namespaceName(b)}) &&
           inHost(a, {QStringLiteral("address"), QStringLiteral("add"), aAddress,
                      QStringLiteral("dev"), aSide}) &&
           inHost(b, {QStringLiteral("address"), QStringLiteral("add"), bAddress,
                      QStringLiteral("dev"), bSide}) &&
           inHost(a, {QStringLiteral("link"), QStringLiteral("set"), aSide, up}) &&
           inHost(b, {QStringLiteral("link"), QStringLiteral("set"), bSide, up});
}

bool NetworkLab::route(Host host, const QString &gateway)
{
    return inHost(host, {QStringLiteral("route"), QStringLiteral("replace"),
                         QStringLiteral("default"), QStringLiteral("via"), gateway});
}

bool NetworkLab::loadFirewall()
{
    // Everything from inside is dropped but answers and TCP to the server's open ports.
    QByteArray rules = "table inet orvlabfirewall\n"
                       "delete table inet orvlabfirewall\n"
                       "table inet orvlabfirewall {\n"
                       "  chain passage {\n"
                       "    type filter hook forward priority 0; policy drop;\n"
                       "    ct state established,related accept\n";
    if (!m_openPorts.isEmpty())
        rules += QStringLiteral("    iifname \"firewalled\" ip daddr %1 tcp dport { %2 } accept\n")
                     .arg(address(Host::Server), joined(m_openPorts))
                     .toUtf8();
    rules += "  }\n}\n";
    return loadRules(Host::FirewallRouter, rules + masquerade());
}

bool NetworkLab::setOpenServerPorts(const QList<quint16> &ports)
{
    m_openPorts = ports;
    return loadFirewall();
}

bool NetworkLab::setLoss(Link link, Direction direction, int percent)
{
    const LinkEnds e = ends(link);
    const Host sender = direction == Direction::Up ? e.host : e.router;
    const QString device = direction == Direction::Up ? e.hostSide : e.routerSide;
    m_loss[namespaceName(sender) + u' ' + device] = percent;
    return loadLoss(sender);
}

bool NetworkLab::loadLoss(Host host)
{
    // A chain after routing sees what the host sends and what it forwards alike.
    QByteArray rules = "table inet orvlabloss\n"
                       "delete table inet orvlabloss\n"
                       "table inet orvlabloss {\n"
                       "  chain lossy {\n"
                       "    type filter hook postrouting priority 0;\n";
    const QString name = namespaceName(host);
    for (auto it = m_loss.cbegin(); it != m_loss.cend(); ++it) {
        const QStringList key = it.key().split(u' ');
        if (key.first() != name || it.value() <= 0)
            continue;
        rules += QStringLiteral("    oifname \"%1\" meta l4proto udp numgen random mod 100 lt %2 "
                                "drop\n")
                     .arg(key.last())
                     .arg(it.value())
                     .toUtf8();
    }
    return loadRules(host, rules + "  }\n}\n");
}

bool NetworkLab::setRate(Link link, Direction direction, int kbitPerSecond)
{
    const LinkEnds e = ends(link);
    const Host sender = direction == Direction::Up ? e.host : e.router;
    const QString device = direction == Direction::Up ? e.hostSide : e.routerSide;
    if (kbitPerSecond <= 0) {
        exec(QStringLiteral("tc"),
             {QStringLiteral("-n"), namespaceName(sender), QStringLiteral("qdisc"),
              QStringLiteral("del"), QStringLiteral("dev"), device, QStringLiteral("root")});
        return true; // none to lift is fine
    }
    // A bucket of a tenth of a second's worth, and at most 200 ms of queue.
    const int burstBytes = std::max(1600, kbitPerSecond * 1000 / 8 / 10);
    return exec(QStringLiteral("tc"),
                {QStringLiteral("-n"), namespaceName(sender), QStringLiteral("qdisc"),
                 QStringLiteral("replace"), QStringLiteral("dev"), device, QStringLiteral("root"),
                 QStringLiteral("tbf"), QStringLiteral("rate"),
                 QStringLiteral("%1kbit").arg(kbitPerSecond), QStringLiteral("burst"),
                 QString::number(burstBytes), QStringLiteral("latency"), QStringLiteral("200ms")});
}

bool NetworkLab::setLinkUp(Link link, bool up)
{
    const LinkEnds e = ends(link);
    if (!inHost(e.host, {QStringLiteral("link"), QStringLiteral("set"), e.hostSide,
                         up ? QStringLiteral("up") : QStringLiteral("down")}))
        return false;
    // A link going down takes its routes along; the default one comes back with it.
    return !up || route(e.host, e.gateway);
}

bool NetworkLab::loadRules(Host host, const QByteArray &rules)
{
    return inside(host, {QStringLiteral("nft"), QStringLiteral("-f"), QStringLiteral("-")}, rules);
}

bool NetworkLab::inside(Host host, const QStringList &line, const QByteArray &input)
{
    const QStringList all = command(host, line.first(), line.mid(1));
    return exec(all.first(), all.mid(1), input);
}

bool NetworkLab::ip(const QStringList &arguments)
{
    return exec(QStringLiteral("ip"), arguments);
}

bool NetworkLab::inHost(Host host, const QStringList &arguments)
{
    return ip(QStringList{QStringLiteral("-n"), namespaceName(host)} + arguments);
}

bool NetworkLab::exec(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    m_error =
        QStringLiteral("%1 %2: %3")
            .arg(program, arguments.join(u' '), QString::fromUtf8(process.readAll()).trimmed());
    return false;
}

QStringList NetworkLab::allNamespaces()
{
    QProcess list;
    list.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("list")});
    list.waitForFinished();
    QStringList names;
    for (const QByteArray &line : list.readAllStandardOutput().split('\n')) {
        const QString name = QString::fromUtf8(line.split(' ').value(0));
        if (name.startsWith(labPrefix))
            names.append(name);
    }
    return names;
}

void NetworkLab::removeStale()
{
    // A lab whose process is gone (a crashed test) is removed; others belong to a running one.
    static const QRegularExpression owner(QStringLiteral("^orvlab(\\d+)-"));
    for (const QString &name : allNamespaces()) {
        const auto match = owner.match(name);
        const pid_t pid = match.hasMatch() ? pid_t(match.captured(1).toLongLong()) : 0;
        if (pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH))
            continue;
        QProcess::execute(QStringLiteral("ip"),
                          {QStringLiteral("netns"), QStringLiteral("del"), name});
    }
}

void NetworkLab::teardown()
{
    if (!m_built)
        return;
    m_built = false;
    for (Host host : hosts()) {
        const QString name = namespaceName(host);
        // What still runs in a namespace would keep it, unnamed, alive.
        QProcess pids;
        pids.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("pids"), name});
        pids.waitForFinished();
        for (const QByteArray &pid : pids.readAllStandardOutput().split('\n'))
            if (pid.toInt() > 0)
                ::kill(pid_t(pid.toInt()), SIGKILL);
        QProcess::execute(QStringLiteral("ip"),
                          {QStringLiteral("netns"), QStringLiteral("del"), name});
    }
}
