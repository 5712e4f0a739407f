#include "tests/support/ProcessLines.h"

#include <QProcess>
#include <QTest>

ProcessLines::ProcessLines(QProcess &process)
    : m_process(process)
{}

QString ProcessLines::startingWith(const QString &prefix, int timeoutMs)
{
    return take([&](const QString &line) { return line.startsWith(prefix); }, timeoutMs);
}

QString ProcessLines::containing(const QString &text, int timeoutMs)
{
    return take([&](const QString &line) { return line.contains(text); }, timeoutMs);
}

void ProcessLines::forget()
{
    read();
    m_lines.clear();
}

void ProcessLines::read()
{
    m_pending += m_process.readAllStandardOutput();
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        m_lines.append(QString::fromUtf8(m_pending.left(end)));
        m_pending.remove(0, end + 1);
    }
}

QString ProcessLines::take(const std::function<bool(const QString &)> &wanted, int timeoutMs)
{
    QString found;
    (void)QTest::qWaitFor(
        [&] {
            read();
            for (qsizetype i = 0; i < m_lines.size(); ++i)
                if (wanted(m_lines[i])) {
                    found = m_lines.takeAt(i);
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

void stopDriver(QProcess &driver)
{
    if (driver.state() == QProcess::NotRunning)
        return;
    driver.write("logout\n");
    driver.closeWriteChannel();
    if (!driver.waitForFinished(5000))
        driver.kill();
}
