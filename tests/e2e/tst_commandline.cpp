#include "app/LinkServer.h"
#include "tests/support/TestHome.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>

/// `orvale` run as a process with its command line: help and version answer and end, also
/// while another instance runs; anything else that is not a link is refused.
class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void answers_data();
    void answers();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestCommandLine::initTestCase()
{
    m_home = std::make_unique<TestHome>();
}

void TestCommandLine::answers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("output"); // expected in the standard output, or the one error line
    const QString version = QStringLiteral("orvale " ORVALE_VERSION "\n");
    for (const bool running : {false, true}) {
        const char *const instance = running ? ", instance running" : "";
        const auto row = [instance](const char *name) {
            return &QTest::newRow(
                qPrintable(QString::fromLatin1(name) + QString::fromLatin1(instance)));
        };
        *row("--help") << QStringList{QStringLiteral("--help")} << true
                       << QStringLiteral("--version");
        *row("-h") << QStringList{QStringLiteral("-h")} << true << QStringLiteral("[link]");
        *row("--version") << QStringList{QStringLiteral("--version")} << true << version;
        *row("-v") << QStringList{QStringLiteral("-v")} << true << version;
        *row("help wins over the rest")
            << QStringList{QStringLiteral("--bogus"), QStringLiteral("--help")} << true
            << QStringLiteral("Usage:");
        *row("unknown option") << QStringList{QStringLiteral("--bogus")} << false
                               << QStringLiteral("bogus");
        *row("Qt's own option") << QStringList{QStringLiteral("-platform"), QStringLiteral("xcb")}
                                << false << QStringLiteral("platform");
        *row("a word") << QStringList{QStringLiteral("hello")} << false
                       << QStringLiteral("'hello'");
        *row("a web link") << QStringList{QStringLiteral("https://example.com/join?key=a")} << false
                           << QStringLiteral("https://example.com/join?key=a");
        *row("a file") << QStringList{QStringLiteral("/etc/passwd")} << false
                       << QStringLiteral("/etc/passwd");
        *row("two links") << QStringList{QStringLiteral("orvale://a?key=1"),
                                         QStringLiteral("orvale://b?key=2")}
                          << false << QStringLiteral("One link at a time");
        *row("line breaks in the argument") << QStringList{QStringLiteral("a\nb\rc\x1b[2J")}
                                            << false << QStringLiteral("a?b?c?[2J");
    }
}

void TestCommandLine::answers()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, accepted);
    QFETCH(QString, output);
    const bool running = QString::fromLatin1(QTest::currentDataTag()).endsWith(u"running");
    // Stands in for a running Orvale: it listens where a second process hands over, and never
    // accepts, so that whatever reaches it stays queued.
    QLocalServer instance;
    if (running) {
        QLocalServer::removeServer(LinkServer::serverName());
        QVERIFY(instance.listen(LinkServer::serverName()));
    }

    QProcess orvale;
    // No display at all: answering must not need one.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    orvale.setProcessEnvironment(environment);
    orvale.start(QStringLiteral(ORVALE_CLIENT), arguments);
    QVERIFY(orvale.waitForFinished(15000));
    QCOMPARE(orvale.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromLocal8Bit(orvale.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(orvale.readAllStandardError());
    if (accepted) {
        QCOMPARE(orvale.exitCode(), 0);
        if (output.endsWith(u'\n'))
            QCOMPARE(out, output); // the whole output
        else
            QVERIFY2(out.contains(output), qPrintable(out));
        QVERIFY2(err.isEmpty(), qPrintable(err));
    } else {
        QVERIFY(orvale.exitCode() != 0);
        QVERIFY2(out.isEmpty(), qPrintable(out));
        QVERIFY2(err.startsWith(u"orvale: ") && err.count(u'\n') == 1 && err.endsWith(u'\n'),
                 qPrintable(err));
        QVERIFY2(err.contains(output), qPrintable(err));
    }
    // Nothing was handed to the running instance, not even a request to come forward: the
    // process has ended, so any connection it made is in the instance's queue by now.
    if (running && instance.waitForNewConnection(0)) {
        QLocalSocket *handedOver = instance.nextPendingConnection();
        handedOver->waitForReadyRead(1000);
        QFAIL(qPrintable(QStringLiteral("handed over: ") +
                         QString::fromUtf8(handedOver->readAll()).trimmed()));
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
