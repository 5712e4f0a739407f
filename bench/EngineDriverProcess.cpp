#include "bench/EngineDriverProcess.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcessEnvironment>
#include <QTest>

EngineDriverProcess::EngineDriverProcess(const QString &stampFile)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!stampFile.isEmpty())
        environment.insert(QStringLiteral("ORVALE_FRAME_STAMPS"), stampFile);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

EngineDriverProcess::~EngineDriverProcess()
{
    if (!running())
        return;
    tell(QStringLiteral("logout"));
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
}

bool EngineDriverProcess::start(const QStringList &arguments)
{
    const QStringList line =
        m_launcher + QStringList{QStringLiteral(ORVALE_ENGINE_DRIVER)} + arguments;
    m_process.start(line.first(), line.mid(1));
    return m_process.waitForStarted() && waitFor("ready");
}

void EngineDriverProcess::tell(const QString &line)
{
    m_process.write((line + u'\n').toUtf8());
}

bool EngineDriverProcess::waitFor(const QByteArray &prefix)
{
    return QTest::qWaitFor(
        [&] {
            m_output += m_process.readAllStandardOutput();
            return m_output.startsWith(prefix) || m_output.contains(QByteArray('\n' + prefix));
        },
        20000);
}

QByteArray EngineDriverProcess::ask(const QString &command, const QByteArray &prefix)
{
    m_output += m_process.readAllStandardOutput();
    m_output.clear(); // only an answer to this command counts
    tell(command);
    if (!waitFor(prefix))
        return {};
    const qsizetype start =
        m_output.startsWith(prefix) ? 0 : m_output.indexOf(QByteArray('\n' + prefix)) + 1;
    return m_output.mid(start).split('\n').value(0);
}

bool EngineDriverProcess::hasIceAddress()
{
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol)
            return true;
    return false;
}
