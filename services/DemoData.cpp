#include "services/DemoData.h"

#include "services/ServiceDatabase.h"

#include <QDateTime>

namespace {

struct Person
{
    qint64 id;
    const char *user;
    const char *name;
    const char *presence;
    const char *pin;
    const char *coId;
    int version;
    int userRole;
};

// Passwords are the user name followed by "1234".
const Person people[] = {
    {1001, "demo", "演示用户", "Offline", "", "C001", 3, 1},
    {1002, "alice", "Alice 王丽", "Online", "", "C001", 3, 0},
    {1003, "bob", "Bob 李波", "Offline", "", "C002", 2, 0},
    {1004, "carol", "Carol 张琳", "Busy", "", "C001", 3, 0},
    {1005, "dave", "Dave 陈大卫", "Online", "", "C001", 3, 0},
    {1006, "erin", "Erin 刘怡", "Offline", "", "C001", 3, 0},
    {1007, "frank", "Frank 赵峰", "Busy", "", "C001", 3, 0},
    {1008, "grace", "Grace 孙歌", "Online", "2468", "C001", 3, 0},
};

struct Room
{
    qint64 id;
    const char *name;
    const char *pin;
    int capacity;
    int occupants;
};

const Room rooms[] = {
    {2001, "产品评审室", "1234", 20, 0},
    {2002, "全员大会堂", "", 200, 0},
    {2003, "小会议室", "", 2, 2}, // always full: two seats, both taken
};

bool fill(ServiceDatabase &db)
{
    bool ok = true;
    for (const Person &p : people) {
        DirectoryEntry e;
        e.entityID = p.id;
        e.kind = QStringLiteral("Member");
        e.displayName = QString::fromUtf8(p.name);
        e.emailAddress = QString::fromLatin1(p.user) + QStringLiteral("@orvale.example");
        e.extension = QString::number(p.id);
        e.tenant = QStringLiteral("Default");
        e.presence = QString::fromLatin1(p.presence);
        e.ownerID = p.id;
        e.roomKey = ServiceDatabase::newRoomKey();
        e.pin = QString::fromLatin1(p.pin);
        e.capacity = 50;
        Account a;
        a.userName = QString::fromLatin1(p.user);
        a.entityID = p.id;
        a.coId = QString::fromLatin1(p.coId);
        a.version = p.version;
        a.userRole = p.userRole;
        a.play = 1;
        a.period = 48;
        ok = ok && db.addEntry(e) && db.addAccount(a, a.userName + QStringLiteral("1234"));
    }
    for (const Room &r : rooms) {
        DirectoryEntry e;
        e.entityID = r.id;
        e.kind = QStringLiteral("Room");
        e.displayName = QString::fromUtf8(r.name);
        e.extension = QString::number(r.id);
        e.tenant = QStringLiteral("Default");
        e.presence = QStringLiteral("Online");
        e.ownerID = 1001;
        e.roomKey = ServiceDatabase::newRoomKey();
        e.pin = QString::fromLatin1(r.pin);
        e.capacity = r.capacity;
        e.occupants = r.occupants;
        ok = ok && db.addEntry(e);
    }
    for (qint64 contact : {1002, 1003, 1004, 1005, 1006, 2001, 2002, 2003})
        ok = ok && db.addContact(1001, contact);
    for (qint64 contact : {1001, 1004, 1008})
        ok = ok && db.addContact(1002, contact);

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    constexpr qint64 minute = 60 * 1000;
    Broadcast running;
    running.liveId = QStringLiteral("L1001");
    running.coId = QStringLiteral("C001");
    running.channelId = QStringLiteral("CH01");
    running.liveName = QStringLiteral("年度战略发布会");
    running.liveRemark = QStringLiteral("公司年度战略发布会现场直播。\r\n欢迎全体同事收看。");
    running.startsAt = now - 10 * minute;
    running.endsAt = now + 180 * minute;
    running.onlineMax = 500;
    Broadcast coming;
    coming.liveId = QStringLiteral("L1002");
    coming.coId = QStringLiteral("C001");
    coming.channelId = QStringLiteral("CH02");
    coming.liveName = QStringLiteral("新产品培训");
    coming.startsAt = now + (25 * 60 + 1) * minute + 1000;
    coming.endsAt = coming.startsAt + 90 * minute;
    coming.onlineMax = 200;
    ok = ok && db.addBroadcast(running) && db.addBroadcast(coming);
    db.setMeta(QStringLiteral("demoEpoch"), QString::number(now));
    db.setMeta(QStringLiteral("releaseStamp"), QStringLiteral("20261201"));
    return ok;
}

} // namespace

bool DemoData::load(ServiceDatabase &db)
{
    // All or nothing: half a company would pass for a loaded one at the next start.
    if (!db.transaction())
        return false;
    if (fill(db) && db.commit())
        return true;
    db.rollback();
    return false;
}

void DemoData::keepBroadcastsCurrent(ServiceDatabase &db)
{
    const QString epoch = db.meta(QStringLiteral("demoEpoch"));
    if (epoch.isEmpty())
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    db.shiftBroadcasts(now - epoch.toLongLong());
    db.setMeta(QStringLiteral("demoEpoch"), QString::number(now));
}
