#include "services/ConferenceHub.h"

#include "bridge/shared/ConfRecords.h"
#include "bridge/shared/ConferenceMessages.h"
#include "services/ConnectionGuard.h"
#include "services/DirectoryEntry.h"
#include "services/InstanceBus.h"
#include "services/InstanceHeartbeat.h"
#include "services/JanusSupervisor.h"
#include "services/RelayPool.h"
#include "services/ServiceDatabase.h"
#include "services/ServicesConfig.h"
#include "services/SessionRegistry.h"
#include "services/SignInGate.h"
#include "services/Throttle.h"
#include "services/TurnCredentials.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>
#include <QWebSocket>

namespace CM = ConferenceMessages;
namespace CF = ConferenceMessages::Field;

namespace CR = ConfRecords;

namespace {

constexpr qsizetype maxMessage = 16 * 1024;

QString type(const QJsonObject &message)
{
    return message.value(CM::Type).toString();
}

// What instances tell each other (InstanceBus): a kind, and ids.
namespace Bus {
const QString Kind = QStringLiteral("kind");
const QString To = QStringLiteral("to");   ///< the instance a message is for
const QString For = QStringLiteral("for"); ///< the one participant a relayed message is for
const QString Room = QStringLiteral("room");
const QString Entity = QStringLiteral("entity");
const QString Tag = QStringLiteral("tag");
const QString Caller = QStringLiteral("caller");
const QString Message = QStringLiteral("message");
const QString Roster = QStringLiteral("roster");
const QString Relay = QStringLiteral("relay"); ///< a chat message or share note for a room
const QString Mute = QStringLiteral("mute");
const QString Join = QStringLiteral("join");
const QString Ring = QStringLiteral("ring");
const QString SignOut = QStringLiteral("signOut");
const QString Feeds = QStringLiteral("feeds"); ///< whose the publisher ids in a room are now
} // namespace Bus

} // namespace

ConferenceHub::ConferenceHub(ServiceDatabase &db, const ServicesConfig &config, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_config(config)
{
    connect(&m_keepAlive, &QTimer::timeout, this, &ConferenceHub::keepAlive);
    connect(&m_renewal, &QTimer::timeout, this, &ConferenceHub::renewCredentials);
    setKeepAlive(config.pingIntervalMs, config.silenceLimitMs);
}

void ConferenceHub::setKeepAlive(int pingMs, int silenceMs)
{
    m_silenceLimitMs = std::max(pingMs, silenceMs);
    m_keepAlive.start(std::max(50, pingMs));
}

/// A half-open connection (a machine gone to sleep, a cable pulled) never closes by itself: a
/// silent engine is dropped, so that it leaves its room and its presence goes offline.
void ConferenceHub::keepAlive()
{
    // A failed write may report the disconnection at once: the sessions change under a loop.
    const QList<QWebSocket *> sockets = m_sessions.keys();
    for (QWebSocket *socket : sockets) {
        const auto it = m_sessions.constFind(socket);
        if (it == m_sessions.cend())
            continue;
        if (it->lastHeard.elapsed() <= m_silenceLimitMs) {
            socket->ping();
            continue;
        }
        qInfo("conference: dropping an engine silent for over %d ms", m_silenceLimitMs);
        socket->abort();
        dropSession(socket); // when the abort did not report the disconnection itself
    }
}

void ConferenceHub::heard(QWebSocket *socket)
{
    auto it = m_sessions.find(socket);
    if (it != m_sessions.end())
        it->lastHeard.restart();
}

ConferenceHub::~ConferenceHub()
{
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (it->entityId != 0) // the services stop: nobody stays online
            m_db.setPresence(it->entityId, QStringLiteral("Offline"));
        it->socket->disconnect(this);
        it->socket->deleteLater();
    }
    // The other instances' engines in the same rooms see these people go.
    if (m_registry) {
        for (qint64 roomId : m_registry->endInstance(m_registry->instance()))
            publish({{Bus::Kind, Bus::Roster}, {Bus::Room, roomId}});
    }
}

bool ConferenceHub::shareState(QString *error)
{
    if (!m_db.isPostgres())
        return true;
    const QString instance = m_config.instanceId.isEmpty()
                                 ? QUuid::createUuid().toString(QUuid::Id128).left(12)
                                 : m_config.instanceId;
    m_registry = std::make_unique<SessionRegistry>(m_db, instance);
    m_bus = std::make_unique<InstanceBus>(m_db, instance);
    if (!m_bus->listen(error, m_config.heartbeatMs))
        return false;
    connect(m_bus.get(), &InstanceBus::received, this, &ConferenceHub::heardFromInstance);
    connect(m_bus.get(), &InstanceBus::relistened, this, &ConferenceHub::resendRosters);
    endInstance(instance); // what an earlier run of the same name left behind
    m_heartbeat = std::make_unique<InstanceHeartbeat>(m_db, instance, m_config.heartbeatMs,
                                                      m_config.heartbeatMisses);
    connect(m_heartbeat.get(), &InstanceHeartbeat::stopped, this, &ConferenceHub::endInstance);
    connect(m_heartbeat.get(), &InstanceHeartbeat::resumed, this, &ConferenceHub::recordAll);
    m_heartbeat->start();
    qInfo("instances: this one is %s", qPrintable(instance));
    return true;
}

void ConferenceHub::endInstance(const QString &instance)
{
    for (qint64 roomId : m_registry->endInstance(instance)) {
        broadcastRoster(roomId);
        if (m_media) // the publishers of the people gone are no one's now
            broadcastFeeds(roomId);
    }
}

void ConferenceHub::resendRosters()
{
    QList<qint64> rooms;
    for (const Session &session : std::as_const(m_sessions)) {
        if (session.roomId != 0 && !rooms.contains(session.roomId))
            rooms.append(session.roomId);
    }
    for (qint64 roomId : std::as_const(rooms))
        sendRoster(roomId);
}

void ConferenceHub::recordAll()
{
    QList<qint64> rooms;
    for (const Session &session : std::as_const(m_sessions)) {
        record(session);
        updatePresence(session);
        if (session.roomId != 0 && !rooms.contains(session.roomId))
            rooms.append(session.roomId);
        // The others read its publishers at the relay from its row, written anew.
        const QJsonObject ids = m_media && session.roomId != 0
                                    ? m_media->feedsOf(session.roomId, session.tag)
                                    : QJsonObject();
        if (!ids.isEmpty())
            m_registry->setPublishers(session.tag, ids.value(CF::Id).toInteger(),
                                      ids.value(CF::ShareId).toInteger());
    }
    if (m_media)
        m_media->countAgain();
    for (qint64 roomId : std::as_const(rooms)) {
        broadcastRoster(roomId);
        if (m_media) // its people's publishers are someone's again
            broadcastFeeds(roomId);
    }
}

bool ConferenceHub::signedInElsewhere(qint64 entityId) const
{
    return m_registry && m_registry->elsewhere(entityId);
}

void ConferenceHub::record(const Session &session)
{
    if (!m_registry || session.tag.isEmpty())
        return;
    m_registry->record({m_registry->instance(), session.tag, session.entityId, session.displayName,
                        session.roomId, qint64(session.joinOrder), session.micMuted,
                        session.shareName});
}

void ConferenceHub::publish(const QJsonObject &message)
{
    if (m_bus)
        m_bus->publish(message);
}

void ConferenceHub::heardFromInstance(const QJsonObject &message)
{
    const QString kind = message.value(Bus::Kind).toString();
    const qint64 roomId = message.value(Bus::Room).toInteger();
    const qint64 entityId = message.value(Bus::Entity).toInteger();
    if (kind == Bus::Roster) {
        sendRoster(roomId);
    } else if (kind == Bus::Relay) {
        const QString to = message.value(Bus::For).toString();
        const QJsonObject relayed = message.value(Bus::Message).toObject();
        for (const Session &session : std::as_const(m_sessions)) {
            if (session.roomId == roomId && (to.isEmpty() || uriOf(session) == to))
                send(session, relayed);
        }
    } else if (kind == Bus::Mute) {
        muteHere(roomId, message.value(Bus::Tag).toString());
    } else if (kind == Bus::Join) {
        if (sessionOfAccount(entityId))
            joinByPortal(entityId, roomId);
    } else if (kind == Bus::Ring) {
        Session *owner = sessionOfAccount(entityId);
        if (owner && owner->roomId != roomId)
            ring(*owner, roomId, message.value(Bus::Caller).toString());
    } else if (kind == Bus::SignOut) {
        if (Session *earlier = sessionOfAccount(entityId))
            signOut(*earlier, CR::Code::SignedInElsewhere);
    } else if (kind == Bus::Feeds && m_media) {
        sendFeeds(roomId, nullptr);
    }
}

void ConferenceHub::accept(std::unique_ptr<QWebSocket> owned)
{
    QWebSocket *socket = owned.release();
    socket->setParent(this);
    if (!admits(socket->peerAddress()))
        return closeUnwanted(socket, QStringLiteral("too many connections"));
    socket->setMaxAllowedIncomingMessageSize(maxMessage);
    Session session;
    session.socket = socket;
    session.lastHeard.start();
    session.address = Throttle::clientAddress(
        socket->peerAddress(), socket->request().rawHeader(QByteArrayLiteral("X-Forwarded-For")),
        m_config.behindFront());
    m_sessions.insert(socket, session);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString &text) { receive(socket, text); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { dropSession(socket); });
    connect(socket, &QWebSocket::pong, this, [this, socket] { heard(socket); });
    armSignInDeadline(socket);
}

void ConferenceHub::armSignInDeadline(QWebSocket *socket)
{
    // Answering pings is not enough to stay: an engine signs in (or joins as a guest) first.
    // One whose attempt is still being answered (by the directory, or held as a throttled
    // failure) hears the answer first, and has the time again after it.
    QTimer::singleShot(m_config.signInDeadlineMs, socket, [this, socket] {
        const auto it = m_sessions.constFind(socket);
        if (it == m_sessions.cend() || !it->tag.isEmpty())
            return;
        if (it->answersDue > 0)
            return armSignInDeadline(socket);
        dropSession(socket);
        closeUnwanted(socket, QStringLiteral("not signed in"));
    });
}

bool ConferenceHub::admits(const QHostAddress &peer) const
{
    if (ConnectionGuard::exempt(m_config, peer))
        return true;
    const auto sameAddress = [&peer](const Session &s) { return s.socket->peerAddress() == peer; };
    if (std::count_if(m_sessions.cbegin(), m_sessions.cend(), sameAddress) <
        m_config.webSocketsPerAddress)
        return true;
    qWarning("conference: refusing a connection from %s: %d open from there",
             qPrintable(peer.toString()), m_config.webSocketsPerAddress);
    return false;
}

void ConferenceHub::closeUnwanted(QWebSocket *socket, const QString &why)
{
    qInfo("conference: closing a connection: %s", qPrintable(why));
    socket->disconnect(this);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, why);
    // A peer that does not answer the close is not waited for long.
    QTimer::singleShot(1000, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void ConferenceHub::dropSession(QWebSocket *socket)
{
    auto it = m_sessions.find(socket);
    if (it == m_sessions.end())
        return;
    leaveRoom(*it, false);
    Session gone = *it;
    m_sessions.erase(it);
    gone.roomId = 0;
    if (m_registry && !gone.tag.isEmpty())
        m_registry->forget(gone.tag);
    if (gone.entityId != 0 && !sessionOfAccount(gone.entityId) && !signedInElsewhere(gone.entityId))
        m_db.setPresence(gone.entityId, QStringLiteral("Offline"));
    socket->deleteLater();
}

void ConferenceHub::receive(QWebSocket *socket, const QString &text)
{
    auto it = m_sessions.find(socket);
    if (it == m_sessions.end())
        return;
    it->lastHeard.restart();
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString kind = type(message);
    Session &session = *it;
    if (kind == CM::SignIn)
        signIn(session, message);
    else if (kind == CM::GuestJoin)
        guestJoin(session, message);
    else if (session.tag.isEmpty())
        send(session, {{CM::Type, CM::Error}, {CF::Message, QStringLiteral("not signed in")}});
    else if (session.entityId != 0 && !m_db.activeAccount(session.userName))
        signOut(session, CR::Code::WrongPassword); // disabled or removed since it signed in
    else if (kind == CM::SignOut)
        signOut(session, 0);
    else if (kind == CM::Leave)
        leaveRoom(session, true);
    else if (kind == CM::Chat)
        chat(session, message);
    else if (kind == CM::Answer)
        answerCall(session, message.value(CF::Accept).toBool());
    else if (kind == CM::Mute) {
        session.micMuted = message.value(CF::Muted).toBool();
        record(session);
        broadcastRoster(session.roomId);
    } else if (kind == CM::Share)
        setShare(session, message.value(CF::Name).toString().left(256));
    else if (kind == CM::StopShare)
        setShare(session, {});
    else if (kind == CM::PublisherTaken)
        publisherTaken(session, message.value(CF::Id).toInteger());
    else
        send(session, {{CM::Type, CM::Error}, {CF::Message, QStringLiteral("unknown message")}});
}

void ConferenceHub::signIn(Session &session, const QJsonObject &message)
{
    const QString user = message.value(CF::User).toString();
    const QString password = message.value(CF::Password).toString();
    if (!m_signIns)
        return admit(session, m_db.authenticate(user, password), 0);
    // The engine may be gone by the time the directory answers.
    const QPointer<QWebSocket> socket = session.socket;
    ++session.answersDue;
    m_signIns->check(session.address, user, password, this,
                     [this, socket](const SignInGate::Verdict &verdict) {
                         const auto it = socket ? m_sessions.find(socket.data()) : m_sessions.end();
                         if (it == m_sessions.end())
                             return;
                         --it->answersDue;
                         admit(*it, verdict.account, verdict.holdMs);
                     });
}

void ConferenceHub::admit(Session &session, const std::optional<Account> &account, int holdMs)
{
    if (!account) {
        sendLater(session, {{CM::Type, CM::SignInFailed}, {CF::Code, CR::Code::WrongPassword}},
                  holdMs);
        return;
    }
    // One engine per account: a second sign-in replaces the first.
    if (Session *earlier = sessionOfAccount(account->entityID); earlier && earlier != &session)
        signOut(*earlier, CR::Code::SignedInElsewhere);
    const auto entry = m_db.entry(account->entityID);
    session.entityId = account->entityID;
    session.userName = account->userName;
    session.displayName = entry ? entry->displayName : account->userName;
    session.tag = QStringLiteral("u%1").arg(account->entityID);
    record(session);
    // Its engine held by another instance is signed out there.
    if (const auto other = m_registry ? m_registry->elsewhere(session.entityId) : std::nullopt)
        publish({{Bus::Kind, Bus::SignOut},
                 {Bus::To, other->instance},
                 {Bus::Entity, session.entityId}});
    updatePresence(session);
    send(session, {{CM::Type, CM::SignedIn},
                   {CF::Uri, uriOf(session)},
                   {CF::DisplayName, session.displayName},
                   {CF::EntityId, QString::number(session.entityId)}});
}

void ConferenceHub::signOut(Session &session, int reason)
{
    leaveRoom(session, true);
    send(session, {{CM::Type, CM::SignedOut}, {CF::Reason, reason}});
    const qint64 entityId = session.entityId;
    session.entityId = 0;
    if (m_registry && !session.tag.isEmpty())
        m_registry->forget(session.tag);
    session.tag.clear();
    if (entityId != 0 && !sessionOfAccount(entityId) && !signedInElsewhere(entityId))
        m_db.setPresence(entityId, QStringLiteral("Offline"));
    if (entityId != 0) {
        qInfo("conference: account %lld signed out (reason %d)", entityId, reason);
        Q_EMIT signedOut(entityId, reason);
    }
}

void ConferenceHub::guestJoin(Session &session, const QJsonObject &message)
{
    auto result = [&](int code, int holdMs = 0) {
        sendLater(session, {{CM::Type, CM::RoomLink}, {CF::Result, code}}, holdMs);
    };
    const auto room = m_db.entryByKey(message.value(CF::RoomKey).toString());
    // Guesses at a room's PIN, or at keys, count against the address and the room.
    const QString subject = room ? QStringLiteral("room %1").arg(room->entityID)
                                 : QStringLiteral("an unknown room key");
    if (m_guestJoins && m_guestJoins->locked(session.address, subject))
        return result(CR::Code::RoomRefused);
    if (!room || (!room->pin.isEmpty() && message.value(CF::Pin).toString() != room->pin))
        return result(CR::Code::RoomRefused,
                      m_guestJoins ? m_guestJoins->failed(session.address, subject) : 0);
    if (m_guestJoins)
        m_guestJoins->succeeded(session.address, subject);
    if (room->locked)
        return result(CR::Code::RoomRefused);
    // Instances admitting guests at once count each other's: the seats counted and the one
    // taken are one transaction.
    const bool locked = m_registry && m_db.transaction();
    if (room->occupants + occupancy(room->entityID) >= room->capacity ||
        linesInUse() >= m_config.maxLines) {
        if (locked)
            m_db.rollback();
        return result(CR::Code::RoomFull);
    }
    if (session.tag.isEmpty()) {
        session.tag = QStringLiteral("g%1").arg(
            m_registry ? m_registry->next(QStringLiteral("guest")) : m_nextGuest++);
        session.displayName = message.value(CF::Name).toString().left(64);
        if (session.displayName.trimmed().isEmpty())
            session.displayName = QStringLiteral("访客");
    }
    result(0);
    enterRoom(session, room->entityID);
    if (locked)
        m_db.commit();
}

void ConferenceHub::enterRoom(Session &session, qint64 roomId)
{
    if (session.roomId == roomId)
        return;
    leaveRoom(session, false);
    session.roomId = roomId;
    session.ringingRoom = 0;
    session.joinOrder = m_registry ? quint64(m_registry->next(QStringLiteral("join"))) : ++m_joins;
    record(session);
    updatePresence(session);
    const auto room = m_db.entry(roomId);
    send(session, {{CM::Type, CM::Conference},
                   {CF::RoomId, QString::number(roomId)},
                   {CF::Uri, uriOf(session)},
                   {CF::Name, room ? room->displayName : QString()}});
    offerMedia(session);
    broadcastRoster(roomId);
    for (const Session &other : peopleIn(roomId)) {
        if (!other.shareName.isEmpty() && other.tag != session.tag)
            send(session, {{CM::Type, CM::ShareStarted},
                           {CF::Uri, uriOf(other)},
                           {CF::Name, other.shareName}});
    }
}

void ConferenceHub::leaveRoom(Session &session, bool tellSession)
{
    const qint64 roomId = session.roomId;
    if (roomId == 0)
        return;
    setShare(session, {});
    session.roomId = 0;
    session.micMuted = false;
    session.iceExpiry = session.relayExpiry = 0;
    record(session);
    if (m_media) {
        m_media->release(roomId, session.tag, occupancy(roomId) == 0);
        broadcastFeeds(roomId);
    }
    updatePresence(session);
    if (tellSession)
        send(session, {{CM::Type, CM::ConferenceEnded}});
    broadcastRoster(roomId);
}

void ConferenceHub::chat(Session &session, const QJsonObject &message)
{
    if (session.roomId == 0)
        return;
    const QString to = message.value(CF::To).toString();
    const QJsonObject relayed{{CM::Type, CM::Chat},
                              {CF::From, uriOf(session)},
                              {CF::Name, session.displayName},
                              {CF::Text, message.value(CF::Text).toString().left(1024)},
                              {CF::Private, !to.isEmpty()}};
    for (const Session &other : std::as_const(m_sessions)) {
        if (other.roomId != session.roomId || other.socket == session.socket)
            continue;
        if (to.isEmpty() || uriOf(other) == to)
            send(other, relayed);
    }
    publish({{Bus::Kind, Bus::Relay},
             {Bus::Room, session.roomId},
             {Bus::For, to},
             {Bus::Message, relayed}});
}

void ConferenceHub::answerCall(Session &session, bool accept)
{
    const qint64 roomId = session.ringingRoom;
    session.ringingRoom = 0;
    if (accept && roomId != 0)
        enterRoom(session, roomId);
    Q_EMIT callAnswered(session.entityId, accept);
}

void ConferenceHub::setShare(Session &session, const QString &name)
{
    if (session.shareName == name || session.roomId == 0) {
        session.shareName = name;
        return;
    }
    const bool ended = name.isEmpty();
    session.shareName = name;
    record(session);
    const QJsonObject note =
        ended ? QJsonObject{{CM::Type, CM::ShareEnded}, {CF::Uri, uriOf(session)}}
              : QJsonObject{
                    {CM::Type, CM::ShareStarted}, {CF::Uri, uriOf(session)}, {CF::Name, name}};
    for (const Session &other : std::as_const(m_sessions)) {
        if (other.roomId == session.roomId && other.socket != session.socket)
            send(other, note);
    }
    publish({{Bus::Kind, Bus::Relay}, {Bus::Room, session.roomId}, {Bus::Message, note}});
    if (m_media)
        broadcastFeeds(session.roomId, session.socket);
}

bool ConferenceHub::joinByPortal(qint64 accountEntityId, qint64 roomId)
{
    Session *caller = sessionOfAccount(accountEntityId);
    if (!caller) {
        // An engine held by another instance is brought in by that one.
        const auto other = m_registry ? m_registry->elsewhere(accountEntityId) : std::nullopt;
        if (other)
            publish({{Bus::Kind, Bus::Join},
                     {Bus::To, other->instance},
                     {Bus::Entity, accountEntityId},
                     {Bus::Room, roomId}});
        return other.has_value();
    }
    enterRoom(*caller, roomId);
    // Joining a member's own room rings that member when it is signed in elsewhere.
    if (roomId == accountEntityId)
        return true;
    if (Session *owner = sessionOfAccount(roomId)) {
        if (owner->roomId != roomId)
            ring(*owner, roomId, caller->displayName);
    } else if (const auto other = m_registry ? m_registry->elsewhere(roomId) : std::nullopt;
               other && other->roomId != roomId) {
        publish({{Bus::Kind, Bus::Ring},
                 {Bus::To, other->instance},
                 {Bus::Entity, roomId},
                 {Bus::Room, roomId},
                 {Bus::Caller, caller->displayName}});
    }
    return true;
}

void ConferenceHub::ring(Session &owner, qint64 roomId, const QString &caller)
{
    owner.ringingRoom = roomId;
    send(owner, {{CM::Type, CM::IncomingCall}, {CF::Caller, caller}});
    QWebSocket *ownerSocket = owner.socket;
    QTimer::singleShot(ringMilliseconds, this, [this, ownerSocket, roomId] {
        auto it = m_sessions.find(ownerSocket);
        if (it == m_sessions.end() || it->ringingRoom != roomId)
            return;
        it->ringingRoom = 0;
        send(*it, {{CM::Type, CM::CallTimeout}});
    });
}

bool ConferenceHub::muteParticipant(qint64 roomId, const QString &participantId)
{
    if (muteHere(roomId, participantId))
        return true;
    const auto other = m_registry ? m_registry->participant(roomId, participantId) : std::nullopt;
    if (other)
        publish({{Bus::Kind, Bus::Mute},
                 {Bus::To, other->instance},
                 {Bus::Room, roomId},
                 {Bus::Tag, participantId}});
    return other.has_value();
}

bool ConferenceHub::muteHere(qint64 roomId, const QString &participantId)
{
    for (Session &session : m_sessions) {
        if (session.roomId == roomId && session.tag == participantId) {
            session.micMuted = true;
            record(session);
            send(session, {{CM::Type, CM::FarEndMute}, {CF::Muted, true}});
            broadcastRoster(roomId);
            return true;
        }
    }
    return false;
}

void ConferenceHub::setThrottles(SignInGate *signIns, Throttle *guestJoins)
{
    m_signIns = signIns;
    m_guestJoins = guestJoins;
}

void ConferenceHub::setMedia(RelayPool *media)
{
    m_media = media;
    scheduleRenewals();
    // The conference went to another relay, or to none when its relay stopped for good: its
    // participants are admitted where it is now and told so by a new media message.
    connect(media, &RelayPool::moved, this, [this](qint64 roomId) {
        const QList<QWebSocket *> sockets = m_sessions.keys(); // a failed write drops one
        for (QWebSocket *socket : sockets) {
            const auto it = m_sessions.find(socket);
            if (it == m_sessions.end() || it->roomId != roomId)
                continue;
            it->iceExpiry = it->relayExpiry = 0; // a call without media needs neither
            offerMedia(*it);
        }
    });
}

void ConferenceHub::offerMedia(const Session &session)
{
    if (!m_media)
        return;
    QWebSocket *socket = session.socket;
    const qint64 roomId = session.roomId;
    const QString tag = session.tag;
    const auto room = m_db.entry(roomId);
    const int seats = room ? room->capacity : 0;
    // The answer comes later: only a participant still in that room gets it.
    m_media->admit(roomId, tag, seats, [this, socket, roomId, tag](QJsonObject media) {
        const auto it = m_sessions.find(socket);
        if (it == m_sessions.end() || it->roomId != roomId || it->tag != tag)
            return;
        if (m_ice && media.value(CF::Available).toBool()) {
            it->iceExpiry = QDateTime::currentSecsSinceEpoch() + m_ice->lifetimeS();
            media.insert(CF::IceServers, m_ice->iceServers(tag, it->iceExpiry));
        }
        if (media.value(CF::Available).toBool()) {
            it->relayExpiry = QDateTime::currentSecsSinceEpoch() + m_media->relayTokenLifetimeS();
            if (m_registry)
                m_registry->setPublishers(tag, media.value(CF::Id).toInteger(),
                                          media.value(CF::ShareId).toInteger());
            media.insert(CF::Feeds, feedsJson(roomId));
            broadcastFeeds(roomId, socket);
        }
        send(*it, media);
    });
}

void ConferenceHub::publisherTaken(const Session &session, qint64 id)
{
    if (!m_media || session.roomId == 0 || !m_media->evict(session.roomId, session.tag, id))
        send(session,
             {{CM::Type, CM::Error}, {CF::Message, QStringLiteral("not a publisher id of yours")}});
}

QJsonArray ConferenceHub::feedsJson(qint64 roomId) const
{
    QJsonArray feeds;
    // Sharing a database, the room's people on every instance, each with the ids it was given.
    QHash<QString, QJsonObject> elsewhere;
    if (m_registry) {
        for (const SessionRegistry::Row &row : m_registry->inRoom(roomId)) {
            if (row.publisherId != 0 && row.instance != m_registry->instance())
                elsewhere.insert(row.tag,
                                 {{CF::Id, row.publisherId}, {CF::ShareId, row.sharePublisherId}});
        }
    }
    for (const Session &session : peopleIn(roomId)) {
        QJsonObject ids = elsewhere.contains(session.tag) ? elsewhere.value(session.tag)
                                                          : m_media->feedsOf(roomId, session.tag);
        if (ids.isEmpty())
            continue;
        ids.insert(CF::Uri, uriOf(session));
        // An id not in use is no one's: another participant could take it at the relay first.
        if (session.shareName.isEmpty())
            ids.remove(CF::ShareId);
        feeds.append(ids);
    }
    return feeds;
}

void ConferenceHub::broadcastFeeds(qint64 roomId, const QWebSocket *except)
{
    sendFeeds(roomId, except);
    publish({{Bus::Kind, Bus::Feeds}, {Bus::Room, roomId}});
}

void ConferenceHub::sendFeeds(qint64 roomId, const QWebSocket *except)
{
    const QJsonObject message{{CM::Type, CM::Feeds}, {CF::Feeds, feedsJson(roomId)}};
    for (const Session &session : std::as_const(m_sessions)) {
        if (session.roomId == roomId && session.socket != except &&
            !m_media->feedsOf(roomId, session.tag).isEmpty())
            send(session, message);
    }
}

void ConferenceHub::setIceServers(const TurnCredentials *servers)
{
    m_ice = servers;
    scheduleRenewals();
}

void ConferenceHub::scheduleRenewals()
{
    int lifetimeS = m_media ? m_media->relayTokenLifetimeS() : 0;
    if (m_ice)
        lifetimeS = lifetimeS > 0 ? std::min(lifetimeS, m_ice->lifetimeS()) : m_ice->lifetimeS();
    // Checked eight times a lifetime: each renewal comes between 3/4 and 7/8 of it.
    if (lifetimeS > 0)
        m_renewal.start(std::max(250, lifetimeS * 1000 / 8));
    else
        m_renewal.stop();
}

void ConferenceHub::renewCredentials()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto due = [now](qint64 expiry, qint64 lifetimeS) {
        return expiry != 0 && now >= expiry - lifetimeS / 4;
    };
    // A failed write may report the disconnection at once: the sessions change under a loop.
    const QList<QWebSocket *> sockets = m_sessions.keys();
    for (QWebSocket *socket : sockets) {
        auto it = m_sessions.find(socket);
        if (it != m_sessions.end() && m_ice && due(it->iceExpiry, m_ice->lifetimeS())) {
            it->iceExpiry = now + m_ice->lifetimeS();
            send(*it, {{CM::Type, CM::IceServers},
                       {CF::IceServers, m_ice->iceServers(it->tag, it->iceExpiry)}});
        }
        it = m_sessions.find(socket);
        if (it != m_sessions.end() && m_media &&
            due(it->relayExpiry, m_media->relayTokenLifetimeS())) {
            it->relayExpiry = now + m_media->relayTokenLifetimeS();
            send(*it,
                 {{CM::Type, CM::RelayToken}, {CF::RelayToken, m_media->relayToken(it->roomId)}});
        }
    }
}

int ConferenceHub::occupancy(qint64 roomId) const
{
    if (m_registry)
        return m_registry->occupancy(roomId);
    int count = 0;
    for (const Session &session : m_sessions)
        count += session.roomId == roomId ? 1 : 0;
    return count;
}

int ConferenceHub::linesInUse() const
{
    if (m_registry)
        return m_registry->linesInUse();
    int count = 0;
    for (const Session &session : m_sessions)
        count += session.roomId != 0 ? 1 : 0;
    return count;
}

void ConferenceHub::broadcastRoster(qint64 roomId)
{
    if (roomId == 0)
        return;
    sendRoster(roomId);
    publish({{Bus::Kind, Bus::Roster}, {Bus::Room, roomId}});
}

void ConferenceHub::sendRoster(qint64 roomId)
{
    QJsonArray roster;
    for (const Session &session : peopleIn(roomId))
        roster.append(participantJson(session));
    const QJsonObject message{{CM::Type, CM::Participants}, {CF::Participants, roster}};
    for (const Session &session : std::as_const(m_sessions)) {
        if (session.roomId == roomId)
            send(session, message);
    }
}

QList<ConferenceHub::Session> ConferenceHub::peopleIn(qint64 roomId) const
{
    QList<Session> present;
    if (m_registry) {
        for (const SessionRegistry::Row &row : m_registry->inRoom(roomId)) {
            Session session;
            session.entityId = row.entityId;
            session.displayName = row.displayName;
            session.tag = row.tag;
            session.roomId = row.roomId;
            session.joinOrder = quint64(row.joinOrder);
            session.micMuted = row.micMuted;
            session.shareName = row.shareName;
            present.append(session);
        }
        return present;
    }
    for (const Session &session : std::as_const(m_sessions)) {
        if (session.roomId == roomId)
            present.append(session);
    }
    std::sort(present.begin(), present.end(),
              [](const Session &a, const Session &b) { return a.joinOrder < b.joinOrder; });
    return present;
}

void ConferenceHub::updatePresence(const Session &session)
{
    if (session.entityId != 0)
        m_db.setPresence(session.entityId,
                         session.roomId != 0 ? QStringLiteral("Busy") : QStringLiteral("Online"));
}

QJsonObject ConferenceHub::participantJson(const Session &session) const
{
    return {{CF::Uri, uriOf(session)},
            {CF::Name, session.displayName},
            {CF::ParticipantId, session.tag},
            {CF::EntityId, session.entityId ? QString::number(session.entityId) : QString()},
            {CF::Role, session.entityId == session.roomId ? 1 : 0},
            {CF::MicMuted, session.micMuted},
            {CF::Sharing, !session.shareName.isEmpty()}};
}

QString ConferenceHub::uriOf(const Session &session) const
{
    // The client reads the sender mark after the last "-" and before the first ";".
    return QStringLiteral("conf%1-%2;ws").arg(session.roomId).arg(session.tag);
}

ConferenceHub::Session *ConferenceHub::sessionOfAccount(qint64 entityId)
{
    for (Session &session : m_sessions) {
        if (entityId != 0 && session.entityId == entityId)
            return &session;
    }
    return nullptr;
}

void ConferenceHub::send(const Session &session, const QJsonObject &message) const
{
    if (session.socket)
        session.socket->sendTextMessage(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void ConferenceHub::sendLater(Session &session, const QJsonObject &message, int holdMs)
{
    if (holdMs <= 0)
        return send(session, message);
    QWebSocket *socket = session.socket;
    ++session.answersDue;
    // The socket as context: a guest gone in the meantime hears nothing.
    QTimer::singleShot(holdMs, socket, [this, socket, message] {
        const auto it = m_sessions.find(socket);
        if (it == m_sessions.end())
            return;
        --it->answersDue;
        send(*it, message);
    });
}
