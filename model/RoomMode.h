#pragma once

#include "model/RootModel.h"

/// The room settings nested in a directory entry.
class RoomMode final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RoomMode)
    Q_PROPERTY(QString hasModeratorPIN MEMBER hasModeratorPIN)
    Q_PROPERTY(QString hasPIN MEMBER hasPIN)
    Q_PROPERTY(QString isLocked MEMBER isLocked)
    Q_PROPERTY(QString roomURL MEMBER roomURL)

public:
    Q_INVOKABLE explicit RoomMode(QObject *parent = nullptr);

    static std::shared_ptr<RoomMode> roomModeWithDict(const QVariantMap &dictionary);

    QString hasModeratorPIN;
    QString hasPIN;
    QString isLocked;
    QString roomURL;
};
