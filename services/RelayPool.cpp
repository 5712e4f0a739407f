#include "services/RelayPool.h"

#include "bridge/shared/ConferenceMessages.h"
#include "services/ServiceDatabase.h"
#include "services/SessionRegistry.h"

#include <limits>

namespace CM = ConferenceMessages;
namespace CF = ConferenceMessages::Field;

RelayPool::RelayPool(ServiceDatabase &db, QObject *parent)
    : QObject(parent)
    , m_db(db)
{
    // SQLite serves one instance: placements left by an earlier run are no one's now.
    if (!m_db.isPostgres())
        m_db.forgetPlacements();
}

RelayPool::~RelayPool() = default;

void RelayPool::add(JanusSupervisor *relay)
{
    m_relays.append(relay);
    // Instances sharing the database admit to the same rooms: their ids must not meet.
    if (m_db.isPostgres())
        relay->setIdSource(
            [this] { return SessionRegistry(m_db, {}).next(QStringLiteral("publisher")); });
    connect(relay, &JanusSupervisor::answeringChanged, this, [this, relay](bool answering) {
        if (answering)
            placeStranded();
        else
            relayDown(relay, false);
    });
    connect(relay, &JanusSupervisor::lost, this, [this, relay] { relayDown(relay, true); });
}

JanusSupervisor *RelayPool::addRemote(const RelaySettings &settings, const QString &dataDir)
{
    auto relay = std::make_unique<JanusSupervisor>(
        QStringLiteral("janus"), dataDir + QStringLiteral("/relay%1").arg(m_owned.size() + 1));
    relay->setRemote(settings);
    add(relay.get());
    m_owned.push_back(std::move(relay));
    return m_owned.back().get();
}

JanusSupervisor *RelayPool::relayOf(qint64 conference) const
{
    return m_placed.value(conference).relay;
}

QString RelayPool::nameOf(const JanusSupervisor *relay)
{
    return relay->url();
}

JanusSupervisor *RelayPool::named(const QString &name) const
{
    for (JanusSupervisor *relay : m_relays) {
        if (nameOf(relay) == name)
            return relay;
    }
    return nullptr;
}

JanusSupervisor *RelayPool::leastLoaded() const
{
    const QHash<QString, int> loads = m_db.relayLoads();
    JanusSupervisor *least = nullptr;
    int fewest = std::numeric_limits<int>::max();
    // On a tie the relay named first, the deployment's own, takes it.
    for (JanusSupervisor *relay : m_relays) {
        const int load = loads.value(nameOf(relay));
        if (relay->answering() && load < fewest) {
            least = relay;
            fewest = load;
        }
    }
    return least;
}

JanusSupervisor *RelayPool::place(qint64 conference)
{
    const QString recorded = m_db.placement(conference);
    JanusSupervisor *relay = named(recorded);
    if (relay && relay->answering())
        return relay;
    JanusSupervisor *chosen = leastLoaded();
    if (!chosen)
        return nullptr;
    // Another instance may place or move it at the same moment: the database has the last word.
    const QString placed = recorded.isEmpty()
                               ? m_db.placeConference(conference, nameOf(chosen))
                               : m_db.movePlacement(conference, recorded, nameOf(chosen));
    relay = named(placed);
    if (!relay || !relay->answering()) {
        qWarning("conference %lld is on relay %s, unknown here or silent: using %s", conference,
                 qPrintable(placed), qPrintable(nameOf(chosen)));
        relay = chosen;
    }
    qInfo("conference %lld on relay %s", conference, qPrintable(nameOf(relay)));
    return relay;
}

void RelayPool::admit(qint64 conference, const QString &tag, int seats, Answer answer)
{
    Placement &placement = m_placed[conference];
    if (!placement.relay)
        placement.relay = place(conference);
    JanusSupervisor *relay = placement.relay;
    if (!relay)
        return answer({{CM::Type, CM::Media}, {CF::Available, false}});
    if (!placement.tags.contains(tag)) {
        placement.tags.insert(tag);
        m_db.countParticipants(conference, 1);
    }
    relay->admit(conference, tag, seats, [this, conference, relay, answer](const QJsonObject &m) {
        // Moved meanwhile: the participant is admitted again where the conference is now.
        if (relayOf(conference) == relay)
            answer(m);
    });
}

QJsonObject RelayPool::feedsOf(qint64 conference, const QString &tag) const
{
    JanusSupervisor *relay = relayOf(conference);
    return relay ? relay->feedsOf(conference, tag) : QJsonObject();
}

bool RelayPool::evict(qint64 conference, const QString &tag, qint64 id)
{
    JanusSupervisor *relay = relayOf(conference);
    return relay && relay->evict(conference, tag, id);
}

void RelayPool::release(qint64 conference, const QString &tag, bool lastOne)
{
    const auto it = m_placed.find(conference);
    if (it == m_placed.end())
        return;
    if (it->relay)
        it->relay->release(conference, tag, lastOne);
    if (it->tags.remove(tag))
        m_db.countParticipants(conference, -1);
    if (!lastOne && !it->tags.isEmpty())
        return;
    // None of its people is left here: the next one admitted here goes where the database
    // places it then, and finds its room there again, made anew if the others ended it.
    if (!lastOne && it->relay)
        it->relay->forgetRoom(conference);
    m_placed.erase(it);
}

void RelayPool::countAgain()
{
    for (auto it = m_placed.cbegin(); it != m_placed.cend(); ++it) {
        if (!it->relay || it->tags.isEmpty())
            continue;
        // The placement went when its count came to none: it is made again, where it is here.
        m_db.placeConference(it.key(), nameOf(it->relay));
        m_db.countParticipants(it.key(), int(it->tags.size()));
    }
}

QString RelayPool::relayToken(qint64 conference) const
{
    JanusSupervisor *relay = relayOf(conference);
    return relay ? relay->relayToken() : QString();
}

int RelayPool::relayTokenLifetimeS() const
{
    return m_relays.isEmpty() ? 0 : m_relays.first()->relayTokenLifetimeS();
}

void RelayPool::relayDown(JanusSupervisor *relay, bool forGood)
{
    QList<qint64> conferences;
    for (auto it = m_placed.cbegin(); it != m_placed.cend(); ++it) {
        if (it->relay == relay)
            conferences.append(it.key());
    }
    for (const qint64 conference : std::as_const(conferences)) {
        JanusSupervisor *next = place(conference);
        // With no other relay to go to, calls stay on a silent one: it may answer again.
        if (next || forGood)
            moveTo(conference, relay, next);
    }
}

void RelayPool::placeStranded()
{
    QList<qint64> stranded;
    for (auto it = m_placed.cbegin(); it != m_placed.cend(); ++it) {
        if (!it->relay)
            stranded.append(it.key());
    }
    for (const qint64 conference : std::as_const(stranded)) {
        const auto it = m_placed.find(conference);
        if (it == m_placed.end() || !(it->relay = place(conference)))
            continue;
        qInfo("conference %lld goes to relay %s", conference, qPrintable(nameOf(it->relay)));
        Q_EMIT moved(conference);
    }
}

void RelayPool::moveTo(qint64 conference, JanusSupervisor *from, JanusSupervisor *relay)
{
    from->abandon(conference);
    const auto it = m_placed.find(conference);
    if (it == m_placed.end())
        return;
    it->relay = relay;
    qWarning("conference %lld leaves the relay at %s for %s", conference, qPrintable(nameOf(from)),
             relay ? qPrintable(nameOf(relay)) : "none");
    Q_EMIT moved(conference);
}
