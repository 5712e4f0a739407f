#include "model/RoomMode.h"

RoomMode::RoomMode(QObject *parent)
    : RootModel(parent)
{}

std::shared_ptr<RoomMode> RoomMode::roomModeWithDict(const QVariantMap &dictionary)
{
    auto mode = std::make_shared<RoomMode>();
    mode->setValuesForKeysWithDictionary(dictionary);
    return mode;
}
