#include "services/JanusSupervisor.h"

#include "bridge/shared/ConferenceMessages.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>

namespace CM = ConferenceMessages;
namespace CF = ConferenceMessages::Field;

namespace {

constexpr int readyAttempts = 100; // polled every 100 ms
constexpr int keepAliveMs = 20000;
constexpr qint64 maxPublisherId = (qint64(1) << 52) - 1; // exact in a JSON number
constexpr qint64 restartSpacingMs = 60000;               // a Janus dying again sooner is given up
constexpr qint64 ownTokenSeconds = 600;
constexpr int stalePublishers = 4; // left behind by dropped connections, for a minute at most
constexpr int roomExists = 427;    // Janus VideoRoom's error code
constexpr int noSuchSession = 458; // Janus's

QString randomHex(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(data.data()), bytes / 4);
    return QString::fromLatin1(data.toHex());
}

QString transaction()
{
    return randomHex(8);
}

/// Janus's library folder ("…/lib/<arch>/janus") next to its program.
QString libraryFolder(const QString &program)
{
    const QDir prefix(QFileInfo(program).absolutePath() + QStringLiteral("/.."));
    QStringList candidates{prefix.filePath(QStringLiteral("lib/janus"))};
    const QDir lib(prefix.filePath(QStringLiteral("lib")));
    for (const QString &arch : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        candidates.prepend(lib.filePath(arch + QStringLiteral("/janus")));
    for (const QString &c : std::as_const(candidates)) {
        if (QFileInfo::exists(c + QStringLiteral("/plugins/libjanus_videoroom.so")))
            return c;
    }
    return {};
}

bool writeFile(const QString &path, const QString &text)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit();
}

/// A folder holding a link to one module only, so that Janus loads nothing else.
bool linkOnly(const QString &folder, const QString &module)
{
    QDir dir(folder);
    if (!dir.removeRecursively() || !QDir().mkpath(folder))
        return false;
    return QFile::link(module, dir.filePath(QFileInfo(module).fileName()));
}

quint16 freePort(const QString &address)
{
    QTcpServer probe;
    return probe.listen(QHostAddress(address), 0) ? probe.serverPort() : 0;
}

} // namespace

JanusSupervisor::JanusSupervisor(const QString &executable, const QString &dataDir, QObject *parent)
    : QObject(parent)
    , m_executable(executable)
    , m_folder(dataDir + QStringLiteral("/janus"))
    , m_roomSecret(randomHex(16))
    , m_adminKey(randomHex(16))
    , m_tokenSecret(randomHex(32))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_folder + QStringLiteral("/janus.log"));
    connect(&m_process, &QProcess::finished, this, [this] { died(); });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            fail();
    });
    m_keepAlive.setInterval(keepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { check(); });
}

JanusSupervisor::~JanusSupervisor()
{
    m_stopping = true;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
}

void JanusSupervisor::setAddress(const QString &address, quint16 port, const QString &publicHost,
                                 const QString &frontBase)
{
    m_address = address;
    m_fixedPort = port;
    m_publicHost = publicHost.contains(u':') ? u'[' + publicHost + u']' : publicHost;
    m_frontBase = frontBase;
}

void JanusSupervisor::setRemote(const RelaySettings &relay)
{
    m_remote = relay;
    m_adminKey = relay.adminKey;
    m_tokenSecret = relay.tokenSecret;
    // Every instance sharing the relay makes its rooms and admits to them: they all derive
    // the rooms' secret from the relay's own.
    m_roomSecret = QString::fromLatin1(QMessageAuthenticationCode::hash("orvale room secret",
                                                                        m_adminKey.toUtf8(),
                                                                        QCryptographicHash::Sha256)
                                           .toHex());
}

void JanusSupervisor::setAnswerBound(int ms)
{
    m_answerBoundMs = std::max(ms, 300);
    // Checked three times within the bound, and at least as often as Janus's sessions need.
    m_keepAlive.setInterval(std::min(keepAliveMs, m_answerBoundMs / 3));
}

QString JanusSupervisor::url() const
{
    if (isRemote())
        return m_remote.publicUrl;
    if (!m_frontBase.isEmpty())
        return m_frontBase + QStringLiteral("/janus");
    return QStringLiteral("http://%1:%2/janus").arg(m_publicHost).arg(m_port);
}

bool JanusSupervisor::listensEverywhere() const
{
    const QHostAddress listening(m_address);
    return listening == QHostAddress::AnyIPv4 || listening == QHostAddress::AnyIPv6;
}

QString JanusSupervisor::apiUrl() const
{
    if (isRemote())
        return m_remote.apiUrl;
    return QStringLiteral("http://%1:%2/janus")
        .arg(listensEverywhere() ? QStringLiteral("127.0.0.1") : m_address)
        .arg(m_port);
}

bool JanusSupervisor::writeConfiguration(QString *error)
{
    const QString program = QStandardPaths::findExecutable(m_executable).isEmpty()
                                ? m_executable
                                : QStandardPaths::findExecutable(m_executable);
    const QString lib = libraryFolder(program);
    if (!QFileInfo(program).isExecutable() || lib.isEmpty()) {
        *error = QStringLiteral("no Janus with its VideoRoom plugin at ") + m_executable;
        return false;
    }
    m_executable = program;
    m_port = m_fixedPort != 0 ? m_fixedPort : freePort(m_address);
    const QString f = m_folder;
    // Sent video is kept for retransmission 500 ms rather than 200: a subscriber asks for a
    // lost packet for as long as its jitter buffer waits (up to 300 ms), and again when the
    // retransmission is lost as well.
    const bool ok =
        QDir().mkpath(f + QStringLiteral("/empty")) &&
        linkOnly(f + QStringLiteral("/plugins"),
                 lib + QStringLiteral("/plugins/libjanus_videoroom.so")) &&
        linkOnly(f + QStringLiteral("/transports"),
                 lib + QStringLiteral("/transports/libjanus_http.so")) &&
        writeFile(f + QStringLiteral("/janus.jcfg"),
                  QStringLiteral("general: {\n  configs_folder = \"%1\"\n"
                                 "  plugins_folder = \"%1/plugins\"\n"
                                 "  transports_folder = \"%1/transports\"\n"
                                 "  events_folder = \"%1/empty\"\n"
                                 "  loggers_folder = \"%1/empty\"\n"
                                 "  log_to_stdout = true\n  debug_level = 3\n"
                                 "  session_timeout = 60\n  server_name = \"orvale\"\n"
                                 "  token_auth = true\n  token_auth_secret = \"%2\"\n}\n"
                                 "media: {\n  rtp_port_range = \"%3-%4\"\n"
                                 "  slowlink_threshold = 4\n  min_nack_queue = 500\n}\n"
                                 "%5plugins: {\n}\ntransports: {\n}\n"
                                 "events: {\n  broadcast = false\n}\n")
                      .arg(f, m_tokenSecret, QString::number(m_network.rtpMinPort),
                           QString::number(m_network.rtpMaxPort), natSection())) &&
        writeFile(f + QStringLiteral("/janus.transport.http.jcfg"),
                  QStringLiteral("general: {\n  json = \"compact\"\n  base_path = \"/janus\"\n"
                                 "  http = true\n  port = %1\n%2"
                                 "  https = false\n}\n"
                                 "admin: {\n  admin_http = false\n  admin_https = false\n}\n"
                                 "cors: {\n}\n")
                      .arg(m_port)
                      .arg(listensEverywhere()
                               ? QString()
                               : QStringLiteral("  ip = \"%1\"\n").arg(m_address))) &&
        writeFile(f + QStringLiteral("/janus.plugin.videoroom.jcfg"),
                  QStringLiteral("general: {\n  admin_key = \"%1\"\n}\n").arg(m_adminKey));
    if (!ok || m_port == 0)
        *error = QStringLiteral("cannot write the Janus configuration into ") + f;
    return ok && m_port != 0;
}

/// Behind a 1:1 NAT Janus offers its public address, and keeps the private one for those
/// inside. ICE-TCP stays off: Janus warns it is unreliable without ICE Lite, and clients
/// that cannot send UDP reach it through the TURN server over TCP or TLS instead.
QString JanusSupervisor::natSection() const
{
    const QHostAddress inside(m_network.interfaceAddress);
    const QHostAddress outside(m_network.publicAddress);
    if (outside.isNull() || outside == inside)
        return QStringLiteral("nat: {\n}\n");
    return QStringLiteral("nat: {\n  nat_1_1_mapping = \"%1\"\n  keep_private_host = true\n}\n")
        .arg(outside.toString());
}

bool JanusSupervisor::start(QString *error)
{
    m_lastHeard.start();
    if (isRemote()) {
        m_keepAlive.start();
        pollReady(0);
        return true;
    }
    if (!QDir().mkpath(m_folder) || !writeConfiguration(error))
        return false;
    m_process.setWorkingDirectory(m_folder);
    if (!launch()) {
        *error = QStringLiteral("Janus did not start: ") + m_process.errorString();
        return false;
    }
    return true;
}

bool JanusSupervisor::launch()
{
    m_process.start(m_executable, {QStringLiteral("-C"), m_folder + QStringLiteral("/janus.jcfg"),
                                   QStringLiteral("-F"), m_folder});
    if (!m_process.waitForStarted(5000))
        return false;
    pollReady(readyAttempts);
    return true;
}

void JanusSupervisor::died()
{
    if (m_stopping || !ready() ||
        (m_sinceRestart.isValid() && m_sinceRestart.elapsed() < restartSpacingMs))
        return fail();
    qWarning("janus stopped: starting it again");
    m_sinceRestart.start();
    m_sessionId = m_handleId = 0;
    m_keepAlive.stop();
    for (Room &room : m_rooms)
        room.created = false; // made again, with their admissions, once Janus is ready
    // Same configuration, same port: the engines find Janus where they left it.
    QTimer::singleShot(0, this, [this] {
        if (!launch())
            fail();
    });
}

void JanusSupervisor::pollReady(int attempts)
{
    if (m_stopping || (!isRemote() && m_process.state() != QProcess::Running))
        return;
    m_polling = true;
    // A remote Janus is asked again at the next check; the own one is given up.
    const auto failed = [this] {
        m_polling = false;
        if (!isRemote())
            fail();
    };
    post(QString(), {{"janus", "create"}}, [this, attempts, failed](const QJsonObject &reply) {
        const qint64 session = reply.value("data").toObject().value("id").toInteger();
        if (session == 0) {
            if (attempts > 0)
                QTimer::singleShot(100, this, [this, attempts] { pollReady(attempts - 1); });
            else
                failed();
            return;
        }
        post(QStringLiteral("/%1").arg(session),
             {{"janus", "attach"}, {"plugin", "janus.plugin.videoroom"}},
             [this, session, failed](const QJsonObject &attached) {
                 m_handleId = attached.value("data").toObject().value("id").toInteger();
                 if (m_handleId == 0)
                     return failed();
                 m_sessionId = session;
                 m_polling = false;
                 heard();
                 m_keepAlive.start();
                 qInfo("janus ready at %s, for engines at %s", qPrintable(apiUrl()),
                       qPrintable(url()));
                 for (auto it = m_rooms.begin(); it != m_rooms.end(); ++it)
                     createRoom(it.key());
             });
    });
}

QString JanusSupervisor::signedToken(qint64 lifetimeSeconds) const
{
    const QByteArray data =
        QByteArray::number(QDateTime::currentSecsSinceEpoch() + lifetimeSeconds) +
        ",janus,janus.plugin.videoroom";
    return QString::fromLatin1(
        data + ':' +
        QMessageAuthenticationCode::hash(data, m_tokenSecret.toLatin1(), QCryptographicHash::Sha1)
            .toBase64());
}

void JanusSupervisor::post(const QString &path, QJsonObject body, Reply done)
{
    body.insert("transaction", transaction());
    body.insert("token", signedToken(ownTokenSeconds));
    if (!m_remote.apiSecret.isEmpty())
        body.insert("apisecret", m_remote.apiSecret);
    QNetworkRequest request(QUrl(apiUrl() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(std::min(5000, m_answerBoundMs));
    QNetworkReply *reply = m_http.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, this, [reply, done] {
        reply->deleteLater();
        // A reply that timed out is closed: no answer.
        if (done)
            done(QJsonDocument::fromJson(reply->isOpen() ? reply->readAll() : QByteArray())
                     .object());
    });
}

void JanusSupervisor::roomRequest(qint64 room, QJsonObject body, Reply done)
{
    body.insert("room", room);
    QList<RoomRequest> &queue = m_roomRequests[room];
    queue.append({body, std::move(done)});
    if (queue.size() == 1)
        sendRoomRequest(room);
}

void JanusSupervisor::sendRoomRequest(qint64 room)
{
    const auto finish = [this, room](const QJsonObject &data) {
        // Still first while its answer is handled: requests made there queue behind it.
        const Reply done = m_roomRequests[room].first().done;
        if (done)
            done(data);
        auto queue = m_roomRequests.find(room);
        queue->removeFirst();
        if (queue->isEmpty())
            m_roomRequests.erase(queue);
        else
            sendRoomRequest(room);
    };
    if (!ready())
        return finish({});
    QJsonObject body = m_roomRequests[room].first().body;
    body.insert("secret", m_roomSecret);
    post(QStringLiteral("/%1/%2").arg(m_sessionId).arg(m_handleId),
         {{"janus", "message"}, {"body", body}}, [finish](const QJsonObject &reply) {
             finish(reply.value("plugindata").toObject().value("data").toObject());
         });
}

void JanusSupervisor::createRoom(qint64 conference)
{
    // After a restart, those admitted before may join again, from the room's first moment.
    QJsonArray tokens;
    for (const Member &member : m_rooms.value(conference).members)
        tokens.append(member.token);
    const int publishers = m_rooms.value(conference).publishers;
    roomRequest(
        conference,
        {{"request", "create"},
         {"admin_key", m_adminKey},
         {"permanent", false},
         {"is_private", true},
         {"publishers", publishers},
         {"allowed", tokens},
         {"require_pvtid", true},
         {"audiocodec", "opus"},
         {"videocodec", "vp8"},
         {"bitrate", 1024 * 1024},
         // Who is speaking, from the audio level each publisher's packets carry: talking
         // once the level averages above -40 dBov over 50 packets (a second of Opus),
         // which a muted microphone or a quiet room stays below.
         {"audiolevel_ext", true},
         {"audiolevel_event", true},
         {"audio_active_packets", 50},
         {"audio_level_average", 40}},
        [this, conference, tokens](const QJsonObject &data) {
            auto it = m_rooms.find(conference);
            if (it == m_rooms.end())
                return;
            // A room left over from an earlier admission is just as good, once it
            // takes as many publishers as the room seats now.
            const bool leftOver = data.value("error_code").toInt() == roomExists;
            it->created = data.value("videoroom").toString() == u"created" || leftOver;
            if (leftOver)
                roomRequest(conference, {{"request", "edit"}, {"new_publishers", it->publishers}});
            // A room left over has its own list: those admitted before join it too.
            if (it->created && !tokens.isEmpty())
                roomRequest(conference,
                            {{"request", "allowed"}, {"action", "add"}, {"allowed", tokens}});
            const auto waiting = std::exchange(it->waiting, {});
            for (const auto &admission : waiting)
                admission();
        });
}

int JanusSupervisor::publishersFor(int seats)
{
    return 2 * std::max(seats, 1) + stalePublishers;
}

QList<qint64> JanusSupervisor::freshIds(const Room &room, int count)
{
    QSet<qint64> taken;
    for (const Member &member : room.members)
        taken << member.id << member.shareId;
    QList<qint64> ids;
    while (ids.size() < count) {
        const qint64 id = qint64(QRandomGenerator::system()->bounded(quint64(maxPublisherId))) + 1;
        if (!taken.contains(id) && !ids.contains(id))
            ids.append(id);
    }
    return ids;
}

QJsonObject JanusSupervisor::feedsOf(qint64 conference, const QString &tag) const
{
    const auto room = m_rooms.constFind(conference);
    if (room == m_rooms.cend() || !room->members.contains(tag))
        return {};
    const Member &member = room->members[tag];
    return {{CF::Id, member.id}, {CF::ShareId, member.shareId}};
}

bool JanusSupervisor::evict(qint64 conference, const QString &tag, qint64 id)
{
    const auto room = m_rooms.constFind(conference);
    if (room == m_rooms.cend() || !room->members.contains(tag))
        return false;
    const Member &member = room->members[tag];
    if (id == 0 || (id != member.id && id != member.shareId))
        return false;
    qInfo("janus: publisher %lld of %s is held by another connection: kicking it", id,
          qPrintable(tag));
    roomRequest(conference, {{"request", "kick"}, {"id", id}}, [id](const QJsonObject &data) {
        if (data.contains("error"))
            qWarning("janus: publisher %lld stays: %s", id,
                     qPrintable(data.value("error").toString()));
    });
    return true;
}

void JanusSupervisor::admit(qint64 conference, const QString &tag, int seats, Answer answer)
{
    if (!ready() && !isRemote() && m_process.state() != QProcess::Running)
        return answer({{CM::Type, CM::Media}, {CF::Available, false}});
    const bool isNew = !m_rooms.contains(conference);
    Room &room = m_rooms[conference];
    if (isNew)
        room.publishers = publishersFor(seats);
    auto admission = [this, conference, tag, answer] {
        auto it = m_rooms.find(conference);
        if (it == m_rooms.end() || !it->created)
            return answer({{CM::Type, CM::Media}, {CF::Available, false}});
        const QString token = randomHex(16);
        QList<qint64> ids = m_nextId ? QList<qint64>{m_nextId(), m_nextId()} : QList<qint64>();
        if (ids.contains(0)) // none to be had: random ones are unlikely to meet
            ids.clear();
        if (ids.isEmpty())
            ids = freshIds(*it, 2);
        const Member member{token, ids[0], ids[1]};
        // Listed from now on: the feeds those in the room are told name it before it publishes.
        it->members.insert(tag, member);
        roomRequest(conference,
                    {{"request", "allowed"}, {"action", "add"}, {"allowed", QJsonArray{token}}},
                    [this, answer, conference, tag, member](const QJsonObject &data) {
                        // A token Janus did not take would only fail the participant's join.
                        if (data.value("videoroom").toString() != u"success") {
                            forget(conference, tag, member.token);
                            return answer({{CM::Type, CM::Media}, {CF::Available, false}});
                        }
                        answer({{CM::Type, CM::Media},
                                {CF::Available, true},
                                {CF::Url, url()},
                                {CF::Room, conference},
                                {CF::Token, member.token},
                                {CF::RelayToken, relayToken()},
                                {CF::Id, member.id},
                                {CF::ShareId, member.shareId}});
                    });
    };
    if (room.created)
        return admission();
    room.waiting.append(admission);
    if (isNew && ready())
        createRoom(conference);
}

void JanusSupervisor::release(qint64 conference, const QString &tag, bool lastOne)
{
    auto it = m_rooms.find(conference);
    if (it == m_rooms.end())
        return;
    const Member member = it->members.take(tag);
    if (!member.token.isEmpty()) {
        roomRequest(
            conference,
            {{"request", "allowed"}, {"action", "remove"}, {"allowed", QJsonArray{member.token}}});
        for (const qint64 id : {member.id, member.shareId})
            roomRequest(conference, {{"request", "kick"}, {"id", id}});
    }
    if (!lastOne)
        return;
    m_rooms.erase(it);
    roomRequest(conference, {{"request", "destroy"}});
}

void JanusSupervisor::abandon(qint64 conference)
{
    if (!m_rooms.remove(conference))
        return;
    // Should Janus answer again, no one is left in a room of its own there.
    if (ready())
        roomRequest(conference, {{"request", "destroy"}});
}

void JanusSupervisor::check()
{
    if (!ready()) {
        if (isRemote() && !m_polling)
            pollReady(0);
        return unheard();
    }
    post(QStringLiteral("/%1").arg(m_sessionId), {{"janus", "keepalive"}},
         [this](const QJsonObject &reply) {
             if (reply.value("janus").toString() == u"ack")
                 return heard();
             if (reply.value("error").toObject().value("code").toInt() != noSuchSession)
                 return unheard();
             heard(); // a Janus started again, which knows nothing of the rooms
             renewSession();
         });
}

void JanusSupervisor::heard()
{
    m_lastHeard.restart();
    if (std::exchange(m_answering, true))
        return;
    qInfo("janus at %s answers again", qPrintable(apiUrl()));
    Q_EMIT answeringChanged(true);
}

void JanusSupervisor::unheard()
{
    if (!m_answering || m_lastHeard.elapsed() < m_answerBoundMs)
        return;
    m_answering = false;
    qWarning("janus at %s does not answer", qPrintable(apiUrl()));
    Q_EMIT answeringChanged(false);
}

void JanusSupervisor::renewSession()
{
    if (!ready())
        return;
    m_sessionId = m_handleId = 0;
    for (Room &room : m_rooms)
        room.created = false; // made again, with their admissions, in the new session
    pollReady(isRemote() ? 0 : readyAttempts);
}

void JanusSupervisor::forget(qint64 conference, const QString &tag, const QString &token)
{
    const auto it = m_rooms.find(conference);
    if (it != m_rooms.end() && it->members.value(tag).token == token)
        it->members.remove(tag);
}

void JanusSupervisor::fail()
{
    if (m_stopping)
        return;
    m_sessionId = m_handleId = 0;
    m_answering = false;
    m_keepAlive.stop();
    for (Room &room : m_rooms) {
        room.created = false;
        for (const auto &admission : std::exchange(room.waiting, {}))
            admission();
    }
    m_rooms.clear();
    if (m_process.state() != QProcess::NotRunning)
        m_process.kill();
    qWarning("janus stopped: calls go on without media");
    Q_EMIT lost();
}
