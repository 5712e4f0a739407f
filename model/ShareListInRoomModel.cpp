#include "model/ShareListInRoomModel.h"

ShareListInRoomModel::ShareListInRoomModel(QObject *parent)
    : RootModel(parent)
{}
