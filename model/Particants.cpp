#include "model/Particants.h"

Particants::Particants(QObject *parent)
    : RootModel(parent)
{}
