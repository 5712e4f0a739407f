#pragma once

#include "model/RootModel.h"

/// One participant of the current conference.
class Particants final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Particants)
    Q_PROPERTY(QString userName MEMBER userName)
    Q_PROPERTY(QString uri MEMBER uri)
    Q_PROPERTY(QString participantID MEMBER participantID)
    Q_PROPERTY(QString entityID MEMBER entityID)
    Q_PROPERTY(qint32 participantReadType MEMBER participantReadType)
    Q_PROPERTY(qint32 participantRole MEMBER participantRole)
    Q_PROPERTY(qint32 lineType MEMBER lineType)
    Q_PROPERTY(qint32 particantType MEMBER particantType)
    Q_PROPERTY(bool micIsOff MEMBER micIsOff)
    Q_PROPERTY(bool isHideMicBtn MEMBER isHideMicBtn)

public:
    explicit Particants(QObject *parent = nullptr);

    QString userName;
    QString uri;
    QString participantID;
    QString entityID;
    qint32 participantReadType = 0;
    qint32 participantRole = 0;
    qint32 lineType = 0;
    qint32 particantType = 0;
    bool micIsOff = false;
    bool isHideMicBtn = false;
};
