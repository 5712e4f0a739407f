#include "model/MessageModel.h"

MessageModel::MessageModel(QObject *parent)
    : RootModel(parent)
{}
