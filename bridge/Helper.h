#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>

/// The two text protocols carried over the conferencing service: remote commands in chat
/// messages, and invitation links with their validity stamps.
class Helper final
{
public:
    static QString errorNotOurs();
    static QString errorExpired();

    /// The invitation link of the signed-in user's own room, with a fresh validity stamp.
    static QString getLinkStr();
    /// Base64 of the expiry instant in milliseconds, followed by two random digits.
    static QString getPeriodTime();
    static QString getPeriodTime(const QDateTime &now, int periodHours);
    /// {"key", "portal", "pin"}, or {"error": user text}.
    static QVariantMap analyzingURLStr(const QString &link);
    static QVariantMap analyzingURLStr(const QString &link, const QDateTime &now);
    /// Whether `message` is a command whose sender mark the sender's URI contains.
    static bool isCommandString(const QString &message, const QString &uri);
    /// The part after the last "#", split at every "&".
    static QStringList getCommandType(const QString &message);
    /// "#TRQCOMMAND#<mark>#<payload>"
    static QString commandString(const QString &senderMark, const QString &payload);
    /// The room key of a room link: the text after its last "=".
    static QString roomKeyOf(const QString &roomUrl);
};
