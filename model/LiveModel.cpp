#include "model/LiveModel.h"

LiveModel::LiveModel(QObject *parent)
    : RootModel(parent)
{}
