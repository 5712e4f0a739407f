#include "bridge/NotificationCenter.h"

#include <QTest>
#include <QThread>

#include <memory>

class TestNotificationCenter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deliversByName();
    void postsFromAnotherThreadArriveOnMainInOrder();
    void observerDiesWithContext();
};

void TestNotificationCenter::deliversByName()
{
    NotificationCenter *center = NotificationCenter::defaultCenter();
    QObject context;
    QStringList seen;
    QVariantMap info;
    center->addObserver(NotificationCenter::changeMicFormNet, &context, [&](const Notification &n) {
        seen.append(n.name);
        info = n.userInfo;
    });
    center->postNotificationName(NotificationCenter::deviceChange);
    center->postNotificationName(NotificationCenter::changeMicFormNet, {},
                                 {{QStringLiteral("isMuted"), true}});
    QCOMPARE(seen, QStringList{NotificationCenter::changeMicFormNet}); // at once on the main thread
    QCOMPARE(info.value(QStringLiteral("isMuted")).toBool(), true);
}

void TestNotificationCenter::postsFromAnotherThreadArriveOnMainInOrder()
{
    NotificationCenter *center = NotificationCenter::defaultCenter();
    QObject context;
    QList<int> order;
    bool allOnMain = true;
    center->addObserver(NotificationCenter::roomLinkError, &context, [&](const Notification &n) {
        allOnMain = allOnMain && QThread::currentThread() == qApp->thread();
        order.append(n.object.toMap().value(QStringLiteral("reason")).toInt());
    });
    std::unique_ptr<QThread> thread(QThread::create([center] {
        for (int i = 0; i < 50; ++i)
            center->postNotificationName(NotificationCenter::roomLinkError,
                                         QVariantMap{{QStringLiteral("reason"), i}});
    }));
    thread->start();
    QVERIFY(thread->wait(5000));
    QTRY_COMPARE(order.size(), 50);
    QVERIFY(allOnMain);
    for (int i = 0; i < 50; ++i)
        QCOMPARE(order[i], i);
}

void TestNotificationCenter::observerDiesWithContext()
{
    NotificationCenter *center = NotificationCenter::defaultCenter();
    int calls = 0;
    {
        QObject context;
        center->addObserver(NotificationCenter::joinConferenceSuccess, &context,
                            [&](const Notification &) { ++calls; });
        center->postNotificationName(NotificationCenter::joinConferenceSuccess);
        QCOMPARE(calls, 1);
    }
    center->postNotificationName(NotificationCenter::joinConferenceSuccess);
    QCOMPARE(calls, 1);

    QObject kept;
    const auto connection = center->addObserver(NotificationCenter::joinConferenceSuccess, &kept,
                                                [&](const Notification &) { ++calls; });
    center->removeObserver(connection);
    center->postNotificationName(NotificationCenter::joinConferenceSuccess);
    QCOMPARE(calls, 1);
}

QTEST_GUILESS_MAIN(TestNotificationCenter)
#include "tst_notificationcenter.moc"
