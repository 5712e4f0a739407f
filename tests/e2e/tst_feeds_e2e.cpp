#include "tests/support/InProcessCaller.h"
#include "tests/support/JanusProbe.h"
#include "tests/support/LightPublisher.h"
#include "tests/support/MediaMeasures.h"
#include "tests/support/Needs.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <gst/gst.h>

#include <memory>
#include <vector>

namespace {

constexpr qint64 reviewRoom = 2001; // 20 seats, PIN 1234, in the demo data
QString reviewRoomKey;              // random in each deployment's demo data

/// A guest in the review room through the conference service's WebSocket, as an engine would
/// be, with the media message the service gave it.
struct Guest
{
    QWebSocket socket;
    QJsonObject media;
    QString uri;
    QStringList errors; ///< the service's error answers

    void send(const QJsonObject &message)
    {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    /// Joins with `name`; false when the service gave it no media within the time.
    bool join(const QString &portalHostPort, const QString &name)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket,
                         [this](const QString &text) {
                             const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
                             if (m.value("type").toString() == u"conference")
                                 uri = m.value("uri").toString();
                             else if (m.value("type").toString() == u"media")
                                 media = m;
                             else if (m.value("type").toString() == u"error")
                                 errors.append(m.value("message").toString());
                         });
        socket.open(QUrl(QStringLiteral("ws://%1/conference").arg(portalHostPort)));
        if (!QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                             5000))
            return false;
        send({{"type", "guestJoin"}, {"roomKey", reviewRoomKey}, {"pin", "1234"}, {"name", name}});
        return QTest::qWaitFor([this] { return media.value("available").toBool(); }, 10000);
    }
};

} // namespace

/// Whose a stream is in a call is the deployment's word: a real engine (alice, the engine
/// driver) in the review room watches guests who publish light streams of their own.
class TestFeedsEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void oneConnectionCarriesEveryGuest();
    void spoofedNameKeepsItsOwnTile();
    void seventeenthPublisherAndAShareAreSeen();
    void takenIdIsFreedAtItsOwnersWord();

private:
    std::vector<std::unique_ptr<Guest>> guests(int count);
    /// The pictures alice's engine received of each participant's camera ("camera") or share
    /// ("share"), by URI, as its conference details say.
    QHash<QString, qint64> picturesAtAlice(const QString &kind);
    /// What alice's engine receives on: the feeds, the relay's handle and the connection's
    /// number in the relay session; empty before it receives any.
    QList<qint64> receivingAtAlice();
    void tellAlice(const QString &line) { m_alice.write((line + u'\n').toUtf8()); }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    QTemporaryDir m_settings;
    QProcess m_alice;
    ProcessLines m_aliceLines{m_alice};
};

void TestFeedsEndToEnd::initTestCase()
{
    ORVALE_NEEDS(mediaUnavailable());
    gst_init(nullptr, nullptr);
    m_home = std::make_unique<TestHome>();
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));
    reviewRoomKey = m_services->roomKey(reviewRoom);
    QVERIFY(!reviewRoomKey.isEmpty());
    m_alice.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_alice.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(m_alice.waitForStarted());
    QVERIFY(!m_aliceLines.startingWith(QStringLiteral("ready"), 15000).isEmpty());
    tellAlice(QStringLiteral("login alice alice1234 ") + m_services->portal());
    QVERIFY(!m_aliceLines.startingWith(QStringLiteral("loginSuccess"), 15000).isEmpty());
    const QString settings = m_settings.filePath(QStringLiteral("alice.ecf"));
    InProcessCaller::writeSettings(settings, "pictureColour=#2050c0\ntoneFrequency=440\n");
    tellAlice(QStringLiteral("settings ") + settings);
    tellAlice(QStringLiteral("join %1 1234").arg(reviewRoom));
    QVERIFY(!m_aliceLines.startingWith(QStringLiteral("conference"), 15000).isEmpty());
}

void TestFeedsEndToEnd::cleanupTestCase()
{
    stopDriver(m_alice);
}

std::vector<std::unique_ptr<Guest>> TestFeedsEndToEnd::guests(int count)
{
    std::vector<std::unique_ptr<Guest>> joined;
    const QString portal = QUrl(m_services->portal()).authority();
    for (int i = 0; i < count; ++i) {
        joined.push_back(std::make_unique<Guest>());
        if (!joined.back()->join(portal, QStringLiteral("guest %1").arg(i)))
            qWarning("guest %d got no media", i);
    }
    return joined;
}

QHash<QString, qint64> TestFeedsEndToEnd::picturesAtAlice(const QString &kind)
{
    m_aliceLines.forget();
    tellAlice(QStringLiteral("details"));
    const QString details = m_aliceLines.startingWith(QStringLiteral("details:"), 5000);
    QHash<QString, qint64> pictures;
    auto it = QRegularExpression(kind + QStringLiteral(" of (\\S+) (\\d+)")).globalMatch(details);
    while (it.hasNext()) {
        const auto match = it.next();
        pictures.insert(match.captured(1), match.captured(2).toLongLong());
    }
    return pictures;
}

QList<qint64> TestFeedsEndToEnd::receivingAtAlice()
{
    m_aliceLines.forget();
    tellAlice(QStringLiteral("details"));
    const QString details = m_aliceLines.startingWith(QStringLiteral("details:"), 5000);
    const auto match =
        QRegularExpression(QStringLiteral("received from [^(]*\\((\\d+) feeds, \\d+ lines, handle "
                                          "(\\d+), connection (\\d+)\\)"))
            .match(details);
    if (!match.hasMatch())
        return {};
    return {match.captured(1).toLongLong(), match.captured(2).toLongLong(),
            match.captured(3).toLongLong()};
}

/// Three guests publish, then one leaves and a fourth comes: alice's engine receives them all on
/// one connection and one relay handle, which stay as they come and go, and the pictures of
/// those who stay keep coming.
void TestFeedsEndToEnd::oneConnectionCarriesEveryGuest()
{
    const auto people = guests(4);
    std::vector<std::unique_ptr<LightPublisher>> streams;
    const auto publish = [&](const Guest &guest) {
        QVERIFY(guest.media.value("available").toBool());
        streams.push_back(std::make_unique<LightPublisher>(
            guest.media, guest.media.value("id").toInteger(), guest.uri));
        streams.back()->start();
    };
    for (int i = 0; i < 3; ++i)
        publish(*people[i]);
    const auto seen = [this](const Guest &guest) {
        return picturesAtAlice(QStringLiteral("camera")).value(guest.uri);
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(*people[0]) > 0 && seen(*people[1]) > 0 && seen(*people[2]) > 0,
                             20000);
    QTRY_COMPARE(receivingAtAlice().value(0), 3);
    const QList<qint64> before = receivingAtAlice();
    streams[1].reset(); // the second guest stops publishing
    publish(*people[3]);
    QTRY_VERIFY_WITH_TIMEOUT(seen(*people[3]) > 0, 20000);
    const qint64 first = seen(*people[0]), third = seen(*people[2]);
    QTRY_VERIFY(seen(*people[0]) > first && seen(*people[2]) > third);
    QTRY_COMPARE(receivingAtAlice(), (QList<qint64>{3, before.value(1), before.value(2)}));
}

/// A guest publishes under its own id with the name of another guest in the call: alice's engine
/// shows the stream on the tile of the guest it was given to, never on the other's.
void TestFeedsEndToEnd::spoofedNameKeepsItsOwnTile()
{
    const auto people = guests(2);
    Guest &spoofer = *people[0];
    const Guest &named = *people[1];
    QVERIFY(spoofer.media.value("available").toBool() && named.media.value("available").toBool());
    LightPublisher stream(spoofer.media, spoofer.media.value("id").toInteger(), named.uri);
    stream.start();
    QTRY_VERIFY_WITH_TIMEOUT(picturesAtAlice(QStringLiteral("camera")).value(spoofer.uri) > 5,
                             20000);
    QVERIFY(stream.error().isEmpty());
    QCOMPARE(picturesAtAlice(QStringLiteral("camera")).value(named.uri, -1), -1);
}

/// In a room of 20 seats, alice and 16 guests publish their cameras one after the other, and
/// then one guest shares: every stream is seen, the 17th publisher's and the share included.
void TestFeedsEndToEnd::seventeenthPublisherAndAShareAreSeen()
{
    constexpr int guestsPublishing = 16;
    const auto people = guests(guestsPublishing);
    std::vector<std::unique_ptr<LightPublisher>> streams;
    for (const auto &guest : people) {
        QVERIFY(guest->media.value("available").toBool());
        streams.push_back(std::make_unique<LightPublisher>(
            guest->media, guest->media.value("id").toInteger(), guest->uri));
        const LightPublisher &stream = *streams.back();
        streams.back()->start();
        // The relay counts the streams that are up when another one starts: one at a time.
        QTRY_VERIFY_WITH_TIMEOUT(picturesAtAlice(QStringLiteral("camera")).value(guest->uri) > 0 ||
                                     !stream.error().isEmpty(),
                                 20000);
        QVERIFY2(stream.error().isEmpty(),
                 qPrintable(QStringLiteral("publisher %1: %2")
                                .arg(streams.size() + 1) // alice is the first
                                .arg(stream.error())));
    }
    // The last guest also shares, as an engine does: it tells the service, then publishes.
    Guest &sharer = *people.back();
    sharer.send({{"type", "share"}, {"name", "window"}});
    LightPublisher share(sharer.media, sharer.media.value("shareId").toInteger(),
                         QStringLiteral("share:") + sharer.uri);
    share.start();
    QTRY_VERIFY_WITH_TIMEOUT(picturesAtAlice(QStringLiteral("share")).value(sharer.uri) > 0 ||
                                 !share.error().isEmpty(),
                             20000);
    QVERIFY2(share.error().isEmpty(), qPrintable(share.error()));
}

/// Someone publishes under a guest's id before the guest does: the relay refuses the guest's
/// join as the id is taken, the guest's engine says so, and the deployment kicks the holder out;
/// the holder's own word about an id not its own changes nothing.
void TestFeedsEndToEnd::takenIdIsFreedAtItsOwnersWord()
{
    const auto people = guests(2);
    Guest &owner = *people[0];
    Guest &squatter = *people[1];
    const qint64 id = owner.media.value("id").toInteger();
    LightPublisher squat(squatter.media, id, QStringLiteral("squatting"));
    squat.start();
    const JanusProbe janus(m_services->dataPath());
    QTRY_VERIFY_WITH_TIMEOUT(janus.inRoom(reviewRoom).contains(u"squatting"), 10000);
    squatter.send({{"type", "publisherTaken"}, {"id", id}});
    QTRY_COMPARE(squatter.errors.size(), 1);
    QVERIFY(janus.inRoom(reviewRoom).contains(u"squatting"));
    owner.send({{"type", "publisherTaken"}, {"id", id}});
    QTRY_VERIFY_WITH_TIMEOUT(!janus.inRoom(reviewRoom).contains(u"squatting"), 10000);
    QVERIFY(owner.errors.isEmpty());
}

QTEST_GUILESS_MAIN(TestFeedsEndToEnd)
#include "tst_feeds_e2e.moc"
