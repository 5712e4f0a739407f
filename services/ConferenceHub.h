#pragma once

#include "services/Account.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

class InstanceBus;
class InstanceHeartbeat;
class JanusSupervisor;
class RelayPool;
class SessionRegistry;
class SignInGate;
class Throttle;
class TurnCredentials;
class QHostAddress;
class QJsonArray;
class QWebSocket;
class ServiceDatabase;
struct ServicesConfig;
struct DirectoryEntry;

/// The conference service: signed-in engines, rooms with their rosters, calls, chat, shares
/// and mute states, spoken as JSON messages over WebSocket (see ConferenceProtocol.md).
class ConferenceHub final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConferenceHub)

public:
    ConferenceHub(ServiceDatabase &db, const ServicesConfig &config, QObject *parent = nullptr);
    ~ConferenceHub() override;

    void accept(std::unique_ptr<QWebSocket> socket);

    /// People in a room now.
    int occupancy(qint64 roomId) const;
    int linesInUse() const;
    /// The portal's JoinConference for a signed-in account: brings its engine into the room,
    /// or rings the room's owner first when the room is a member's own room. False when the
    /// account has no engine signed in here.
    bool joinByPortal(qint64 accountEntityId, qint64 roomId);
    /// The portal's MuteAudio: true when the participant was found in the room.
    bool muteParticipant(qint64 roomId, const QString &participantId);
    /// The relays that carry the calls' audio and video; without them, calls carry none.
    void setMedia(RelayPool *media);
    /// The STUN and TURN servers every media message names, with credentials of the
    /// participant's own, sent again fresh before they expire while the call lasts.
    void setIceServers(const TurnCredentials *servers);
    /// Where sign-in passwords are checked and how guests' wrong PINs are slowed down.
    void setThrottles(SignInGate *signIns, Throttle *guestJoins);
    /// Pings every engine each `pingMs` and drops one silent for longer than `silenceMs`.
    void setKeepAlive(int pingMs, int silenceMs);
    /// On a PostgreSQL database, shares the sessions with the other instances using it: each
    /// engine's row in the database, messages for engines held elsewhere through it, and a
    /// heartbeat. On SQLite (one instance) there is nothing to share.
    bool shareState(QString *error);

    static constexpr int ringMilliseconds = 30000;

Q_SIGNALS:
    /// An account's engine asked to sign out, or was replaced by a sign-in elsewhere (reason 2).
    void signedOut(qint64 entityId, int reason);
    /// An account's engine answered a ringing call; an accepted call has entered the room.
    void callAnswered(qint64 entityId, bool accepted);

private:
    struct Session
    {
        QWebSocket *socket = nullptr;
        qint64 entityId = 0; ///< 0 for a guest
        QString userName;
        QString displayName;
        QString tag; ///< "u1001" or "g3": the sender mark of commands
        qint64 roomId = 0;
        bool micMuted = false;
        QString shareName;
        qint64 ringingRoom = 0;
        quint64 joinOrder = 0;   ///< rosters list people in the order they came
        QElapsedTimer lastHeard; ///< since the engine last sent anything, a pong included
        qint64 iceExpiry = 0;    ///< when its TURN credentials expire (unix time), 0: none
        qint64 relayExpiry = 0;  ///< when its relay token expires (unix time), 0: none
        QString address;         ///< the client's, for throttling
        int answersDue = 0;      ///< sign-ins and joins being checked or held
    };

    /// Whether another conference WebSocket from `peer` stays open.
    bool admits(const QHostAddress &peer) const;
    void closeUnwanted(QWebSocket *socket, const QString &why);
    void receive(QWebSocket *socket, const QString &text);
    void dropSession(QWebSocket *socket);
    void keepAlive();
    void heard(QWebSocket *socket);
    void armSignInDeadline(QWebSocket *socket);
    void signIn(Session &session, const QJsonObject &message);
    /// Signs the session in as `account`, or refuses it `holdMs` later.
    void admit(Session &session, const std::optional<Account> &account, int holdMs);
    void signOut(Session &session, int reason);
    void guestJoin(Session &session, const QJsonObject &message);
    void enterRoom(Session &session, qint64 roomId);
    void leaveRoom(Session &session, bool tellSession);
    void chat(Session &session, const QJsonObject &message);
    void answerCall(Session &session, bool accept);
    void setShare(Session &session, const QString &name);
    void broadcastRoster(qint64 roomId);
    /// The roster to this instance's engines in the room.
    void sendRoster(qint64 roomId);
    /// The people in a room, on every instance, in the order they came.
    QList<Session> peopleIn(qint64 roomId) const;
    /// Writes the session's row for the other instances.
    void record(const Session &session);
    /// Tells the other instances; nothing without any.
    void publish(const QJsonObject &message);
    void heardFromInstance(const QJsonObject &message);
    /// Ends the sessions of an instance that stopped: their rooms' rosters change.
    void endInstance(const QString &instance);
    /// Writes every session's row again, after the others took this instance for stopped.
    void recordAll();
    /// Rosters to this instance's engines again, after notifications may have been missed.
    void resendRosters();
    /// Whether another instance holds an engine of the account.
    bool signedInElsewhere(qint64 entityId) const;
    void ring(Session &owner, qint64 roomId, const QString &caller);
    bool muteHere(qint64 roomId, const QString &participantId);
    void offerMedia(const Session &session);
    /// Whose the relay's publisher ids in the room are: each admitted participant's URI with
    /// the ids it was given. Engines show a stream only as the participant it names.
    QJsonArray feedsJson(qint64 roomId) const;
    /// Tells the room's admitted participants, but `except`, whose the publisher ids are now,
    /// here and on the other instances.
    void broadcastFeeds(qint64 roomId, const QWebSocket *except = nullptr);
    /// As broadcastFeeds(), to this instance's engines only.
    void sendFeeds(qint64 roomId, const QWebSocket *except);
    /// The relay refused the participant's own publisher `id`: whoever holds it is kicked out.
    void publisherTaken(const Session &session, qint64 id);
    /// Checks for due renewals often enough for the shorter of the credentials' lifetimes.
    void scheduleRenewals();
    /// Fresh TURN credentials and relay tokens for the calls whose own passed 3/4 of their
    /// lifetime.
    void renewCredentials();
    void updatePresence(const Session &session);
    QJsonObject participantJson(const Session &session) const;
    QString uriOf(const Session &session) const;
    Session *sessionOfAccount(qint64 entityId);
    void send(const Session &session, const QJsonObject &message) const;
    /// Sends `message` `holdMs` from now, if the session is still there.
    void sendLater(Session &session, const QJsonObject &message, int holdMs);

    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
    QHash<QWebSocket *, Session> m_sessions;
    QTimer m_keepAlive;
    int m_silenceLimitMs = 0;
    int m_nextGuest = 1;
    quint64 m_joins = 0;
    QPointer<RelayPool> m_media;
    const TurnCredentials *m_ice = nullptr;
    SignInGate *m_signIns = nullptr;
    Throttle *m_guestJoins = nullptr;
    QTimer m_renewal;
    // Null on one instance alone.
    std::unique_ptr<SessionRegistry> m_registry;
    std::unique_ptr<InstanceBus> m_bus;
    std::unique_ptr<InstanceHeartbeat> m_heartbeat;
};
