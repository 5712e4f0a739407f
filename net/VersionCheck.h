#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>

class NetWork;

/// The version service on the company's update host: the request, the reading of its reply
/// and the update prompt text the login reply brings.
class VersionCheck final
{
public:
    struct Prompt
    {
        QString title;
        QString message;
    };
    struct Release
    {
        bool answered = false; ///< the reply holds "return"
        QUrl url;              ///< only http and https addresses; empty otherwise
        qint64 systemTime = 0; ///< the leading integer of "systemTime"
    };

    /// Channels below this one are never told about updates by the automatic check.
    static constexpr int firstUpdateChannel = 3;

    /// "http://<update host>:8080/quilber/webservice/UserService/getVersion"
    static QString versionAddress();
    /// The version request, not yet started.
    static NetWork *versionRequest();
    static Release releaseFromReply(const QVariant &reply);
    /// The download address when it is an http or https one; anything else is logged and
    /// gives an empty address, because the reply arrives over plain HTTP.
    static QUrl browsableUrl(const QString &text);
    /// "\n" (backslash and n) becomes a line break; the first piece before "&" is the title and
    /// the last the message.
    static Prompt promptText(const QString &upgradeContent);
    /// The user's update channel: the leading integer of `version` of the signed-in user, so
    /// that "3.0" is channel 3.
    static qint64 userChannel();
};
