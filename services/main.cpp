#include "services/AccountCommand.h"
#include "services/ServiceHost.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool readPort(const QCommandLineParser &parser, const QString &name, quint16 *port)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const uint value = parser.value(name).toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

/// "https://name[:port]" (the TLS front at that port, 443 by default) or "http://name" (or the
/// bare name: the deployment's own ports); empty leaves the listen address as the public one.
bool readPublicUrl(const QString &text, ServicesConfig *config)
{
    if (text.isEmpty())
        return true;
    const QUrl url(text.contains(QStringLiteral("://")) ? text : QStringLiteral("http://") + text,
                   QUrl::StrictMode);
    const bool https = url.scheme() == u"https";
    if (!url.isValid() || url.host().isEmpty() || (!https && url.scheme() != u"http") ||
        (!https && url.port() != -1) || !url.userInfo().isEmpty() ||
        (!url.path().isEmpty() && url.path() != u"/") || url.hasQuery() || url.hasFragment())
        return false;
    config->publicName = url.host();
    config->frontPort = https ? quint16(url.port(443)) : 0;
    return true;
}

/// "min-max" into two ports, min not above max.
bool readRange(const QCommandLineParser &parser, const QString &name, quint16 *min, quint16 *max)
{
    if (!parser.isSet(name))
        return true;
    const QStringList parts = parser.value(name).split(u'-');
    bool ok = parts.size() == 2;
    const uint low = ok ? parts.at(0).toUInt(&ok) : 0;
    const uint high = ok ? parts.at(1).toUInt(&ok) : 0;
    if (!ok || low == 0 || low > high || high > 65535)
        return false;
    *min = quint16(low);
    *max = quint16(high);
    return true;
}

void addTraversalOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("rtp-ports"), QStringLiteral("Janus's RTP port range."),
         QStringLiteral("min-max")},
        {QStringLiteral("no-turn"), QStringLiteral("No TURN server for the calls.")},
        {QStringLiteral("turnserver"), QStringLiteral("The coturn program run as a child."),
         QStringLiteral("path")},
        {QStringLiteral("turn-server"),
         QStringLiteral("A TURN server run elsewhere, sharing the deployment's secret."),
         QStringLiteral("host[:port]")},
        {QStringLiteral("turn-port"), QStringLiteral("TURN and STUN port, UDP and TCP."),
         QStringLiteral("port")},
        {QStringLiteral("turn-tls-port"), QStringLiteral("TURN over TLS port."),
         QStringLiteral("port")},
        {QStringLiteral("turn-cert"), QStringLiteral("Certificate chain (PEM) for TURN over TLS."),
         QStringLiteral("file")},
        {QStringLiteral("turn-key"), QStringLiteral("Its private key (PEM)."),
         QStringLiteral("file")},
        {QStringLiteral("relay-ports"), QStringLiteral("The TURN server's relay port range."),
         QStringLiteral("min-max")},
        {QStringLiteral("turn-relay-ip"),
         QStringLiteral("The address the TURN server relays from (default: the listen address)."),
         QStringLiteral("address")},
        {QStringLiteral("turn-lifetime"),
         QStringLiteral("Seconds TURN credentials hold; renewed at 3/4 of it."),
         QStringLiteral("seconds")},
        {QStringLiteral("relay-token-lifetime"),
         QStringLiteral("Seconds an engine's token for the relay's API holds; renewed at 3/4 of "
                        "it (default: a day)."),
         QStringLiteral("seconds")},
    });
}

bool readTraversalOptions(const QCommandLineParser &parser, ServicesConfig *config)
{
    config->turn = !parser.isSet(QStringLiteral("no-turn"));
    if (parser.isSet(QStringLiteral("turnserver")))
        config->turnServer = parser.value(QStringLiteral("turnserver"));
    config->externalTurn = parser.value(QStringLiteral("turn-server"));
    config->turnCert = parser.value(QStringLiteral("turn-cert"));
    config->turnKey = parser.value(QStringLiteral("turn-key"));
    config->turnRelayAddress = parser.value(QStringLiteral("turn-relay-ip"));
    if (parser.isSet(QStringLiteral("turn-lifetime")))
        config->turnLifetimeS = std::max(4, parser.value(QStringLiteral("turn-lifetime")).toInt());
    if (parser.isSet(QStringLiteral("relay-token-lifetime")))
        config->relayTokenLifetimeS =
            std::max(4, parser.value(QStringLiteral("relay-token-lifetime")).toInt());
    return readPort(parser, QStringLiteral("turn-port"), &config->turnPort) &&
           readPort(parser, QStringLiteral("turn-tls-port"), &config->turnTlsPort) &&
           readRange(parser, QStringLiteral("rtp-ports"), &config->rtpMinPort,
                     &config->rtpMaxPort) &&
           readRange(parser, QStringLiteral("relay-ports"), &config->relayMinPort,
                     &config->relayMaxPort);
}

void addDirectoryOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("ldap-url"),
         QStringLiteral("The company directory: ldaps://host[:port], or ldap://host[:port] with "
                        "--ldap-starttls."),
         QStringLiteral("url")},
        {QStringLiteral("ldap-starttls"), QStringLiteral("StartTLS on an ldap:// URL.")},
        {QStringLiteral("ldap-ca"),
         QStringLiteral("CA certificates (PEM) the directory's certificate is checked against "
                        "(default: the system's)."),
         QStringLiteral("file")},
        {QStringLiteral("ldap-base"), QStringLiteral("Where people are searched."),
         QStringLiteral("dn")},
        {QStringLiteral("ldap-filter"),
         QStringLiteral("Which entries are people (default: (objectClass=inetOrgPerson))."),
         QStringLiteral("filter")},
        {QStringLiteral("ldap-bind-dn"),
         QStringLiteral("The account that searches the directory (default: anonymous)."),
         QStringLiteral("dn")},
        {QStringLiteral("ldap-bind-password-file"),
         QStringLiteral("The file holding that account's password."), QStringLiteral("file")},
        {QStringLiteral("ldap-refresh"),
         QStringLiteral("Seconds between readings of the members (default: 300)."),
         QStringLiteral("seconds")},
        {QStringLiteral("ldap-user-attribute"),
         QStringLiteral("The attribute people sign in with (default: uid)."),
         QStringLiteral("name")},
        {QStringLiteral("ldap-name-attribute"),
         QStringLiteral("The display name's attribute (default: displayName, then cn)."),
         QStringLiteral("name")},
        {QStringLiteral("ldap-mail-attribute"),
         QStringLiteral("The mail address's attribute (default: mail)."), QStringLiteral("name")},
        {QStringLiteral("ldap-phone-attribute"),
         QStringLiteral("The extension's attribute (default: telephoneNumber)."),
         QStringLiteral("name")},
    });
}

/// The directory options into `config`; false (and why) when they would not work or would
/// send passwords in clear.
bool readDirectoryOptions(const QCommandLineParser &parser, ServicesConfig *config, QString *why)
{
    LdapSettings &ldap = config->ldap;
    auto value = [&parser](const char *name, QString *into) {
        if (parser.isSet(QLatin1String(name)))
            *into = parser.value(QLatin1String(name));
    };
    value("ldap-url", &ldap.url);
    if (!ldap.enabled())
        return true;
    ldap.startTls = parser.isSet(QStringLiteral("ldap-starttls"));
    value("ldap-ca", &ldap.caFile);
    value("ldap-base", &ldap.base);
    value("ldap-filter", &ldap.filter);
    value("ldap-bind-dn", &ldap.bindDn);
    value("ldap-user-attribute", &ldap.userAttribute);
    value("ldap-name-attribute", &ldap.nameAttribute);
    value("ldap-mail-attribute", &ldap.mailAttribute);
    value("ldap-phone-attribute", &ldap.phoneAttribute);
    if (!ldap.filter.startsWith(u'('))
        ldap.filter = u'(' + ldap.filter + u')';
    if (parser.isSet(QStringLiteral("ldap-refresh")))
        ldap.refreshS = parser.value(QStringLiteral("ldap-refresh")).toInt();
    const bool ldaps = ldap.url.startsWith(QLatin1String("ldaps://"), Qt::CaseInsensitive);
    const bool ldapPlain = ldap.url.startsWith(QLatin1String("ldap://"), Qt::CaseInsensitive);
    if (!(ldaps && !ldap.startTls) && !(ldapPlain && ldap.startTls))
        *why = QStringLiteral("--ldap-url takes ldaps://host[:port], or ldap://host[:port] with "
                              "--ldap-starttls: passwords never go in clear");
    else if (ldap.base.isEmpty())
        *why = QStringLiteral("--ldap-url needs --ldap-base");
    else if (ldap.refreshS < 10)
        *why = QStringLiteral("--ldap-refresh takes 10 seconds or more");
    else if (!ldap.caFile.isEmpty() && !QFileInfo(ldap.caFile).isReadable())
        *why = QStringLiteral("cannot read the --ldap-ca file ") + ldap.caFile;
    if (!why->isEmpty() || !parser.isSet(QStringLiteral("ldap-bind-password-file")))
        return why->isEmpty();
    // A password on the command line would show in every process listing.
    QFile file(parser.value(QStringLiteral("ldap-bind-password-file")));
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read the --ldap-bind-password-file ") + file.fileName();
        return false;
    }
    ldap.bindPassword = QString::fromUtf8(file.readLine()).remove(u'\n').remove(u'\r');
    return true;
}

void addDatabaseOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("database"),
         QStringLiteral("The database: postgresql://[user@][host][:port]/dbname[?host=/socket/"
                        "folder&sslmode=...] (default: SQLite in the data folder)."),
         QStringLiteral("url")},
        {QStringLiteral("database-password-file"),
         QStringLiteral("The file holding the PostgreSQL user's password."),
         QStringLiteral("file")},
        {QStringLiteral("instance-id"),
         QStringLiteral("This instance's name among those sharing a PostgreSQL database "
                        "(default: one made at start)."),
         QStringLiteral("name")},
        {QStringLiteral("heartbeat"),
         QStringLiteral("Milliseconds between this instance's heartbeats."), QStringLiteral("ms")},
        {QStringLiteral("heartbeat-misses"),
         QStringLiteral("Heartbeats an instance may miss before the others end its sessions."),
         QStringLiteral("count")},
    });
}

void readInstanceOptions(const QCommandLineParser &parser, ServicesConfig *config)
{
    config->instanceId = parser.value(QStringLiteral("instance-id")).left(64);
    if (parser.isSet(QStringLiteral("heartbeat")))
        config->heartbeatMs = std::max(50, parser.value(QStringLiteral("heartbeat")).toInt());
    if (parser.isSet(QStringLiteral("heartbeat-misses")))
        config->heartbeatMisses =
            std::max(1, parser.value(QStringLiteral("heartbeat-misses")).toInt());
}

void addLimitOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("connections-per-address"),
         QStringLiteral("Open connections from one client address (not counted behind the front)."),
         QStringLiteral("count")},
        {QStringLiteral("websockets-per-address"),
         QStringLiteral("Conference WebSockets from one client address."), QStringLiteral("count")},
        {QStringLiteral("idle-timeout"),
         QStringLiteral("Milliseconds a connection may go without a whole new request."),
         QStringLiteral("ms")},
    });
}

void readLimitOptions(const QCommandLineParser &parser, ServicesConfig *config)
{
    const auto read = [&parser](const QString &name, int *value) {
        if (parser.isSet(name))
            *value = std::max(1, parser.value(name).toInt());
    };
    read(QStringLiteral("connections-per-address"), &config->connectionsPerAddress);
    read(QStringLiteral("websockets-per-address"), &config->webSocketsPerAddress);
    read(QStringLiteral("idle-timeout"), &config->httpIdleMs);
}

void addRelayOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("relays"),
         QStringLiteral("Janus instances run elsewhere that carry calls too, separated by spaces: "
                        "<public-url>,<api-url>,<secrets-file> each."),
         QStringLiteral("list")},
        {QStringLiteral("no-local-relay"),
         QStringLiteral("Start no Janus of its own: calls go to the --relays only.")},
        {QStringLiteral("relay-timeout"),
         QStringLiteral("Milliseconds a relay may leave its checks unanswered before its "
                        "conferences move to another (default: 15000)."),
         QStringLiteral("ms")},
    });
}

bool readRelayOptions(const QCommandLineParser &parser, ServicesConfig *config, QString *why)
{
    config->localRelay = !parser.isSet(QStringLiteral("no-local-relay"));
    if (parser.isSet(QStringLiteral("relay-timeout")))
        config->relayAnswerBoundMs =
            std::max(300, parser.value(QStringLiteral("relay-timeout")).toInt());
    for (const QString &list : parser.values(QStringLiteral("relays"))) {
        for (const QString &entry : list.split(u' ', Qt::SkipEmptyParts)) {
            RelaySettings relay;
            if (!RelaySettings::fromEntry(entry, &relay, why))
                return false;
            config->relays.append(relay);
        }
    }
    if (!config->localRelay && config->relays.isEmpty())
        *why = QStringLiteral("--no-local-relay needs --relays");
    return why->isEmpty();
}

int signalPipe[2];

/// Ends the event loop on SIGTERM and SIGINT, so that the database is closed and the stream
/// encoder is stopped instead of being left behind.
void quitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    auto handler = [](int) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
    };
    std::signal(SIGTERM, handler);
    std::signal(SIGINT, handler);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvale-services"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));
    if (AccountCommand::handles(app.arguments()))
        return AccountCommand(app.arguments()).run();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Orvale's reference deployment on loopback.\n"
                       "Accounts and rooms: orvale-services account|room ... (see its manual)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("host"), QStringLiteral("Address to listen on."), QStringLiteral("address"),
         QStringLiteral("127.0.0.1")},
        {QStringLiteral("login-port"), QStringLiteral("Login service and web site port (0: any)."),
         QStringLiteral("port")},
        {QStringLiteral("tls-port"), QStringLiteral("TLS login service port (0: any)."),
         QStringLiteral("port")},
        {QStringLiteral("portal-port"), QStringLiteral("Portal port (0: any)."),
         QStringLiteral("port")},
        {QStringLiteral("janus-port"), QStringLiteral("Janus's API port (default: any free one)."),
         QStringLiteral("port")},
        {QStringLiteral("data"), QStringLiteral("Data folder."), QStringLiteral("dir")},
        {QStringLiteral("max-lines"), QStringLiteral("Concurrent conference lines."),
         QStringLiteral("count")},
        {QStringLiteral("ping-interval"),
         QStringLiteral("Milliseconds between the conference service's pings."),
         QStringLiteral("ms")},
        {QStringLiteral("silence-limit"),
         QStringLiteral("Milliseconds of silence after which an engine is dropped."),
         QStringLiteral("ms")},
        {QStringLiteral("reset"), QStringLiteral("Start again from an empty database.")},
        {QStringLiteral("demo"),
         QStringLiteral("Load the demo company into a database without accounts.")},
        {QStringLiteral("portal-reply-delay"),
         QStringLiteral("Hold each portal reply this long after it took effect (tests)."),
         QStringLiteral("ms")},
        {QStringLiteral("janus"), QStringLiteral("The Janus program carrying the calls' media."),
         QStringLiteral("path")},
        {QStringLiteral("no-media"), QStringLiteral("Calls without audio and video.")},
        {QStringLiteral("public-url"),
         QStringLiteral("How clients reach the deployment: https://<name>[:port] through the TLS "
                        "front, or http://<name> on its own ports."),
         QStringLiteral("url")},
    });
    addTraversalOptions(parser);
    addDirectoryOptions(parser);
    addLimitOptions(parser);
    addDatabaseOptions(parser);
    addRelayOptions(parser);
    parser.process(app);

    ServicesConfig config;
    config.host = parser.value(QStringLiteral("host"));
    config.reset = parser.isSet(QStringLiteral("reset"));
    config.demo = parser.isSet(QStringLiteral("demo"));
    config.dataDir = parser.isSet(QStringLiteral("data"))
                         ? parser.value(QStringLiteral("data"))
                         : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    config.portalReplyDelayMs = parser.value(QStringLiteral("portal-reply-delay")).toInt();
    config.media = !parser.isSet(QStringLiteral("no-media"));
    if (parser.isSet(QStringLiteral("janus")))
        config.janus = parser.value(QStringLiteral("janus"));
    if (parser.isSet(QStringLiteral("max-lines")))
        config.maxLines = parser.value(QStringLiteral("max-lines")).toInt();
    if (parser.isSet(QStringLiteral("ping-interval")))
        config.pingIntervalMs = parser.value(QStringLiteral("ping-interval")).toInt();
    if (parser.isSet(QStringLiteral("silence-limit")))
        config.silenceLimitMs = parser.value(QStringLiteral("silence-limit")).toInt();
    if (!readPublicUrl(parser.value(QStringLiteral("public-url")), &config)) {
        std::fprintf(stderr, "orvale-services: --public-url takes https://<name>[:port] or "
                             "http://<name>\n");
        return 2;
    }
    if (!readPort(parser, QStringLiteral("login-port"), &config.loginPort) ||
        !readPort(parser, QStringLiteral("tls-port"), &config.tlsPort) ||
        !readPort(parser, QStringLiteral("portal-port"), &config.portalPort) ||
        !readPort(parser, QStringLiteral("janus-port"), &config.janusPort)) {
        std::fprintf(stderr, "orvale-services: a port must be a number from 0 to 65535\n");
        return 2;
    }

    readLimitOptions(parser, &config);
    readInstanceOptions(parser, &config);
    if (!readTraversalOptions(parser, &config)) {
        std::fprintf(stderr, "orvale-services: a port or port range is not valid\n");
        return 2;
    }

    if (QString why; !readDirectoryOptions(parser, &config, &why)) {
        std::fprintf(stderr, "orvale-services: %s\n", qPrintable(why));
        return 2;
    }

    if (QString why; !readRelayOptions(parser, &config, &why)) {
        std::fprintf(stderr, "orvale-services: %s\n", qPrintable(why));
        return 2;
    }

    if (QString why; !DatabaseSettings::fromOptions(
            parser.value(QStringLiteral("database")),
            parser.value(QStringLiteral("database-password-file")), &config.database, &why)) {
        std::fprintf(stderr, "orvale-services: %s\n", qPrintable(why));
        return 2;
    }

    ServiceHost host(config);
    QString error;
    if (!host.start(&error)) {
        std::fprintf(stderr, "orvale-services: %s\n", qPrintable(error));
        return 1;
    }
    const ServicesConfig &c = host.config();
    std::printf("orvale-services listening on %s: login=%u tls=%u portal=%u data=%s\n",
                qPrintable(c.host), c.loginPort, c.tlsPort, c.portalPort, qPrintable(c.dataDir));
    std::printf("orvale-services reached at %s\n", qPrintable(c.loginBase()));
    if (c.database.postgres())
        std::printf("orvale-services database %s\n", qPrintable(c.database.describe()));
    std::fflush(stdout);
    quitOnSignals(app);
    return app.exec();
}
