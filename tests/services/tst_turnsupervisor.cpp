#include "services/TurnCredentials.h"
#include "services/TurnSupervisor.h"
#include "tests/support/TestHost.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

/// coturn as the deployment's child: its configuration, and the credentials it takes.
class TestTurnSupervisor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void configurationKeepsRelaysOutside();
    void allocates_data();
    void allocates();
    void restartsTheServer();

private:
    /// Runs the TURN client against the server; its exit status and what it printed.
    QPair<int, QByteArray> client(const QStringList &arguments) const;

    QTemporaryDir m_data;
    ServicesConfig m_config;
    std::unique_ptr<TurnSupervisor> m_turn;
};

namespace {

/// scripts/test installs coturn: there its absence fails rather than skips.
bool coturnInstalled()
{
    const bool found =
        !QStandardPaths::findExecutable(QStringLiteral("turnserver")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("turnutils_uclient")).isEmpty();
    if (!found && qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
        qFatal("coturn is not installed although scripts/setup installs it");
    return found;
}

bool listening(const QString &host, quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(host, port);
    return probe.waitForConnected(200);
}

} // namespace

void TestTurnSupervisor::initTestCase()
{
    if (!coturnInstalled())
        QSKIP("coturn is not installed");
    m_config.dataDir = m_data.path();
    m_config.host = testHost();
    m_config.relayMinPort = 50000;
    m_config.relayMaxPort = 50199;
    m_turn = std::make_unique<TurnSupervisor>(m_config);
    m_turn->setAllowedPeers({m_config.host});
    QString why;
    QVERIFY2(m_turn->start(&why), qPrintable(why));
    QTRY_VERIFY_WITH_TIMEOUT(listening(m_config.host, m_config.turnPort), 10000);
}

QPair<int, QByteArray> TestTurnSupervisor::client(const QStringList &arguments) const
{
    QProcess uclient;
    uclient.setProcessChannelMode(QProcess::MergedChannels);
    uclient.start(QStringLiteral("turnutils_uclient"),
                  QStringList{QStringLiteral("-n"), QStringLiteral("2"), QStringLiteral("-p"),
                              QString::number(m_config.turnPort), QStringLiteral("-L"),
                              m_config.host} +
                      arguments + QStringList{m_config.host});
    if (!uclient.waitForFinished(60000))
        uclient.kill();
    return {uclient.exitCode(), uclient.readAll()};
}

void TestTurnSupervisor::configurationKeepsRelaysOutside()
{
    QFile file(m_turn->configurationFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArrayList lines = file.readAll().split('\n');
    const QByteArray own = m_config.host.toLatin1();
    for (const QByteArray &line : QByteArrayList{
             QByteArray("use-auth-secret"), QByteArray("no-cli"), QByteArray("no-multicast-peers"),
             QByteArray("denied-peer-ip=10.0.0.0-10.255.255.255"),
             QByteArray("denied-peer-ip=127.0.0.0-127.255.255.255"),
             QByteArray("denied-peer-ip=192.168.0.0-192.168.255.255"), "allowed-peer-ip=" + own,
             "listening-ip=" + own, QByteArray("no-tls")})
        QVERIFY2(lines.contains(line), line.constData());
    // The secret is the deployment's, readable by it alone.
    QVERIFY(lines.contains("static-auth-secret=" + TurnSupervisor::secret(m_config.dataDir)));
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFile(m_data.filePath(QStringLiteral("turn/secret"))).permissions() & others,
             QFile::Permissions());
}

void TestTurnSupervisor::allocates_data()
{
    QTest::addColumn<int>("validFor"); // seconds from now; negative: expired
    QTest::addColumn<bool>("rightPassword");
    QTest::addColumn<QString>("peer"); // empty: one client to the other, both through the relay
    QTest::addColumn<bool>("relayed");
    QTest::newRow("valid") << 600 << true << QString() << true;
    QTest::newRow("wrong password") << 600 << false << QString() << false;
    QTest::newRow("expired") << -10 << true << QString() << false;
    QTest::newRow("peer on loopback") << 600 << true << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("peer in a private range") << 600 << true << QStringLiteral("10.1.2.3") << false;
}

void TestTurnSupervisor::allocates()
{
    QFETCH(int, validFor);
    QFETCH(bool, rightPassword);
    QFETCH(QString, peer);
    QFETCH(bool, relayed);
    const QString user =
        QString::number(QDateTime::currentSecsSinceEpoch() + validFor) + QStringLiteral(":u1001");
    const QString password =
        rightPassword ? TurnCredentials::password(TurnSupervisor::secret(m_data.path()), user)
                      : QStringLiteral("not-the-password");
    QStringList arguments{QStringLiteral("-u"), user, QStringLiteral("-w"), password};
    arguments += peer.isEmpty() ? QStringList{QStringLiteral("-y")}
                                : QStringList{QStringLiteral("-e"), peer};
    const auto [status, output] = client(arguments);
    QVERIFY2((status == 0) == relayed, output.right(400).constData());
    if (!peer.isEmpty())
        QVERIFY2(output.contains("403"), output.right(400).constData()); // allocated, then refused
}

void TestTurnSupervisor::restartsTheServer()
{
    const qint64 first = m_turn->pid();
    QVERIFY(first > 0);
    QProcess::execute(QStringLiteral("kill"), {QString::number(first)});
    QTRY_VERIFY_WITH_TIMEOUT(m_turn->pid() > 0 && m_turn->pid() != first, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(listening(m_config.host, m_config.turnPort), 10000);
}

QTEST_GUILESS_MAIN(TestTurnSupervisor)
#include "tst_turnsupervisor.moc"
