#include "ConferenceDetails.h"

#include <QMutex>
#include <QStringList>
#include <QTest>

namespace {

QMutex mutex;
QStringList lines;
QtMessageHandler previousHandler = nullptr;

void catchDetails(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(u"conference details: ")) {
        QMutexLocker lock(&mutex);
        lines.append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void ConferenceDetails::catchFromLog()
{
    previousHandler = qInstallMessageHandler(catchDetails);
}

QString ConferenceDetails::ask(const std::function<void()> &request, int timeoutMs)
{
    qsizetype seen;
    {
        QMutexLocker lock(&mutex);
        seen = lines.size();
    }
    request();
    QString details;
    const bool answered = QTest::qWaitFor(
        [&] {
            QMutexLocker lock(&mutex);
            details = lines.value(seen);
            return !details.isEmpty();
        },
        timeoutMs);
    return answered ? details : QString();
}
