#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include "services/RelaySettings.h"

#include <functional>

/// The media relay of the deployment: Janus (its VideoRoom plugin) run as a child process from
/// a folder of its own inside the data folder, its HTTP API on loopback only. It keeps one
/// VideoRoom room per conference with people in it and hands each admitted participant a token
/// of its own, so that only they can publish or subscribe in that room. A Janus that dies is
/// started again, with its rooms and admissions, once a minute at most: the engines in a call
/// find their rooms again and their media come back. The same rooms and admissions are kept on
/// a Janus run elsewhere (setRemote()), which is checked but not started.
class JanusSupervisor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JanusSupervisor)

public:
    using Answer = std::function<void(const QJsonObject &media)>;
    using Reply = std::function<void(const QJsonObject &data)>;

    /// Where the relay's media go in and out.
    struct Network
    {
        QString interfaceAddress; ///< the address Janus's interface has, empty: unknown
        QString publicAddress;    ///< as others reach it, when a 1:1 NAT maps it
        quint16 rtpMinPort = 20000;
        quint16 rtpMaxPort = 40000;
    };

    /// `executable` is the janus program; `dataDir` gets the configuration in "janus/".
    JanusSupervisor(const QString &executable, const QString &dataDir, QObject *parent = nullptr);
    ~JanusSupervisor() override;

    /// Before start().
    void setNetwork(const Network &network) { m_network = network; }
    /// Before start(): a Janus run elsewhere, reached at its API with its own secrets, instead
    /// of a child of this process. One that does not answer is asked again at every check.
    void setRemote(const RelaySettings &relay);
    bool isRemote() const { return !m_remote.apiUrl.isEmpty(); }
    /// Where publisher ids come from when several instances admit to the same rooms: a number
    /// they hand out together, so no two participants get the same. Random ones otherwise.
    void setIdSource(std::function<qint64()> next) { m_nextId = std::move(next); }
    /// How long Janus may leave the checks unanswered before it counts as not answering.
    void setAnswerBound(int ms);
    /// False once Janus left the checks unanswered for the bound, or stopped for good.
    bool answering() const { return m_answering; }
    /// The conference is carried elsewhere now: its room and admissions are dropped here.
    void abandon(qint64 conference);
    /// No one admitted here is left in the conference, which others (other instances) may go
    /// on using: its room stays at Janus, and is looked for again at the next admission here.
    void forgetRoom(qint64 conference) { m_rooms.remove(conference); }
    /// The conferences with a room (or one on its way) here.
    QList<qint64> conferences() const { return m_rooms.keys(); }
    /// Writes the configuration and starts Janus; false (with the reason) when it cannot run.
    bool start(QString *error);
    bool ready() const { return m_sessionId != 0; }
    /// Janus's API listens on `address` (loopback by default) and `port` (0: any free one);
    /// engines reach it through the TLS front at `frontBase` + "/janus" when given, otherwise
    /// directly at `publicHost`.
    void setAddress(const QString &address, quint16 port, const QString &publicHost,
                    const QString &frontBase = {});
    /// Where engines reach Janus, e.g. "http://127.0.0.1:<port>/janus".
    /// How long the token an engine sends with its relay requests holds (a day unless set);
    /// calls that go on get a fresh one before it expires.
    void setRelayTokenLifetime(int seconds) { m_relayTokenS = seconds; }
    int relayTokenLifetimeS() const { return m_relayTokenS; }
    /// A token for an engine's relay requests, valid for the lifetime from now.
    QString relayToken() const { return signedToken(m_relayTokenS); }
    QString url() const;
    qint64 pid() const { return m_process.processId(); }

    /// Makes sure the conference's room exists, with room for the publishers of `seats`
    /// participants, and `tag` may join it under publisher ids of its own; answers the media
    /// message for that participant ({available:false} when there is no media).
    void admit(qint64 conference, const QString &tag, int seats, Answer answer);
    /// The publisher ids `tag` was given in the conference's room, for its camera and its
    /// share, as {id, shareId}; empty before its admission.
    QJsonObject feedsOf(qint64 conference, const QString &tag) const;
    /// `tag`'s engine found its publisher `id` taken at the relay, by an earlier connection of
    /// its own that dropped, or by someone who took it first: whoever holds it is kicked out.
    /// False when `id` is not one of `tag`'s.
    bool evict(qint64 conference, const QString &tag, qint64 id);
    /// The relay's room for `seats` participants takes this many publishers: each may share
    /// beside its camera, and a publisher left behind by a dropped connection stays until the
    /// relay times its session out.
    static int publishersFor(int seats);
    /// `tag` left: its token stops working and its publisher is removed; the room goes with
    /// the last participant.
    void release(qint64 conference, const QString &tag, bool lastOne);

Q_SIGNALS:
    /// Janus stopped for good (or never became ready): calls go on without media.
    void lost();
    /// Janus stopped answering for the bound, or answers again.
    void answeringChanged(bool answering);

private:
    /// An admitted participant: its token, and the publisher ids it joins under, for its
    /// camera and its share.
    struct Member
    {
        QString token;
        qint64 id = 0;
        qint64 shareId = 0;
    };
    struct Room
    {
        bool created = false;
        int publishers = 0;
        QList<std::function<void()>> waiting; ///< admissions waiting for the room
        QHash<QString, Member> members;       ///< by tag
    };
    /// `count` random publisher ids that no one in `room` has.
    static QList<qint64> freshIds(const Room &room, int count);
    struct RoomRequest
    {
        QJsonObject body;
        Reply done;
    };
    bool writeConfiguration(QString *error);
    /// A token of Janus's token_auth, signed with the secret Janus is given, valid this long:
    /// Janus refuses every request without a valid one.
    QString signedToken(qint64 lifetimeSeconds) const;
    /// Where the supervisor itself reaches Janus's API.
    QString apiUrl() const;
    bool listensEverywhere() const;
    QString natSection() const;
    void pollReady(int attempts);
    void post(const QString &path, QJsonObject body, Reply done = {});
    /// Asks the VideoRoom plugin about `room`, after the requests about it made before.
    void roomRequest(qint64 room, QJsonObject body, Reply done = {});
    void sendRoomRequest(qint64 room);
    void createRoom(qint64 conference);
    /// `tag` was admitted to a room Janus did not let it join: its token is dropped.
    void forget(qint64 conference, const QString &tag, const QString &token);
    void fail();
    /// A check got Janus's answer, or none.
    void heard();
    void unheard();
    void check();
    /// Janus no longer knows the session: a new one, and the rooms made again in it.
    void renewSession();
    /// Janus died: started again, or given up when it died shortly after its last restart.
    void died();
    bool launch();

    QString m_executable;
    QString m_folder;
    Network m_network;
    QProcess m_process;
    QNetworkAccessManager m_http;
    QTimer m_keepAlive;
    quint16 m_port = 0;
    quint16 m_fixedPort = 0;
    QString m_address = QStringLiteral("127.0.0.1");
    QString m_publicHost = QStringLiteral("127.0.0.1");
    QString m_frontBase;
    QString m_roomSecret;
    QString m_adminKey;
    QString m_tokenSecret;
    int m_relayTokenS = 24 * 3600;
    qint64 m_sessionId = 0;
    qint64 m_handleId = 0;
    bool m_stopping = false;
    QElapsedTimer m_sinceRestart; ///< invalid before the first restart
    RelaySettings m_remote;
    int m_answerBoundMs = 60000;
    bool m_answering = true;
    bool m_polling = false;
    QElapsedTimer m_lastHeard;
    QHash<qint64, Room> m_rooms;
    std::function<qint64()> m_nextId;
    /// Per room, in the order they were made; the first one is with Janus. Janus answers
    /// requests on separate connections in any order: a room's destroy and its next create
    /// must not cross.
    QHash<qint64, QList<RoomRequest>> m_roomRequests;
};
