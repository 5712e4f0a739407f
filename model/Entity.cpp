#include "model/Entity.h"

Entity::Entity(QObject *parent)
    : RootModel(parent)
{}

std::shared_ptr<Entity> Entity::entityWithDict(const QVariantMap &dictionary)
{
    auto entity = std::make_shared<Entity>();
    const QVariantMap inner = dictionary.value(QStringLiteral("Entity")).toMap();
    entity->setValuesForKeysWithDictionary(inner);
    const QVariant mode = inner.value(QStringLiteral("RoomMode"));
    if (mode.typeId() == QMetaType::QVariantMap)
        entity->roomMode = RoomMode::roomModeWithDict(mode.toMap());
    return entity;
}

bool Entity::assignRecordField(const QString &key, const QVariantMap &dictionary)
{
    if (key != u"RoomMode")
        return false;
    roomMode = RootModel::fromDictionary<::RoomMode>(dictionary);
    return true;
}
