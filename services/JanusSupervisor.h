#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <functional>

/// The media relay of the deployment: Janus (its VideoRoom plugin) run as a child process from
/// a folder of its own inside the data folder, its HTTP API on loopback only. It keeps one
/// VideoRoom room per conference with people in it and hands each admitted participant a token
/// of its own, so that only they can publish or subscribe in that room. A Janus that dies is
/// started again, with its rooms and admissions, once a minute at most: the engines in a call
/// find their rooms again and their media come back.
class JanusSupervisor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JanusSupervisor)

public:
    using Answer = std::function<void(const QJsonObject &media)>;
    using Reply = std::function<void(const QJsonObject &data)>;

    /// `executable` is the janus program; `dataDir` gets the configuration in "janus/".
    JanusSupervisor(const QString &executable, const QString &dataDir, QObject *parent = nullptr);
    ~JanusSupervisor() override;

    /// Writes the configuration and starts Janus; false (with the reason) when it cannot run.
    bool start(QString *error);
    bool ready() const { return m_sessionId != 0; }
    /// Janus's API listens on `address` (loopback by default) and `port` (0: any free one);
    /// engines reach it through the TLS front at `frontBase` + "/janus" when given, otherwise
    /// directly at `publicHost`.
    void setAddress(const QString &address, quint16 port, const QString &publicHost,
                    const QString &frontBase = {});
    /// Where engines reach Janus, e.g. "http://127.0.0.1:<port>/janus".
    QString url() const;
    qint64 pid() const { return m_process.processId(); }

    /// Makes sure the conference's room exists and `tag` may join it; answers the media
    /// message for that participant ({available:false} when there is no media).
    void admit(qint64 conference, const QString &tag, Answer answer);
    /// `tag` left: its token stops working and its publisher is removed; the room goes with
    /// the last participant.
    void release(qint64 conference, const QString &tag, bool lastOne);

Q_SIGNALS:
    /// Janus stopped for good (or never became ready): calls go on without media.
    void lost();

private:
    struct Room
    {
        bool created = false;
        QList<std::function<void()>> waiting;           ///< admissions waiting for the room
        QHash<QString, QPair<QString, qint64>> members; ///< tag → token, publisher id
    };
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
    void pollReady(int attempts);
    void post(const QString &path, QJsonObject body, Reply done = {});
    /// Asks the VideoRoom plugin about `room`, after the requests about it made before.
    void roomRequest(qint64 room, QJsonObject body, Reply done = {});
    void sendRoomRequest(qint64 room);
    void createRoom(qint64 conference);
    /// `tag` was admitted to a room Janus did not let it join: its token is dropped.
    void forget(qint64 conference, const QString &tag, const QString &token);
    void fail();
    /// Janus died: started again, or given up when it died shortly after its last restart.
    void died();
    bool launch();

    QString m_executable;
    QString m_folder;
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
    qint64 m_sessionId = 0;
    qint64 m_handleId = 0;
    bool m_stopping = false;
    QElapsedTimer m_sinceRestart; ///< invalid before the first restart
    QHash<qint64, Room> m_rooms;
    /// Per room, in the order they were made; the first one is with Janus. Janus answers
    /// requests on separate connections in any order: a room's destroy and its next create
    /// must not cross.
    QHash<qint64, QList<RoomRequest>> m_roomRequests;
};
