#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

/// A named application notification with its object and user info.
struct Notification
{
    QString name;
    QVariant object;
    QVariantMap userInfo;
};

Q_DECLARE_METATYPE(Notification)
