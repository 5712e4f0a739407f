#include "tests/support/TwoInstanceDeployment.h"

#include "services/DatabaseSettings.h"

#include <csignal>

namespace {

const QString sharedName = QStringLiteral("orvale");

} // namespace

TwoInstanceDeployment::TwoInstanceDeployment(const Layout &layout)
    : m_layout(layout)
{}

TwoInstanceDeployment::~TwoInstanceDeployment()
{
    m_front.reset();
    for (auto &instance : m_instances)
        instance.reset();
    for (auto &relay : m_relays)
        relay.reset();
}

bool TwoInstanceDeployment::start(QString *error)
{
    m_postgres.setLauncher(m_layout.database.launcher);
    QStringList relays;
    DatabaseSettings settings;
    return m_postgres.start(error, m_layout.database.address) &&
           m_postgres.createDatabase(sharedName, error) && startRelays(error, &relays) &&
           startInstances(relays, error) && startFront(error) &&
           DatabaseSettings::parse(m_postgres.socketUrl(sharedName), {}, &settings, error) &&
           m_db.open(settings, false, error);
}

bool TwoInstanceDeployment::startRelays(QString *error, QStringList *entries)
{
    for (int i = 0; i < 2; ++i) {
        const Place &place = m_layout.relays.at(i);
        m_relays.at(i) = std::make_unique<OutsideRelay>(place.address, place.launcher);
        if (!m_relays.at(i)->start(error))
            return false;
        entries->append(m_relays.at(i)->entry());
    }
    return true;
}

bool TwoInstanceDeployment::startInstances(const QStringList &relayEntries, QString *error)
{
    // Over the network, as instances on machines of their own reach their database.
    const QString front =
        QStringLiteral("https://%1:%2").arg(m_layout.front.address).arg(m_layout.frontPorts.front);
    for (int i = 0; i < 2; ++i) {
        const Place &place = m_layout.instances.at(i);
        // A heartbeat bound of 8 × 250 ms: a stopped instance is found out quickly, one held
        // up by a busy machine is not taken for stopped.
        m_instances.at(i) = std::make_unique<ServicesProcess>(
            QStringLiteral(ORVALE_SERVICES), place.address,
            QStringList{QStringLiteral("--database"), m_postgres.tcpUrl(sharedName),
                        QStringLiteral("--database-password-file"), m_postgres.passwordFile(),
                        QStringLiteral("--instance-id"), QStringLiteral("instance%1").arg(i + 1),
                        QStringLiteral("--heartbeat"), QStringLiteral("250"),
                        QStringLiteral("--heartbeat-misses"), QStringLiteral("8"),
                        QStringLiteral("--no-turn"), QStringLiteral("--no-local-relay"),
                        QStringLiteral("--relays"), relayEntries.join(u' '),
                        QStringLiteral("--relay-timeout"), QStringLiteral("1500"),
                        QStringLiteral("--public-url"), front});
        m_instances.at(i)->setLauncher(place.launcher);
        if (!m_instances.at(i)->start(true)) {
            *error = QStringLiteral("instance %1 did not start: %2")
                         .arg(i + 1)
                         .arg(m_instances.at(i)->output());
            return false;
        }
    }
    return true;
}

bool TwoInstanceDeployment::startFront(QString *error)
{
    QStringList webServers, portalServers;
    for (const auto &instance : m_instances) {
        webServers.append(instance->host() + QStringLiteral(":8080"));
        portalServers.append(
            QStringLiteral("%1:%2").arg(instance->host()).arg(instance->portalPort()));
    }
    const QString data = m_instances.front()->dataPath();
    m_front = std::make_unique<TlsFront>(m_layout.front.address, m_layout.frontPorts, certificate(),
                                         data + QStringLiteral("/key.pem"));
    m_front->setLauncher(m_layout.front.launcher);
    m_front->setInstances(webServers, portalServers);
    return m_front->start(error);
}

QString TwoInstanceDeployment::certificate() const
{
    return m_instances.front()->dataPath() + QStringLiteral("/cert.pem");
}

int TwoInstanceDeployment::relayOf(qint64 conference) const
{
    const QString placed = m_db.placement(conference);
    for (int i = 0; i < 2; ++i) {
        if (!placed.isEmpty() && m_relays.at(i) && m_relays.at(i)->url() == placed)
            return i;
    }
    return -1;
}

QString TwoInstanceDeployment::presence(qint64 entityId) const
{
    const auto entry = m_db.entry(entityId);
    return entry ? entry->presence : QString();
}

bool TwoInstanceDeployment::killInstance(int i)
{
    return ::kill(pid_t(m_instances.at(i)->processId()), SIGKILL) == 0;
}
