#include "services/JanusSupervisor.h"
#include "tests/support/JanusProbe.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
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

private:
    static QJsonObject admit(JanusSupervisor &janus, qint64 room, const QString &tag)
    {
        QJsonObject answer;
        janus.admit(room, tag, [&answer](const QJsonObject &media) { answer = media; });
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

QTEST_GUILESS_MAIN(TestJanusSupervisor)
#include "tst_janussupervisor.moc"
