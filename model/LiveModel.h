#pragma once

#include "model/RootModel.h"

#include <QStringList>

/// One live broadcast of the company's live list.
class LiveModel final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveModel)
    Q_PROPERTY(QString channelId MEMBER channelId)
    Q_PROPERTY(QString hlsAddress MEMBER hlsAddress)
    Q_PROPERTY(qint32 liveFlag MEMBER liveFlag)
    Q_PROPERTY(QString liveId MEMBER liveId)
    Q_PROPERTY(QStringList liveImgs MEMBER liveImgs)
    Q_PROPERTY(QString liveName MEMBER liveName)
    Q_PROPERTY(QString liveStart MEMBER liveStart)
    Q_PROPERTY(QString liveEnd MEMBER liveEnd)
    Q_PROPERTY(QString onLineNum MEMBER onLineNum)
    Q_PROPERTY(QString onlineMax MEMBER onlineMax)
    Q_PROPERTY(QString rtmpAddress MEMBER rtmpAddress)
    Q_PROPERTY(QString liveRemark MEMBER liveRemark)
    Q_PROPERTY(qint64 timestamp MEMBER timestamp)

public:
    explicit LiveModel(QObject *parent = nullptr);

    QString channelId;
    QString hlsAddress;
    qint32 liveFlag = 0;
    QString liveId;
    QStringList liveImgs;
    QString liveName;
    QString liveStart;
    QString liveEnd;
    QString onLineNum;
    QString onlineMax;
    QString rtmpAddress;
    QString liveRemark;
    qint64 timestamp = 0;
};
