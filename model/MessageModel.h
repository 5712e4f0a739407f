#pragma once

#include "model/RootModel.h"

/// One received chat message.
class MessageModel final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MessageModel)
    Q_PROPERTY(QString time MEMBER time)
    Q_PROPERTY(QString userName MEMBER userName)
    Q_PROPERTY(QString ownName MEMBER ownName)
    Q_PROPERTY(QString uri MEMBER uri)
    Q_PROPERTY(QString msg MEMBER msg)
    Q_PROPERTY(qint32 readType MEMBER readType)
    Q_PROPERTY(QString conferenceName MEMBER conferenceName)
    Q_PROPERTY(bool hideTime MEMBER hideTime)
    Q_PROPERTY(qint32 type MEMBER type)
    Q_PROPERTY(QString msgType MEMBER msgType)
    Q_PROPERTY(QString account MEMBER account)

public:
    explicit MessageModel(QObject *parent = nullptr);

    QString time;
    QString userName;
    QString ownName;
    QString uri;
    QString msg;
    qint32 readType = 0;
    QString conferenceName;
    bool hideTime = false;
    qint32 type = 0;
    QString msgType;
    QString account;
};

Q_DECLARE_METATYPE(std::shared_ptr<MessageModel>)
