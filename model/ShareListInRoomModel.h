#pragma once

#include "model/RootModel.h"

/// One share that another participant presents in the conference.
class ShareListInRoomModel final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareListInRoomModel)
    Q_PROPERTY(QString remoteAppName MEMBER remoteAppName)

public:
    explicit ShareListInRoomModel(QObject *parent = nullptr);

    QString remoteAppName;
};
