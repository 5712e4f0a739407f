#include "services/TurnSupervisor.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr qint64 restartSpacingMs = 60000; // a coturn dying again sooner is given up

/// Where a relay must not lead: loopback, the private and link-local ranges, and this
/// network's own; peers there are reached only when named in allowed-peer-ip.
const char *const deniedRanges[] = {
    "0.0.0.0-0.255.255.255",
    "10.0.0.0-10.255.255.255",
    "100.64.0.0-100.127.255.255",
    "127.0.0.0-127.255.255.255",
    "169.254.0.0-169.254.255.255",
    "172.16.0.0-172.31.255.255",
    "192.168.0.0-192.168.255.255",
    "::1",
    "fc00::-fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
    "fe80::-febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
};

bool anyAddress(const QString &host)
{
    const QHostAddress address(host);
    return address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6 ||
           address == QHostAddress::Any;
}

} // namespace

TurnSupervisor::TurnSupervisor(const ServicesConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_folder(config.dataDir + QStringLiteral("/turn"))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A deployment killed outright takes its TURN server with it: no relay outlives it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    connect(&m_process, &QProcess::finished, this, [this] { died(); });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart && !m_stopping)
            Q_EMIT lost();
    });
}

TurnSupervisor::~TurnSupervisor()
{
    m_stopping = true;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
}

QByteArray TurnSupervisor::secret(const QString &dataDir)
{
    const QString folder = dataDir + QStringLiteral("/turn");
    QFile file(folder + QStringLiteral("/secret"));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray kept = file.readAll().trimmed();
        if (kept.size() >= 32)
            return kept;
        file.close();
    }
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), 8);
    const QByteArray made = bytes.toHex();
    QSaveFile out(file.fileName());
    // Only the deployment's user reads it: whoever holds it can sign credentials.
    if (!QDir().mkpath(folder) || !out.open(QIODevice::WriteOnly) ||
        !out.setPermissions(QFile::ReadOwner | QFile::WriteOwner) || out.write(made + '\n') < 0 ||
        !out.commit())
        return {};
    return made;
}

QString TurnSupervisor::configurationFile() const
{
    return m_folder + QStringLiteral("/turnserver.conf");
}

QString TurnSupervisor::configuration(const QByteArray &secret) const
{
    const ServicesConfig &c = m_config;
    QStringList lines{
        QStringLiteral("listening-port=%1").arg(c.turnPort),
        QStringLiteral("min-port=%1").arg(c.relayMinPort),
        QStringLiteral("max-port=%1").arg(c.relayMaxPort),
        QStringLiteral("use-auth-secret"),
        QStringLiteral("static-auth-secret=") + QString::fromLatin1(secret),
        QStringLiteral("realm=") + c.advertisedHost(),
        QStringLiteral("fingerprint"),
        QStringLiteral("no-cli"),
        QStringLiteral("no-software-attribute"),
        QStringLiteral("no-multicast-peers"),
        QStringLiteral("no-tlsv1"),
        QStringLiteral("no-tlsv1_1"),
        QStringLiteral("log-file=stdout"),
        QStringLiteral("simple-log"),
        QStringLiteral("pidfile=%1/turnserver.pid").arg(m_folder),
        QStringLiteral("userdb=%1/turndb").arg(m_folder),
    };
    // Behind the TLS front the deployment listens on loopback, where no client reaches the
    // TURN server: it listens on the address it relays from too.
    if (!anyAddress(c.host))
        lines << QStringLiteral("listening-ip=") + c.host;
    if (!anyAddress(c.host) && !c.turnRelayAddress.isEmpty() &&
        QHostAddress(c.turnRelayAddress) != QHostAddress(c.host))
        lines << QStringLiteral("listening-ip=") + c.turnRelayAddress;
    if (!c.turnRelayAddress.isEmpty())
        lines << QStringLiteral("relay-ip=") + c.turnRelayAddress;
    else if (!anyAddress(c.host))
        lines << QStringLiteral("relay-ip=") + c.host;
    // Behind a 1:1 NAT the relay addresses handed out are the public ones.
    const QString relay = c.turnRelayAddress.isEmpty() ? c.host : c.turnRelayAddress;
    const QHostAddress publicAddress(c.advertisedHost());
    if (!anyAddress(relay) && !publicAddress.isNull() && publicAddress != QHostAddress(c.host) &&
        publicAddress != QHostAddress(relay))
        lines << QStringLiteral("external-ip=%1/%2").arg(c.advertisedHost(), relay);
    if (!c.turnCert.isEmpty() && !c.turnKey.isEmpty())
        lines << QStringLiteral("tls-listening-port=%1").arg(c.turnTlsPort)
              << QStringLiteral("cert=") + c.turnCert << QStringLiteral("pkey=") + c.turnKey;
    else
        lines << QStringLiteral("no-tls") << QStringLiteral("no-dtls");
    for (const char *range : deniedRanges)
        lines << QStringLiteral("denied-peer-ip=") + QLatin1String(range);
    bool loopback = false;
    for (const QString &peer : m_allowedPeers) {
        lines << QStringLiteral("allowed-peer-ip=") + peer;
        loopback = loopback || QHostAddress(peer).isLoopback();
    }
    // coturn refuses loopback peers before it reads the lists: a relay on loopback (a test
    // deployment) is allowed them, and the denied range keeps all but its own address out.
    if (loopback)
        lines << QStringLiteral("allow-loopback-peers");
    return lines.join(u'\n') + u'\n';
}

bool TurnSupervisor::writeConfiguration(QString *error)
{
    const QString program = QStandardPaths::findExecutable(m_config.turnServer);
    if (program.isEmpty()) {
        *error = QStringLiteral("no TURN server program ") + m_config.turnServer;
        return false;
    }
    m_config.turnServer = program;
    const QByteArray key = secret(m_config.dataDir);
    QSaveFile file(configurationFile());
    if (key.isEmpty() || !file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(configuration(key).toUtf8()) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write the TURN configuration into ") + m_folder;
        return false;
    }
    return true;
}

bool TurnSupervisor::start(QString *error)
{
    if (!QDir().mkpath(m_folder) || !writeConfiguration(error))
        return false;
    m_process.setWorkingDirectory(m_folder);
    m_process.setStandardOutputFile(m_folder + QStringLiteral("/turnserver.log"),
                                    QIODevice::Append);
    if (!launch()) {
        *error = QStringLiteral("the TURN server did not start: ") + m_process.errorString();
        return false;
    }
    return true;
}

bool TurnSupervisor::launch()
{
    m_process.start(m_config.turnServer, {QStringLiteral("-c"), configurationFile()});
    return m_process.waitForStarted(5000);
}

void TurnSupervisor::died()
{
    if (m_stopping)
        return;
    if (m_sinceRestart.isValid() && m_sinceRestart.elapsed() < restartSpacingMs) {
        qWarning("turnserver stopped: calls go on without TURN");
        return Q_EMIT lost();
    }
    qWarning("turnserver stopped: starting it again");
    m_sinceRestart.start();
    QTimer::singleShot(0, this, [this] {
        if (!launch())
            Q_EMIT lost();
    });
}
