#pragma once

#include <QString>

/// A live broadcast of a company; times in milliseconds since 1970.
struct Broadcast
{
    QString liveId;
    QString coId;
    QString channelId;
    QString liveName;
    QString liveRemark;
    qint64 startsAt = 0;
    qint64 endsAt = 0;
    int onlineMax = 0;
};
