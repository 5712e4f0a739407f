#pragma once

#include <QString>

/// A member or a room of the portal's directory. A member's entry is also the member's
/// personal room: its key, PIN and capacity are the room's.
struct DirectoryEntry
{
    qint64 entityID = 0;
    QString kind; ///< "Member" or "Room"
    QString displayName;
    QString emailAddress;
    QString extension;
    QString tenant;
    QString presence; ///< "Online", "Offline" or "Busy"
    qint64 ownerID = 0;
    QString roomKey;
    QString pin;
    int capacity = 0;
    int occupants = 0;
    bool locked = false;
};
