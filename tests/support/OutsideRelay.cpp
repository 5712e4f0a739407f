#include "tests/support/OutsideRelay.h"

#include <QTest>

#include <csignal>
#include <sys/prctl.h>

OutsideRelay::OutsideRelay(const QString &address, const QStringList &launcher)
    : m_address(address)
    , m_launcher(launcher)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that dies stops the relay, which stops its Janus.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

OutsideRelay::~OutsideRelay()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000))
        kill();
}

bool OutsideRelay::start(QString *error)
{
    const QStringList command =
        m_launcher + QStringList{QStringLiteral(ORVALE_OUTSIDE_RELAY), m_folder.path(), m_address};
    m_process.start(command.first(), command.mid(1));
    QByteArray said;
    const bool answered = QTest::qWaitFor(
        [&] {
            said += m_process.readAllStandardOutput();
            return said.contains('\n') || m_process.state() == QProcess::NotRunning;
        },
        30000);
    const QList<QByteArray> words = said.trimmed().split(' ');
    if (!answered || words.size() != 3 || words.first() != "relay") {
        *error = QStringLiteral("the relay on %1 did not come up: %2")
                     .arg(m_address, QString::fromUtf8(said));
        return false;
    }
    m_url = QString::fromUtf8(words.at(1));
    m_janus = words.at(2).toLongLong();
    return true;
}

QString OutsideRelay::entry() const
{
    return QStringLiteral("%1,%1,%2/secrets").arg(m_url, m_folder.path());
}

void OutsideRelay::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // The relay program first: it would start a Janus that died again.
    m_process.kill();
    m_process.waitForFinished(5000);
    if (m_janus > 0)
        ::kill(pid_t(m_janus), SIGKILL);
}
