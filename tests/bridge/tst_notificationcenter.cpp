#include "NotificationCenter.h"

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
    center->addObserver(QStringLiteral("ChangeMicFormNet"), &context, [&](const Notification &n) {
        seen.append(n.name);
        info = n.userInfo;
    });
    center->postNotificationName(QStringLiteral("deviceChange"));
    center->postNotificationName(QStringLiteral("ChangeMicFormNet"), {},
                                 {{QStringLiteral("isMuted"), true}});
    QCOMPARE(seen, QStringList{QStringLiteral("ChangeMicFormNet")}); // at once on the main thread
    QCOMPARE(info.value(QStringLiteral("isMuted")).toBool(), true);
}

void TestNotificationCenter::postsFromAnotherThreadArriveOnMainInOrder()
{
    NotificationCenter *center = NotificationCenter::defaultCenter();
    QObject context;
    QList<int> order;
    bool allOnMain = true;
    center->addObserver(QStringLiteral("RoomLinkError"), &context, [&](const Notification &n) {
        allOnMain = allOnMain && QThread::currentThread() == qApp->thread();
        order.append(n.object.toMap().value(QStringLiteral("reason")).toInt());
    });
    std::unique_ptr<QThread> thread(QThread::create([center] {
        for (int i = 0; i < 50; ++i)
            center->postNotificationName(QStringLiteral("RoomLinkError"),
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
        center->addObserver(QStringLiteral("JoinConferenceSuccess"), &context,
                            [&](const Notification &) { ++calls; });
        center->postNotificationName(QStringLiteral("JoinConferenceSuccess"));
        QCOMPARE(calls, 1);
    }
    center->postNotificationName(QStringLiteral("JoinConferenceSuccess"));
    QCOMPARE(calls, 1);

    QObject kept;
    const auto connection = center->addObserver(QStringLiteral("JoinConferenceSuccess"), &kept,
                                                [&](const Notification &) { ++calls; });
    center->removeObserver(connection);
    center->postNotificationName(QStringLiteral("JoinConferenceSuccess"));
    QCOMPARE(calls, 1);
}

QTEST_GUILESS_MAIN(TestNotificationCenter)
#include "tst_notificationcenter.moc"
