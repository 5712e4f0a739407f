#include "services/JanusSupervisor.h"
#include "tests/support/JanusProbe.h"
#include "tests/support/Needs.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

/// Janus as the deployment's child: its configuration, rooms and admissions, and its death.
class TestJanusSupervisor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void missingProgramIsReported();
    void runsOnlyWhatCallsNeed();
    void admitsAndReportsItsDeath();
    void restartsJanusOnceWithItsRooms();
    void keepsARoomEnteredAgainAtOnce();
    void tokenJanusDidNotTakeIsNoAdmission();
    void roomsTakeEverySeatsPublishers();
    void takenIdIsFreedForItsOwnerOnly();
    void addressFacts_data();
    void addressFacts();

private:
    static QJsonObject admit(JanusSupervisor &janus, qint64 room, const QString &tag,
                             int seats = 50)
    {
        QJsonObject answer;
        janus.admit(room, tag, seats, [&answer](const QJsonObject &media) { answer = media; });
        (void)QTest::qWaitFor([&answer] { return !answer.isEmpty(); }, 10000);
        return answer;
    }
};

void TestJanusSupervisor::missingProgramIsReported()
{
    QTemporaryDir data;
    JanusSupervisor janus(data.filePath(QStringLiteral("no-janus-here")), data.path());
    QString why;
    QVERIFY(!janus.start(&why));
    QVERIFY(why.contains(QStringLiteral("no-janus-here")));
    // Calls are told there is no media, at once.
    QCOMPARE(admit(janus, 1001, QStringLiteral("u1")).value("available"), QJsonValue(false));
}

namespace {

/// scripts/test installs Janus: there its absence fails rather than skips.
bool janusInstalled()
{
    const bool found = !QStandardPaths::findExecutable(QStringLiteral("janus")).isEmpty();
    if (!found && qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
        qFatal("Janus is not installed although scripts/setup installs it");
    return found;
}

/// Starts `janus`, saying why when it does not.
bool started(JanusSupervisor &janus)
{
    QString why;
    if (janus.start(&why))
        return true;
    qWarning("Janus did not start: %s", qPrintable(why));
    return false;
}

} // namespace

void TestJanusSupervisor::runsOnlyWhatCallsNeed()
{
    if (!janusInstalled())
        QSKIP("Janus is not installed");
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QVERIFY(started(janus));
    QTRY_VERIFY_WITH_TIMEOUT(janus.ready(), 10000);
    const QDir folder(data.filePath(QStringLiteral("janus")));
    QCOMPARE(QDir(folder.filePath(QStringLiteral("plugins"))).entryList(QDir::Files),
             QStringList{QStringLiteral("libjanus_videoroom.so")});
    QCOMPARE(QDir(folder.filePath(QStringLiteral("transports"))).entryList(QDir::Files),
             QStringList{QStringLiteral("libjanus_http.so")});
    QFile http(folder.filePath(QStringLiteral("janus.transport.http.jcfg")));
    QVERIFY(http.open(QIODevice::ReadOnly));
    const QByteArray text = http.readAll();
    QVERIFY(text.contains("ip = \"127.0.0.1\""));
    QVERIFY(text.contains("admin_http = false"));
    QFile core(folder.filePath(QStringLiteral("janus.jcfg")));
    QVERIFY(core.open(QIODevice::ReadOnly));
    const QByteArray coreText = core.readAll();
    QVERIFY(!coreText.contains("admin_secret"));
    // Every request needs a token signed with the deployment's secret.
    QVERIFY(coreText.contains("token_auth = true"));
    QVERIFY(coreText.contains("token_auth_secret = \""));
}

void TestJanusSupervisor::admitsAndReportsItsDeath()
{
    if (!janusInstalled())
        QSKIP("Janus is not installed");
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QVERIFY(started(janus));
    // Admissions before Janus is ready wait for it.
    const QJsonObject first = admit(janus, 1001, QStringLiteral("u1"));
    const QJsonObject second = admit(janus, 1001, QStringLiteral("u2"));
    QCOMPARE(first.value("available"), QJsonValue(true));
    QCOMPARE(first.value("room").toInteger(), 1001);
    QCOMPARE(first.value("url").toString(), janus.url());
    QVERIFY(first.value("token").toString().size() >= 32);
    QVERIFY(first.value("token") != second.value("token")); // one per participant
    QVERIFY(first.value("id") != second.value("id"));

    // Dead twice within a minute: given up.
    QSignalSpy lost(&janus, &JanusSupervisor::lost);
    qint64 killed = 0;
    for (int death = 0; death < 2; ++death) {
        QTRY_VERIFY_WITH_TIMEOUT(janus.ready() && janus.pid() != killed, 10000);
        killed = janus.pid();
        QVERIFY(::kill(pid_t(killed), SIGKILL) == 0);
    }
    QVERIFY(lost.wait(5000));
    QVERIFY(!janus.ready());
    QCOMPARE(admit(janus, 1001, QStringLiteral("u3")).value("available"), QJsonValue(false));
}

void TestJanusSupervisor::restartsJanusOnceWithItsRooms()
{
    if (!janusInstalled())
        QSKIP("Janus is not installed");
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QVERIFY(started(janus));
    const QJsonObject admitted = admit(janus, 1001, QStringLiteral("u1"));
    QCOMPARE(admitted.value("available"), QJsonValue(true));
    const qint64 first = janus.pid();
    QSignalSpy lost(&janus, &JanusSupervisor::lost);
    QVERIFY(::kill(pid_t(first), SIGKILL) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(janus.ready() && janus.pid() != first, 10000);
    QCOMPARE(janus.url(), admitted.value("url").toString());
    // The participant admitted before joins the room again with the token it holds.
    const JanusProbe probe(data.path());
    const auto joins = [&probe, &admitted] {
        return probe
            .roomRequest(probe.attachToVideoRoom(), {{"request", "join"},
                                                     {"ptype", "publisher"},
                                                     {"room", 1001},
                                                     {"token", admitted.value("token")}})
            .value("error")
            .toString();
    };
    QTRY_COMPARE(joins(), QString());
    QCOMPARE(lost.size(), 0);
}

void TestJanusSupervisor::keepsARoomEnteredAgainAtOnce()
{
    if (!janusInstalled())
        QSKIP("Janus is not installed");
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QVERIFY(started(janus));
    QCOMPARE(admit(janus, 1001, QStringLiteral("u0")).value("available"), QJsonValue(true));
    const JanusProbe probe(data.path());
    const QString handle = probe.attachToVideoRoom();
    // The last one leaves and another enters at once: the room's destroy and its next create
    // leave together, round after round; the room must be there for whoever entered.
    for (int round = 1; round <= 20; ++round) {
        janus.release(1001, QStringLiteral("u%1").arg(round - 1), true);
        const QJsonObject admitted = admit(janus, 1001, QStringLiteral("u%1").arg(round));
        QCOMPARE(admitted.value("available"), QJsonValue(true));
        QVERIFY2(probe.roomRequest(handle, {{"request", "exists"}, {"room", 1001}})
                     .value("exists")
                     .toBool(),
                 qPrintable(QStringLiteral("gone in round %1").arg(round)));
    }
}

void TestJanusSupervisor::tokenJanusDidNotTakeIsNoAdmission()
{
    if (!janusInstalled())
        QSKIP("Janus is not installed");
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QVERIFY(started(janus));
    QCOMPARE(admit(janus, 1001, QStringLiteral("u1")).value("available"), QJsonValue(true));
    // A Janus that stops answering takes no token: the second one is told there is no media.
    const auto pid = pid_t(janus.pid());
    QVERIFY(::kill(pid, SIGSTOP) == 0);
    const auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
    QCOMPARE(admit(janus, 1001, QStringLiteral("u2")).value("available"), QJsonValue(false));
}

/// A room's publishers: every participant's camera and a share each, with room to spare for
/// those a dropped connection leaves behind for a while.
void TestJanusSupervisor::roomsTakeEverySeatsPublishers()
{
    ORVALE_NEEDS(janusInstalled() ? QString() : QStringLiteral("Janus is not installed"));
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QVERIFY(started(janus));
    const QJsonObject first = admit(janus, 2001, QStringLiteral("u1"), 20);
    const QJsonObject second = admit(janus, 2001, QStringLiteral("u2"), 20);
    QCOMPARE(second.value("available"), QJsonValue(true));
    QSet<qint64> ids;
    for (const QJsonObject &media : {first, second})
        for (const char *field : {"id", "shareId"}) {
            const qint64 id = media.value(QLatin1String(field)).toInteger();
            QVERIFY(id > 0 && id < (qint64(1) << 53)); // exact in every JSON reader
            ids.insert(id);
        }
    QCOMPARE(ids.size(), 4);
    QFile plugin(data.filePath(QStringLiteral("janus/janus.plugin.videoroom.jcfg")));
    QVERIFY(plugin.open(QIODevice::ReadOnly));
    const QString adminKey = QString::fromUtf8(plugin.readAll()).section(u'"', 1, 1);
    const JanusProbe probe(data.path());
    const QJsonArray rooms =
        probe.roomRequest(probe.attachToVideoRoom(), {{"request", "list"}, {"admin_key", adminKey}})
            .value("list")
            .toArray();
    QCOMPARE(rooms.size(), 1);
    const int publishers = rooms[0].toObject().value("max_publishers").toInt();
    QCOMPARE(publishers, JanusSupervisor::publishersFor(20));
    QVERIFY(publishers >= 2 * 20);
}

/// Someone holds a participant's publisher id at the relay: kicked out when the participant
/// says so, but not when anyone else does.
void TestJanusSupervisor::takenIdIsFreedForItsOwnerOnly()
{
    ORVALE_NEEDS(janusInstalled() ? QString() : QStringLiteral("Janus is not installed"));
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    QVERIFY(started(janus));
    const QJsonObject owner = admit(janus, 2001, QStringLiteral("u1"), 20);
    const QJsonObject squatter = admit(janus, 2001, QStringLiteral("u2"), 20);
    const JanusProbe probe(data.path());
    const auto joinAs = [&probe](const QJsonObject &media, qint64 id) {
        return probe
            .roomRequest(probe.attachToVideoRoom(), {{"request", "join"},
                                                     {"ptype", "publisher"},
                                                     {"room", 2001},
                                                     {"id", id},
                                                     {"token", media.value("token")}})
            .value("error_code")
            .toInt();
    };
    const qint64 id = owner.value("id").toInteger();
    QCOMPARE(joinAs(squatter, id), 0);
    QCOMPARE(joinAs(owner, id), 436); // "ID exists"
    QVERIFY(!janus.evict(2001, QStringLiteral("u2"), id));
    QVERIFY(!janus.evict(2001, QStringLiteral("u1"), squatter.value("id").toInteger()));
    QCOMPARE(joinAs(owner, id), 436);
    QVERIFY(janus.evict(2001, QStringLiteral("u1"), id));
    QTRY_VERIFY(probe.inRoom(2001).isEmpty()); // the one who held it is out
    QCOMPARE(joinAs(owner, id), 0);
}

void TestJanusSupervisor::addressFacts_data()
{
    QTest::addColumn<QString>("interfaceAddress");
    QTest::addColumn<QString>("publicAddress");
    QTest::addColumn<QByteArray>("nat"); // empty: no mapping
    QTest::newRow("reached where it listens")
        << QStringLiteral("198.51.100.7") << QStringLiteral("198.51.100.7") << QByteArray();
    QTest::newRow("behind a 1:1 NAT") << QStringLiteral("10.0.0.7") << QStringLiteral("203.0.113.7")
                                      << QByteArray("nat_1_1_mapping = \"203.0.113.7\"");
    QTest::newRow("public address unknown")
        << QStringLiteral("10.0.0.7") << QString() << QByteArray();
}

void TestJanusSupervisor::addressFacts()
{
    QFETCH(QString, interfaceAddress);
    QFETCH(QString, publicAddress);
    QFETCH(QByteArray, nat);
    if (!janusInstalled())
        QSKIP("Janus is not installed");
    QTemporaryDir data;
    JanusSupervisor janus(QStringLiteral("janus"), data.path());
    janus.setNetwork({interfaceAddress, publicAddress, 31000, 31999});
    QVERIFY(started(janus));
    QFile core(data.filePath(QStringLiteral("janus/janus.jcfg")));
    QVERIFY(core.open(QIODevice::ReadOnly));
    const QByteArray text = core.readAll();
    QVERIFY(text.contains("rtp_port_range = \"31000-31999\""));
    QCOMPARE(text.contains("nat_1_1_mapping"), !nat.isEmpty());
    if (!nat.isEmpty())
        QVERIFY(text.contains(nat));
    QTRY_VERIFY_WITH_TIMEOUT(janus.ready(), 10000); // Janus takes it
}

QTEST_GUILESS_MAIN(TestJanusSupervisor)
#include "tst_janussupervisor.moc"
