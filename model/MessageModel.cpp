#include "MessageModel.h"

MessageModel::MessageModel(QObject *parent)
    : RootModel(parent)
{}
