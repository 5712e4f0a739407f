#include "bridge/shared/ConferenceMessages.h"
#include "engine/EngineState.h"
#include "engine/MediaEngine.h"
#include "tests/support/TestHost.h"
#include "tests/support/TestHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QMap>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>

/// The media module's session with a scripted Janus: which of Janus's events reach which of
/// its streams.
class TestMediaSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void staleHangupSparesTheNewConnection();
    void refusedJoin_data();
    void refusedJoin();
    void takenIdIsFreedAndJoinedAgain();
    void streamsShowOnlyAsTheirIdsOwner_data();
    void streamsShowOnlyAsTheirIdsOwner();
    void offerRepairsLostVideo();
    void staleAttachReplyIsNotAdopted();
    void refusedAnswer_data();
    void refusedAnswer();
    void publisherTakesTheIceServers_data();
    void publisherTakesTheIceServers();
    void renewedRelayTokenIsSent();
    void oneSubscriptionCarriesEveryFeed_data();
    void oneSubscriptionCarriesEveryFeed();
    void hiddenCameraIsPausedAtTheRelay_data();
    void hiddenCameraIsPausedAtTheRelay();
    void returningFeedIsShownOnTheRunningConnection();
    void idleLinesAreAnsweredInactive();
    void subscriptionRequestsKeepTheirOrder();
    void lateWordOfTheServiceKeepsAReturningShare();
};

namespace {

constexpr qint64 handle = 21; ///< the publisher's handle
constexpr qint64 ownId = 5;   ///< this participant's publisher id in the room
const QString self = QStringLiteral("conf1-u1;ws");
const QString other = QStringLiteral("conf1-u2;ws");
/// Whose the room's publisher ids are, as the service says: the other participant's camera is 7.
const QJsonArray feedsOfTheRoom{QJsonObject{{"uri", self}, {"id", ownId}, {"shareId", 6}},
                                QJsonObject{{"uri", other}, {"id", 7}}};

/// Janus as far as a publisher needs it: a session, a handle, the room joined, and offers
/// taken but never answered, or answered with `offerAnswer` once one is set. Events go out through
/// the long poll as they are pushed.
class ScriptedJanus
{
public:
    ScriptedJanus()
    {
        server.setResponder([this](const TestHttpServer::Request &r) { return answer(r); });
    }
    void push(const QJsonObject &event) { push(QJsonArray{event}); }
    /// Events that reach the engine through one poll.
    void push(const QJsonArray &events)
    {
        for (const QJsonValue &event : events)
            m_events.append(event);
        if (m_polled)
            flush();
    }
    /// A VideoRoom event for the publisher's handle, or for `sender`'s.
    static QJsonObject event(const QJsonObject &data, const QJsonObject &jsep = {},
                             qint64 sender = handle)
    {
        QJsonObject e{
            {"janus", "event"}, {"sender", sender}, {"plugindata", QJsonObject{{"data", data}}}};
        if (!jsep.isEmpty())
            e.insert("jsep", jsep);
        return e;
    }
    /// Janus's VideoRoom error code for the first `refusals` joins (all for -1).
    int joinError = 0;
    /// Who publishes in the room when the participant joins, as Janus lists them.
    QJsonArray publishers;
    int refusals = -1;
    std::optional<QString> offerAnswer; ///< the description every offer is answered with
    QString holdAnswerTo; ///< VideoRoom requests of this kind wait for releaseHeld() to be taken
    qsizetype sessions() const
    {
        return std::count_if(
            server.requests().cbegin(), server.requests().cend(),
            [](const TestHttpServer::Request &r) {
                return QJsonDocument::fromJson(r.body).object().value("janus").toString() ==
                       u"create";
            });
    }
    /// How many VideoRoom requests of this kind ("publish", "unpublish") arrived, of
    /// participants of the type `ptype` when one is named.
    qsizetype requests(const QString &kind, const QString &ptype = {}) const
    {
        return std::count_if(
            server.requests().cbegin(), server.requests().cend(),
            [&](const TestHttpServer::Request &r) {
                const QJsonObject body =
                    QJsonDocument::fromJson(r.body).object().value("body").toObject();
                return body.value("request").toString() == kind &&
                       (ptype.isEmpty() || body.value("ptype").toString() == ptype);
            });
    }
    /// The publisher's joins, as sent.
    QList<QJsonObject> joins() const
    {
        QList<QJsonObject> joins;
        for (const TestHttpServer::Request &r : server.requests()) {
            const QJsonObject body =
                QJsonDocument::fromJson(r.body).object().value("body").toObject();
            if (body.value("request").toString() == u"join" &&
                body.value("ptype").toString() == u"publisher")
                joins.append(body);
        }
        return joins;
    }
    /// The publishers subscribed to, in the order of the subscriptions' joins.
    QList<qint64> subscribed() const
    {
        QList<qint64> feeds;
        for (const TestHttpServer::Request &r : server.requests()) {
            const QJsonObject body =
                QJsonDocument::fromJson(r.body).object().value("body").toObject();
            if (body.value("request").toString() == u"join" &&
                body.value("ptype").toString() == u"subscriber")
                feeds.append(body.value("streams")[0].toObject().value("feed").toInteger());
        }
        return feeds;
    }
    /// The VideoRoom requests of this kind ("subscribe", "configure"), each with the handle it
    /// was sent on, in the order sent.
    QList<std::pair<qint64, QJsonObject>> sent(const QString &kind) const
    {
        QList<std::pair<qint64, QJsonObject>> found;
        for (const TestHttpServer::Request &r : server.requests()) {
            const QJsonObject body =
                QJsonDocument::fromJson(r.body).object().value("body").toObject();
            if (body.value("request").toString() == kind)
                found.append({r.target.split('/').last().split('?').first().toLongLong(), body});
        }
        return found;
    }
    /// The description of the first offer to publish; empty before it.
    QString offer() const
    {
        for (const TestHttpServer::Request &r : server.requests()) {
            const QJsonObject m = QJsonDocument::fromJson(r.body).object();
            if (m.value("body").toObject().value("request").toString() == u"publish")
                return m.value("jsep").toObject().value("sdp").toString();
        }
        return {};
    }
    /// How many of the relay's requests of this kind ("attach", "detach") arrived.
    qsizetype janusRequests(const QString &kind) const
    {
        return std::count_if(server.requests().cbegin(), server.requests().cend(),
                             [&kind](const TestHttpServer::Request &r) {
                                 return QJsonDocument::fromJson(r.body).object().value("janus") ==
                                        kind;
                             });
    }

    TestHttpServer server;

private:
    TestHttpServer::Reply answer(const TestHttpServer::Request &request)
    {
        const auto json = [](const QJsonObject &o) {
            return TestHttpServer::Reply(200, "application/json", QJsonDocument(o).toJson());
        };
        if (request.method == "GET") {
            TestHttpServer::Reply poll = json({});
            poll.held = m_events.isEmpty();
            poll.body = QJsonDocument(std::exchange(m_events, {})).toJson();
            m_polled = poll.held;
            return poll;
        }
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        const QString kind = body.value("janus").toString();
        if (kind == u"create") {
            m_attached = 0;
            return json({{"janus", "success"}, {"data", QJsonObject{{"id", handle}}}});
        }
        if (kind == u"attach") // the publisher's handle first, a new one for each subscriber
            return json(
                {{"janus", "success"}, {"data", QJsonObject{{"id", handle + m_attached++}}}});
        // The publisher's join is answered; a subscriber's waits for an offer that never comes.
        const QJsonObject videoRoom = body.value("body").toObject();
        const bool joins = videoRoom.value("request").toString() == u"join" &&
                           videoRoom.value("ptype").toString() == u"publisher";
        if (videoRoom.value("request").toString() == u"publish" && offerAnswer)
            push(event({{"videoroom", "event"}, {"configured", "ok"}},
                       {{"type", "answer"}, {"sdp", *offerAnswer}}));
        if (joins && joinError && refusals-- != 0)
            push(event({{"videoroom", "event"},
                        {"error_code", joinError},
                        {"error", QStringLiteral("refused")}}));
        else if (joins)
            push(event({{"videoroom", "joined"},
                        {"id", ownId},
                        {"private_id", 9},
                        {"publishers", publishers}}));
        TestHttpServer::Reply taken = json({{"janus", kind == u"message" ? "ack" : "success"}});
        taken.held = !holdAnswerTo.isEmpty() && videoRoom.value("request") == holdAnswerTo;
        return taken;
    }
    void flush()
    {
        m_polled = false;
        server.releaseHeld(QJsonDocument(std::exchange(m_events, {})).toJson());
    }

    QJsonArray m_events;
    bool m_polled = false; ///< a poll waits for events
    qint64 m_attached = 0;
};

MediaEngine *createMediaEngine(EngineState &state)
{
    QLibrary module(QStringLiteral(ORVALE_MEDIA_MODULE));
    const auto create =
        reinterpret_cast<CreateMediaEngine>(module.resolve("orvaleCreateMediaEngine"));
    return create ? create(state, nullptr) : nullptr;
}

/// This participant's media engine with a settings file of its own, which holds `settings`
/// (keys of the engine's group).
struct MediaCall
{
    explicit MediaCall(const QVariantMap &settings = {})
    {
        state.selfUri = self;
        state.settingsPath = dir.filePath(QStringLiteral("engine.ecf"));
        {
            QSettings file(state.settingsPath, QSettings::IniFormat);
            for (auto it = settings.cbegin(); it != settings.cend(); ++it)
                file.setValue(QStringLiteral("engine/") + it.key(), it.value());
        }
        media.reset(createMediaEngine(state));
    }
    /// Joins room 1 of `janus` with `token`, through `iceServers`, where the publisher ids are
    /// those of `feeds`.
    void start(const ScriptedJanus &janus, const QString &token, const QJsonArray &iceServers = {},
               const QJsonArray &feeds = feedsOfTheRoom)
    {
        namespace CF = ConferenceMessages::Field;
        media->start({{CF::Available, true},
                      {CF::Url, QString(janus.server.baseUrl() + QStringLiteral("/janus"))},
                      {CF::Room, 1},
                      {CF::Id, ownId},
                      {CF::ShareId, 6},
                      {CF::Token, token},
                      {CF::RelayToken, QStringLiteral("first-relay-token")},
                      {CF::IceServers, iceServers},
                      {CF::Feeds, feeds}});
    }

    QTemporaryDir dir;
    EngineState state;
    std::unique_ptr<MediaEngine> media;
};

/// A generated picture and tone: the media a machine without devices sends.
QVariantMap generatedMedia(QVariantMap more = {})
{
    more.insert(QStringLiteral("pictureColour"), QStringLiteral("#c03020"));
    more.insert(QStringLiteral("toneFrequency"), 660);
    return more;
}

} // namespace

/// The sent media fail and are offered again on the same handle: the own marks go with the failed
/// stream, and Janus's word that the first connection hung up arrives only then, and spares the
/// new one.
void TestMediaSession::staleHangupSparesTheNewConnection()
{
    ScriptedJanus janus;
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia({{QStringLiteral("publisherFailsAfter"), 1}}));
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"));
    QTRY_COMPARE_WITH_TIMEOUT(janus.requests(QStringLiteral("publish")), 1, 10000);
    const auto marks = [&call](bool on) {
        QMutexLocker lock(&call.state.mutex);
        if (on) { // as the relay's talking event and the link readings leave them
            call.state.speakers.setSpeaking(self, true, SpeakerStage::clockMs());
            call.state.poorLinks.insert(self);
        }
        return call.state.speakers.isSpeaking(self) || call.state.poorLinks.contains(self);
    };
    QVERIFY(marks(true));
    // A new pipeline after the failed one: 15 s were seen on a machine busy with other tests.
    QTRY_COMPARE_WITH_TIMEOUT(janus.requests(QStringLiteral("publish")), 2, 30000);
    QCOMPARE(janus.requests(QStringLiteral("unpublish")), 1);
    QVERIFY(!marks(false)); // the relay says nothing more of a stream that failed

    janus.push({{"janus", "hangup"}, {"sender", handle}, {"reason", "Close PC"}});
    // Janus says that this participant speaks: the hangup before it has been dealt with.
    janus.push({{"janus", "event"},
                {"sender", handle},
                {"plugindata",
                 QJsonObject{{"data", QJsonObject{{"videoroom", "talking"}, {"id", ownId}}}}}});
    const auto speaking = [&call] {
        QMutexLocker lock(&call.state.mutex);
        return call.state.speakers.isSpeaking(self);
    };
    QTRY_VERIFY(speaking());
    QCOMPARE(janus.requests(QStringLiteral("unpublish")), 1);
    QVERIFY(call.media->describe().contains(u"sending from")); // the new publisher runs on
}

void TestMediaSession::refusedJoin_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("refusals");
    QTest::addColumn<QString>("note");
    // A relay starting again has no rooms yet, or not yet the call's token; one that refuses the
    // token again and again will not change its mind.
    QTest::newRow("no such room") << 426 << -1 << QStringLiteral("音视频已中断");
    QTest::newRow("unauthorised for a moment") << 433 << 1 << QString();
    QTest::newRow("unauthorised") << 433 << -1 << QStringLiteral("无音视频");
}

void TestMediaSession::refusedJoin()
{
    QFETCH(int, error);
    QFETCH(int, refusals);
    QFETCH(QString, note);
    ScriptedJanus janus;
    janus.joinError = error;
    janus.refusals = refusals;
    QVERIFY(janus.server.listen());
    MediaCall call;
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("refused"));
    const auto shown = [&call] {
        QMutexLocker lock(&call.state.mutex);
        return call.state.mediaNote;
    };
    QTRY_VERIFY_WITH_TIMEOUT(janus.sessions() > 1, 10000); // the first refusal is not the last
    QTRY_COMPARE_WITH_TIMEOUT(shown(), note, 10000);
}

/// Back after a drop, the participant's earlier session still holds its publisher id at the
/// relay: the service is asked to free it, and the participant joins again under that id, the
/// only one others show as theirs, in the same session.
void TestMediaSession::takenIdIsFreedAndJoinedAgain()
{
    ScriptedJanus janus;
    janus.joinError = 436; // "ID exists"
    janus.refusals = 1;
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    QList<qint64> taken;
    call.media->publisherTaken = [&taken](qint64 id) { taken.append(id); };
    call.start(janus, QStringLiteral("admitted"));
    QTRY_COMPARE_WITH_TIMEOUT(janus.requests(QStringLiteral("publish")), 1, 10000);
    const QList<QJsonObject> joins = janus.joins();
    QCOMPARE(joins.size(), 2);
    QCOMPARE(joins[0].value("id").toInteger(), ownId);
    QCOMPARE(joins[1].value("id").toInteger(), ownId);
    QCOMPARE(taken, QList<qint64>{ownId});
    QCOMPARE(janus.sessions(), 1);
}

void TestMediaSession::streamsShowOnlyAsTheirIdsOwner_data()
{
    QTest::addColumn<QJsonArray>("publishers"); // as Janus lists them
    QTest::addColumn<QJsonArray>("feeds");      // whose the ids are, as the service says
    QTest::addColumn<QList<qint64>>("subscribed");
    QTest::addColumn<bool>("toldLater"); // the service's word comes after the relay's listing
    const auto as = [](qint64 id, const QString &display) {
        return QJsonObject{{"id", id}, {"display", display}};
    };
    const QJsonArray otherShares{QJsonObject{{"uri", other}, {"id", 7}, {"shareId", 8}}};
    QTest::newRow("the other's camera")
        << QJsonArray{as(7, other)} << feedsOfTheRoom << QList<qint64>{7} << false;
    QTest::newRow("the other's share") << QJsonArray{as(8, QStringLiteral("share:") + other)}
                                       << otherShares << QList<qint64>{8} << false;
    // Someone publishes under an id the service did not give, with the other's name.
    QTest::newRow("a stranger named as the other")
        << QJsonArray{as(11, other), as(12, QStringLiteral("share:") + other)} << otherShares
        << QList<qint64>{} << false;
    // A name says nothing: the id is the other's, whatever its publisher calls itself.
    QTest::newRow("the other named as someone else")
        << QJsonArray{as(7, QStringLiteral("conf1-u3;ws"))} << feedsOfTheRoom << QList<qint64>{7}
        << false;
    QTest::newRow("the own name") << QJsonArray{as(7, self)} << feedsOfTheRoom << QList<qint64>{7}
                                  << false;
    // The own ids are never subscribed to, whatever the name.
    QTest::newRow("the own ids") << QJsonArray{as(ownId, other), as(6, other)} << feedsOfTheRoom
                                 << QList<qint64>{} << false;
    QTest::newRow("the other's camera, told later")
        << QJsonArray{as(7, other)} << feedsOfTheRoom << QList<qint64>{7} << true;
    QTest::newRow("no word from the service")
        << QJsonArray{as(7, other)} << QJsonArray{} << QList<qint64>{} << false;
}

/// Which participant a received stream is shown as is the service's word, by the publisher id
/// it gave them; the name a publisher gives itself at the relay counts for nothing.
void TestMediaSession::streamsShowOnlyAsTheirIdsOwner()
{
    QFETCH(QJsonArray, publishers);
    QFETCH(QJsonArray, feeds);
    QFETCH(QList<qint64>, subscribed);
    QFETCH(bool, toldLater);
    ScriptedJanus janus;
    janus.publishers = publishers;
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"), {}, toldLater ? QJsonArray() : feeds);
    QTRY_COMPARE_WITH_TIMEOUT(janus.requests(QStringLiteral("publish")), 1, 10000);
    if (toldLater) {
        QCOMPARE(janus.subscribed(), QList<qint64>{});
        call.media->setFeeds(feeds);
    }
    QTRY_COMPARE(janus.subscribed(), subscribed);
    QCOMPARE(janus.janusRequests(QStringLiteral("attach")), 1 + subscribed.size());
}

/// The sent media's offer asks for lost video packets again and resends them (NACK, RTX), and
/// offers no congestion feedback that the engine would not use.
void TestMediaSession::offerRepairsLostVideo()
{
    ScriptedJanus janus;
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"));
    QTRY_VERIFY_WITH_TIMEOUT(!janus.offer().isEmpty(), 10000);
    const QString sdp = janus.offer();
    QVERIFY2(sdp.contains(u"a=rtcp-fb:96 nack\r\n"), qPrintable(sdp));
    QVERIFY(sdp.contains(u"a=rtcp-fb:96 nack pli"));
    QVERIFY(sdp.contains(QRegularExpression(QStringLiteral("a=rtpmap:(\\d+) rtx/90000"))));
    QVERIFY(sdp.contains(u"apt=96"));
    QVERIFY2(!sdp.contains(u"rtcp-fb:111 nack"), qPrintable(sdp)); // sound is not sent again
    QVERIFY(!sdp.contains(u"transport-cc"));
}

/// A participant leaves and comes back while the engine still waits for the relay's handle for
/// the subscription: the one handle is kept, and the subscription joins once, with the stream
/// as it is published last.
void TestMediaSession::staleAttachReplyIsNotAdopted()
{
    ScriptedJanus janus;
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"));
    QTRY_COMPARE_WITH_TIMEOUT(janus.requests(QStringLiteral("publish")), 1, 10000);
    const QJsonArray other{QJsonObject{{"id", 7}, {"display", "conf1-u2;ws"}}};
    // In one poll: the other publishes, leaves and publishes again under the same id, again
    // and again.
    constexpr int times = 10;
    QJsonArray events;
    for (int i = 0; i < times; ++i) {
        if (i > 0)
            events.append(ScriptedJanus::event({{"videoroom", "event"}, {"leaving", 7}}));
        events.append(ScriptedJanus::event({{"videoroom", "event"}, {"publishers", other}}));
    }
    janus.push(events);
    QTRY_COMPARE(janus.requests(QStringLiteral("join"), QStringLiteral("subscriber")), 1);
    QCOMPARE(janus.subscribed(), QList<qint64>{7});
    QCOMPARE(janus.janusRequests(QStringLiteral("attach")), 2);
    QCOMPARE(janus.janusRequests(QStringLiteral("detach")), 0);
}

void TestMediaSession::refusedAnswer_data()
{
    QTest::addColumn<QString>("sdp");
    QTest::newRow("no description") << QString();
    // Read without complaint, but not an answer to the offer: no media, no fingerprint.
    QTest::newRow("not an answer to the offer") << QStringLiteral("v=0\r\no=- 1 1 IN IP4 "
                                                                  "127.0.0.1\r\ns=-\r\nt=0 0\r\n");
}

/// The relay answers the sent media's offer with a description webrtcbin cannot take: the stream
/// fails at once and is offered again, long before it would have been given up for not
/// connecting.
void TestMediaSession::refusedAnswer()
{
    QFETCH(QString, sdp);
    ScriptedJanus janus;
    janus.offerAnswer = sdp;
    QVERIFY(janus.server.listen());
    MediaCall call(
        generatedMedia({{QStringLiteral("connectTimeout"), 3600}})); // never, in this test
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"));
    QTRY_VERIFY_WITH_TIMEOUT(janus.requests(QStringLiteral("unpublish")) >= 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(janus.requests(QStringLiteral("publish")) >= 2, 10000);
}

/// The media message's STUN and TURN servers reach the publisher's webrtcbin, and renewed
/// credentials reach it in the running call.
void TestMediaSession::publisherTakesTheIceServers_data()
{
    QTest::addColumn<bool>("relayOnly");
    QTest::newRow("any path") << false;
    QTest::newRow("relay only") << true;
}

void TestMediaSession::publisherTakesTheIceServers()
{
    QFETCH(bool, relayOnly);
    const auto servers = [](const QString &host, const QString &password) {
        return QJsonArray{
            QJsonObject{{"urls", QJsonArray{QStringLiteral("stun:%1:3478").arg(host)}}},
            QJsonObject{
                {"urls", QJsonArray{QStringLiteral("turn:%1:3478?transport=udp").arg(host),
                                    QStringLiteral("turn:%1:3478?transport=tcp").arg(host)}},
                {"username", "1700000000:u1"},
                {"credential", password}}};
    };
    ScriptedJanus janus;
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia({{QStringLiteral("relayOnly"), relayOnly}}));
    QVERIFY(call.media);
    // Addresses of the test's own, where nothing answers: no packet leaves the machine.
    call.start(janus, QStringLiteral("admitted"),
               servers(testHost(1), QStringLiteral("first-secret")));
    QTRY_VERIFY(call.media->describe().contains(
        QStringLiteral("ice servers: stun://%1:3478, turn://%1:3478?transport=udp")
            .arg(testHost(1))));
    call.media->renewIceServers(servers(testHost(2), QStringLiteral("second-secret")));
    const QString details = call.media->describe();
    QVERIFY2(details.contains(QStringLiteral("turn://%1:3478?transport=udp").arg(testHost(2))),
             qPrintable(details));
    QVERIFY(!details.contains(u"secret")); // credentials stay out of the log
    QCOMPARE(details.contains(u"relay only"), relayOnly);
}

void TestMediaSession::renewedRelayTokenIsSent()
{
    ScriptedJanus janus;
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"));
    const auto carries = [&janus](qsizetype from, const QByteArray &token) {
        const QList<TestHttpServer::Request> requests = janus.server.requests();
        return std::any_of(requests.cbegin() + from, requests.cend(), [&token](const auto &r) {
            return r.target.contains(QByteArray("token=" + token)) ||
                   r.body.contains(QByteArray('"' + token + '"'));
        });
    };
    QTRY_VERIFY(carries(0, "first-relay-token"));
    call.media->renewRelayToken(QStringLiteral("second-relay-token"));
    const qsizetype renewed = janus.server.requests().size();
    // The long poll and every request from now on carry the new token, and only it.
    QTRY_VERIFY(carries(renewed, "second-relay-token"));
    QTRY_VERIFY(janus.server.requests().size() > renewed + 1);
    QVERIFY(!carries(janus.server.requests().size() - 1, "first-relay-token"));
}

namespace {

/// The room of the tests with several others: the own ids, and each other's camera id by URI.
QJsonArray feedsOf(const QList<qint64> &others)
{
    QJsonArray feeds{feedsOfTheRoom.first()};
    for (const qint64 id : others)
        feeds.append(QJsonObject{{"uri", QStringLiteral("conf1-u%1;ws").arg(id)}, {"id", id}});
    return feeds;
}

QJsonArray publishing(const QList<qint64> &ids)
{
    QJsonArray list;
    for (const qint64 id : ids)
        list.append(QJsonObject{{"id", id}, {"display", QStringLiteral("conf1-u%1;ws").arg(id)}});
    return list;
}

/// The feeds of the VideoRoom requests of `kind` as sent, on the handle each went to.
QList<std::pair<qint64, QList<qint64>>> feedsSent(const ScriptedJanus &janus, const QString &kind)
{
    QList<std::pair<qint64, QList<qint64>>> found;
    for (const auto &[to, body] : janus.sent(kind)) {
        QList<qint64> feeds;
        for (const QJsonValue &stream : body.value("streams").toArray())
            feeds.append(stream.toObject().value("feed").toInteger());
        found.append({to, feeds});
    }
    return found;
}

constexpr qint64 subscriberHandle = handle + 1; ///< the relay's second handle

} // namespace

void TestMediaSession::oneSubscriptionCarriesEveryFeed_data()
{
    using Sent = QList<std::pair<qint64, QList<qint64>>>;
    QTest::addColumn<QList<qint64>>("atJoin");   // who publishes when this participant joins
    QTest::addColumn<QList<qint64>>("arriving"); // who starts publishing later
    QTest::addColumn<QList<qint64>>("leaving");  // and who leaves
    QTest::addColumn<Sent>("subscribed");        // the subscription's requests, on their handle
    QTest::addColumn<Sent>("unsubscribed");
    const qint64 h = subscriberHandle;
    QTest::newRow("three others at the join")
        << QList<qint64>{7, 17, 27} << QList<qint64>{} << QList<qint64>{} << Sent{} << Sent{};
    QTest::newRow("a fourth comes later") << QList<qint64>{7, 17, 27} << QList<qint64>{37}
                                          << QList<qint64>{} << Sent{{h, {37}}} << Sent{};
    QTest::newRow("one leaves, another comes")
        << QList<qint64>{7, 17, 27} << QList<qint64>{37} << QList<qint64>{17} << Sent{{h, {37}}}
        << Sent{{h, {17}}};
}

/// Every other participant's streams come on one connection, asked for on one handle: those who
/// come and go later are added to it and taken out of it there, and no new handle is attached.
void TestMediaSession::oneSubscriptionCarriesEveryFeed()
{
    using Sent = QList<std::pair<qint64, QList<qint64>>>;
    QFETCH(QList<qint64>, atJoin);
    QFETCH(QList<qint64>, arriving);
    QFETCH(QList<qint64>, leaving);
    QFETCH(Sent, subscribed);
    QFETCH(Sent, unsubscribed);
    ScriptedJanus janus;
    janus.publishers = publishing(atJoin);
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"), {}, feedsOf(atJoin + arriving));
    QTRY_COMPARE_WITH_TIMEOUT(feedsSent(janus, QStringLiteral("join")).size(), 2, 10000);
    QCOMPARE(feedsSent(janus, QStringLiteral("join")).last(),
             std::make_pair(subscriberHandle, atJoin));
    QJsonArray events;
    for (const qint64 id : leaving)
        events.append(ScriptedJanus::event({{"videoroom", "event"}, {"leaving", id}}));
    if (!arriving.isEmpty())
        events.append(
            ScriptedJanus::event({{"videoroom", "event"}, {"publishers", publishing(arriving)}}));
    janus.push(events);
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("subscribe")), subscribed);
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("unsubscribe")), unsubscribed);
    QCOMPARE(janus.janusRequests(QStringLiteral("attach")), 2);
    QCOMPARE(janus.janusRequests(QStringLiteral("detach")), 0);
}

void TestMediaSession::hiddenCameraIsPausedAtTheRelay_data()
{
    QTest::addColumn<std::optional<QList<qint64>>>("shown"); // whose tiles are on screen
    QTest::addColumn<QStringList>("paused");                 // the media lines paused, then resumed
    const QString on17 = QStringLiteral("1"), on27 = QStringLiteral("3");
    QTest::newRow("before any layout") << std::optional<QList<qint64>>() << QStringList{};
    QTest::newRow("all shown") << std::optional(QList<qint64>{17, 27}) << QStringList{};
    QTest::newRow("one hidden") << std::optional(QList<qint64>{17}) << QStringList{on27};
    QTest::newRow("none shown") << std::optional(QList<qint64>{}) << QStringList{on17, on27};
}

/// A camera whose tile is not on screen is paused at the relay, its voice still heard; shown
/// again, it is resumed (the relay then asks its sender for a new picture).
void TestMediaSession::hiddenCameraIsPausedAtTheRelay()
{
    QFETCH(std::optional<QList<qint64>>, shown);
    QFETCH(QStringList, paused);
    ScriptedJanus janus;
    janus.publishers = publishing({17, 27});
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"), {}, feedsOf({17, 27}));
    QTRY_COMPARE_WITH_TIMEOUT(feedsSent(janus, QStringLiteral("join")).size(), 2, 10000);
    const auto line = [](const char *mid, const char *type, qint64 feed) {
        return QJsonObject{{"mid", mid}, {"type", type}, {"active", true}, {"feed_id", feed}};
    };
    janus.push(ScriptedJanus::event(
        {{"videoroom", "attached"},
         {"streams", QJsonArray{line("0", "audio", 17), line("1", "video", 17),
                                line("2", "audio", 27), line("3", "video", 27)}}},
        {}, subscriberHandle));
    QTRY_COMPARE(call.state.remoteVideo.size(), 2);
    const auto show = [&call](const QList<qint64> &ids) {
        std::function<void()> changed;
        {
            QMutexLocker lock(&call.state.mutex);
            call.state.shownVideo.clear();
            for (const qint64 id : ids)
                call.state.shownVideo.insert(QStringLiteral("conf1-u%1;ws").arg(id), {320, 180});
            changed = call.state.shownChanged;
        }
        QVERIFY(changed);
        changed();
    };
    using Lines = QList<std::pair<QString, bool>>;
    const auto lines = [&janus] {
        Lines found;
        for (const auto &[to, body] : janus.sent(QStringLiteral("configure"))) {
            if (to != subscriberHandle)
                continue;
            for (const QJsonValue &stream : body.value("streams").toArray())
                found.append({stream.toObject().value("mid").toString(),
                              stream.toObject().value("send").toBool()});
        }
        return found;
    };
    Lines configured;
    for (const bool send : {false, true})
        for (const QString &mid : paused)
            configured.append({mid, send});
    if (shown) {
        show(*shown);
        QTRY_COMPARE(lines(), configured.mid(0, paused.size()));
        show({17, 27});
    }
    QTRY_COMPARE(lines(), configured);
}

/// Another participant's sending fails and comes back while the subscription's connection stays
/// up: no new connection says so, the relay's list of what the subscription carries does, and
/// their tile is no longer marked as interrupted.
void TestMediaSession::returningFeedIsShownOnTheRunningConnection()
{
    const QString uri = QStringLiteral("conf1-u17;ws");
    ScriptedJanus janus;
    janus.publishers = publishing({17});
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    {
        QMutexLocker lock(&call.state.mutex);
        EngineState::Participant other;
        other.uri = uri;
        call.state.participants.append(other);
    }
    call.start(janus, QStringLiteral("admitted"), {}, feedsOf({17}));
    QTRY_COMPARE_WITH_TIMEOUT(feedsSent(janus, QStringLiteral("join")).size(), 2, 10000);
    const auto carried = [](bool active) {
        const auto line = [active](const char *mid, const char *type) {
            QJsonObject stream{{"mid", mid}, {"type", type}, {"active", active}};
            if (active)
                stream.insert("feed_id", 17);
            return stream;
        };
        return QJsonArray{line("0", "audio"), line("1", "video")};
    };
    const auto interrupted = [&call, &uri] {
        QMutexLocker lock(&call.state.mutex);
        return call.state.interruptedMedia.contains(uri);
    };
    janus.push({ScriptedJanus::event({{"videoroom", "attached"}, {"streams", carried(true)}}, {},
                                     subscriberHandle),
                QJsonObject{{"janus", "webrtcup"}, {"sender", subscriberHandle}}});
    QTRY_COMPARE(call.state.remoteVideo.size(), 1);
    janus.push({ScriptedJanus::event({{"videoroom", "event"}, {"unpublished", 17}}),
                ScriptedJanus::event({{"videoroom", "updated"}, {"streams", carried(false)}}, {},
                                     subscriberHandle)});
    QTRY_VERIFY(interrupted());
    QTRY_COMPARE(call.state.remoteVideo.size(), 0);
    janus.push(ScriptedJanus::event({{"videoroom", "event"}, {"publishers", publishing({17})}}));
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("subscribe")),
                 (QList<std::pair<qint64, QList<qint64>>>{{subscriberHandle, {17}}}));
    janus.push(ScriptedJanus::event({{"videoroom", "updated"}, {"streams", carried(true)}}, {},
                                    subscriberHandle));
    QTRY_COMPARE(call.state.remoteVideo.size(), 1);
    QTRY_VERIFY(!interrupted());
    QCOMPARE(janus.janusRequests(QStringLiteral("attach")), 2); // on the same connection
}

namespace {

/// The relay's offer of one subscription: a media line per entry of `lines` (mid, kind, and
/// whether it carries a feed), as Janus describes them.
QString relayOffer(const QList<std::tuple<QString, QString, bool>> &lines)
{
    QStringList mids;
    for (const auto &[mid, kind, active] : lines)
        mids.append(mid);
    QString sdp =
        QStringLiteral("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=VideoRoom 1\r\nt=0 0\r\n"
                       "a=group:BUNDLE %1\r\na=fingerprint:sha-256 "
                       "16:7B:50:C2:02:7E:14:92:6D:70:88:73:CA:30:D6:2C:2C:18:2B:13:09:15:70:18:"
                       "14:B2:C2:54:22:D0:54:9F\r\na=msid-semantic: WMS *\r\n")
            .arg(mids.join(u' '));
    quint32 source = 1000;
    for (const auto &[mid, kind, active] : lines) {
        const bool video = kind == u"video";
        sdp += QStringLiteral("m=%1 9 UDP/TLS/RTP/SAVPF %2\r\nc=IN IP4 127.0.0.1\r\na=%3\r\n"
                              "a=mid:%4\r\na=rtcp-mux\r\na=ice-ufrag:L0Kp\r\n"
                              "a=ice-pwd:U3/3GANyMHOlCpq+4kxB0v\r\na=setup:actpass\r\n")
                   .arg(kind, video ? u"96" : u"111", active ? u"sendonly" : u"inactive", mid);
        sdp += video ? QStringLiteral("a=rtpmap:96 VP8/90000\r\na=rtcp-fb:96 nack\r\n"
                                      "a=rtcp-fb:96 nack pli\r\n")
                     : QStringLiteral("a=rtpmap:111 opus/48000/2\r\n");
        if (active)
            sdp += QStringLiteral("a=ssrc:%1 cname:janus\r\n").arg(++source);
    }
    return sdp;
}

/// The direction of each media line of `sdp`, by mid.
QMap<QString, QString> directions(const QString &sdp)
{
    QMap<QString, QString> found;
    for (const QString &media : sdp.split(QStringLiteral("\r\nm=")).mid(1)) {
        const QString mid =
            QRegularExpression(QStringLiteral("a=mid:(\\S+)")).match(media).captured(1);
        found.insert(mid,
                     QRegularExpression(QStringLiteral("a=(sendrecv|sendonly|recvonly|inactive)"))
                         .match(media)
                         .captured(1));
    }
    return found;
}

} // namespace

/// A media line the relay keeps free after its feed left is answered as inactive: the relay
/// then sends nothing on it when it gives it to a new feed until the offer that says so is
/// answered, and the new feed's packets never reach this side before it knows whose they are.
void TestMediaSession::idleLinesAreAnsweredInactive()
{
    ScriptedJanus janus;
    janus.publishers = publishing({17});
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"), {}, feedsOf({17}));
    QTRY_COMPARE_WITH_TIMEOUT(feedsSent(janus, QStringLiteral("join")).size(), 2, 10000);
    const auto line = [](const char *mid, const char *type, bool active) {
        QJsonObject stream{{"mid", mid}, {"type", type}, {"active", active}};
        if (active)
            stream.insert("feed_id", 17);
        return stream;
    };
    janus.push(ScriptedJanus::event(
        {{"videoroom", "attached"},
         {"streams", QJsonArray{line("0", "video", true), line("1", "audio", true),
                                line("2", "video", false), line("3", "audio", false)}}},
        {{"type", "offer"},
         {"sdp", relayOffer({{QStringLiteral("0"), QStringLiteral("video"), true},
                             {QStringLiteral("1"), QStringLiteral("audio"), true},
                             {QStringLiteral("2"), QStringLiteral("video"), false},
                             {QStringLiteral("3"), QStringLiteral("audio"), false}})}},
        subscriberHandle));
    const auto answered = [&janus] {
        for (const TestHttpServer::Request &r : janus.server.requests()) {
            const QJsonObject m = QJsonDocument::fromJson(r.body).object();
            if (m.value("body").toObject().value("request").toString() == u"start")
                return directions(m.value("jsep").toObject().value("sdp").toString());
        }
        return QMap<QString, QString>();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!answered().isEmpty(), 10000);
    QCOMPARE(answered(),
             (QMap<QString, QString>{{QStringLiteral("0"), QStringLiteral("recvonly")},
                                     {QStringLiteral("1"), QStringLiteral("recvonly")},
                                     {QStringLiteral("2"), QStringLiteral("inactive")},
                                     {QStringLiteral("3"), QStringLiteral("inactive")}}));
}

/// A feed taken out of the subscription and added again at once is added again at the relay:
/// the relay reads a handle's requests in the order they reach it, and the second may overtake
/// the first on its way, so it waits until the relay took the first in.
void TestMediaSession::subscriptionRequestsKeepTheirOrder()
{
    const QString uri = QStringLiteral("conf1-u17;ws");
    ScriptedJanus janus;
    janus.publishers = publishing({17});
    janus.holdAnswerTo = QStringLiteral("unsubscribe");
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"), {}, feedsOf({17}));
    QTRY_COMPARE_WITH_TIMEOUT(feedsSent(janus, QStringLiteral("join")).size(), 2, 10000);
    QJsonObject speaking = publishing({17}).first().toObject();
    speaking.insert("talking", true);
    janus.push(
        {ScriptedJanus::event({{"videoroom", "event"}, {"unpublished", 17}}),
         ScriptedJanus::event({{"videoroom", "event"}, {"publishers", QJsonArray{speaking}}})});
    // Added again: the relay's word on who speaks is read as the returning feed's.
    QTRY_VERIFY(([&call, &uri] {
        QMutexLocker lock(&call.state.mutex);
        return call.state.speakers.isSpeaking(uri);
    }()));
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("unsubscribe")).size(), 1);
    QCOMPARE(feedsSent(janus, QStringLiteral("subscribe")).size(), 0);
    janus.server.releaseHeld();
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("subscribe")),
                 (QList<std::pair<qint64, QList<qint64>>>{{subscriberHandle, {17}}}));
}

/// The other participant shares again at once: the relay says that the new share publishes
/// before the service's word that the first one ended arrives, then the service gives the share
/// id again. The share is subscribed to again, as the relay still publishes it.
void TestMediaSession::lateWordOfTheServiceKeepsAReturningShare()
{
    const auto feeds = [](bool sharing) {
        QJsonObject other{{"uri", QStringLiteral("conf1-u17;ws")}, {"id", 17}};
        if (sharing)
            other.insert("shareId", 18);
        return QJsonArray{feedsOfTheRoom.first(), other};
    };
    ScriptedJanus janus;
    janus.publishers = publishing({17, 18});
    QVERIFY(janus.server.listen());
    MediaCall call(generatedMedia());
    QVERIFY(call.media);
    call.start(janus, QStringLiteral("admitted"), {}, feeds(true));
    QTRY_COMPARE_WITH_TIMEOUT(feedsSent(janus, QStringLiteral("join")).size(), 2, 10000);
    QCOMPARE(feedsSent(janus, QStringLiteral("join")).last().second, (QList<qint64>{17, 18}));
    janus.push({ScriptedJanus::event({{"videoroom", "event"}, {"leaving", 18}}),
                ScriptedJanus::event({{"videoroom", "event"}, {"publishers", publishing({18})}})});
    const QList<std::pair<qint64, QList<qint64>>> once{{subscriberHandle, {18}}};
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("subscribe")), once);
    call.media->setFeeds(feeds(false)); // the first share ended
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("unsubscribe")).size(), 2);
    call.media->setFeeds(feeds(true)); // the second one started
    QTRY_COMPARE(feedsSent(janus, QStringLiteral("subscribe")), once + once);
}

QTEST_GUILESS_MAIN(TestMediaSession)
#include "tst_mediasession.moc"
