#include "app/LinkServer.h"
#include "tests/support/TestHome.h"

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

/// Links handed from a second `orvale <link>` process to the running one.
class TestLinkHandOver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void oneInstanceListens();
    void anotherProfileRunsBeside();
    void secondProcessHandsItsLinkOver();
    void junkIsDropped();
    void staleSocketIsTakenOver();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestLinkHandOver::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(LinkServer::serverName().startsWith(m_home->path())); // private to this test
}

void TestLinkHandOver::oneInstanceListens()
{
    LinkServer first;
    QVERIFY(first.listen());
    LinkServer second;
    QVERIFY(!second.listen());
    QSignalSpy received(&first, &LinkServer::linkReceived);
    QVERIFY(LinkServer::sendToRunningInstance(QStringLiteral("orvale://join?key=a&pin=1")));
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.first().first().toString(), QStringLiteral("orvale://join?key=a&pin=1"));
}

void TestLinkHandOver::anotherProfileRunsBeside()
{
    LinkServer first;
    QVERIFY(first.listen());
    QSignalSpy handed(&first, &LinkServer::linkReceived);
    // A second account on the same desktop: a home (and settings) of its own.
    const QTemporaryDir otherHome;
    const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", otherHome.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (otherHome.path() + QStringLiteral("/.config")).toUtf8());
    QProcess second;
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QStringLiteral(ORVALE_CLIENT), {});
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", config);
    QVERIFY(second.waitForStarted());
    // It stays with a window of its own instead of bringing the first one forward.
    QVERIFY2(!second.waitForFinished(3000), second.readAll().right(2000).constData());
    QCOMPARE(handed.size(), 0);
    second.kill();
    second.waitForFinished();
}

void TestLinkHandOver::secondProcessHandsItsLinkOver()
{
    LinkServer running;
    QVERIFY(running.listen());
    QSignalSpy received(&running, &LinkServer::linkReceived);
    const QString link = QStringLiteral("orvale://join?key=S2V5&portal=cG9ydGFs&pin=&period=");
    QProcess second;
    second.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    second.start(QStringLiteral(ORVALE_CLIENT), {link});
    QVERIFY(second.waitForFinished(15000)); // it hands over and ends, no window of its own
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.first().first().toString(), link);
}

void TestLinkHandOver::junkIsDropped()
{
    LinkServer running;
    QVERIFY(running.listen());
    QSignalSpy received(&running, &LinkServer::linkReceived);
    QLocalSocket socket;
    socket.connectToServer(LinkServer::serverName());
    QVERIFY(socket.waitForConnected(2000));
    socket.write(QByteArray(20000, 'x')); // no line end, far too long
    socket.flush();
    QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(received.size(), 0);
}

void TestLinkHandOver::staleSocketIsTakenOver()
{
    // What a crashed instance leaves behind: the name exists, nobody answers.
    QFile stale(LinkServer::serverName());
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    LinkServer next;
    QVERIFY(next.listen());
    QSignalSpy received(&next, &LinkServer::linkReceived);
    QVERIFY(LinkServer::sendToRunningInstance(QStringLiteral("orvale://x?key=1")));
    QTRY_COMPARE(received.size(), 1);
}

QTEST_MAIN(TestLinkHandOver)
#include "tst_linkhandover.moc"
