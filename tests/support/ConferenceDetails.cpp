#include "tests/support/ConferenceDetails.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QRegularExpression>
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

std::function<bool()> ConferenceDetails::picturesFlow(std::function<void()> request,
                                                      const QString &who, bool flowing)
{
    struct Readings
    {
        qint64 first = -1, last = -1;
        QElapsedTimer still; ///< since the count last changed
    };
    auto readings = std::make_shared<Readings>();
    const QRegularExpression counted(QStringLiteral("camera of \\S*-%1;\\S* (\\d+)").arg(who));
    return [request, flowing, readings, counted] {
        const QString count = counted.match(ask(request)).captured(1);
        if (count.isEmpty())
            return false;
        const qint64 pictures = count.toLongLong();
        if (readings->first < 0 || pictures < readings->last)
            readings->first = pictures;
        if (pictures != readings->last) {
            readings->last = pictures;
            readings->still.start();
        }
        return flowing ? pictures >= readings->first + 10 : readings->still.elapsed() >= 1500;
    };
}
