#include "bridge/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

NotificationCenter::NotificationCenter() = default;

NotificationCenter *NotificationCenter::defaultCenter()
{
    static NotificationCenter *center = [] {
        auto *created = new NotificationCenter;
        if (auto *app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        return created;
    }();
    return center;
}

QMetaObject::Connection NotificationCenter::addObserver(const QString &name, const QObject *context,
                                                        Observer observer)
{
    return connect(this, &NotificationCenter::posted, context,
                   [name, observer = std::move(observer)](const Notification &notification) {
                       if (notification.name == name)
                           observer(notification);
                   });
}

void NotificationCenter::removeObserver(const QMetaObject::Connection &connection)
{
    disconnect(connection);
}

void NotificationCenter::postNotificationName(const QString &name, const QVariant &object,
                                              const QVariantMap &userInfo)
{
    Notification notification{name, object, userInfo};
    if (QThread::currentThread() == thread()) {
        Q_EMIT posted(notification);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, notification] { Q_EMIT posted(notification); }, Qt::QueuedConnection);
}
