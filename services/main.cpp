#include "services/ServiceHost.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Orvale's reference deployment on loopback."));
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
        {QStringLiteral("reset"), QStringLiteral("Start again from the demo data.")},
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
    parser.process(app);

    ServicesConfig config;
    config.host = parser.value(QStringLiteral("host"));
    config.reset = parser.isSet(QStringLiteral("reset"));
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
    std::fflush(stdout);
    quitOnSignals(app);
    return app.exec();
}
