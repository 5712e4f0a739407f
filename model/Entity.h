#pragma once

#include "model/RoomMode.h"

/// One directory entry of the portal: a member or a room.
class Entity final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Entity)
    Q_PROPERTY(QString entityID MEMBER entityID)
    Q_PROPERTY(QString ownerID MEMBER ownerID)
    Q_PROPERTY(QString displayName MEMBER displayName)
    Q_PROPERTY(QString emailAddress MEMBER emailAddress)
    Q_PROPERTY(QString MemberStatus MEMBER MemberStatus)
    Q_PROPERTY(QString RoomStatus MEMBER RoomStatus)
    Q_PROPERTY(QString extension MEMBER extension)
    Q_PROPERTY(QString tenant MEMBER tenant)
    Q_PROPERTY(QString EntityType MEMBER EntityType)
    Q_PROPERTY(QString isInMyContacts MEMBER isInMyContacts)
    Q_PROPERTY(RoomMode *RoomMode READ roomModeRecord)
    Q_PROPERTY(QString sortId MEMBER sortId)
    Q_PROPERTY(quint64 entityIsSearched MEMBER entityIsSearched)

public:
    explicit Entity(QObject *parent = nullptr);

    /// The record under "Entity" of `dictionary`, with its room settings under "RoomMode".
    static std::shared_ptr<Entity> entityWithDict(const QVariantMap &dictionary);

    ::RoomMode *roomModeRecord() const { return roomMode.get(); }

    QString entityID;
    QString ownerID;
    QString displayName;
    QString emailAddress;
    QString MemberStatus;
    QString RoomStatus;
    QString extension;
    QString tenant;
    QString EntityType;
    QString isInMyContacts;
    std::shared_ptr<::RoomMode> roomMode;
    QString sortId;
    quint64 entityIsSearched = 0;

protected:
    bool assignRecordField(const QString &key, const QVariantMap &dictionary) override;
};
