#include "bench/ProcessTime.h"

#include <QDir>
#include <QFile>

double ProcessTime::seconds(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    double total = 0;
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + u'/' + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}
