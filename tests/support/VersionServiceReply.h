#pragma once

#include <QByteArray>
#include <QString>

/// Replies of the version service, as the portal's SOAP endpoint sends them.
class VersionServiceReply final
{
public:
    /// The newest release: its download address `url` and its build stamp.
    static QByteArray release(const QString &url, const QString &stamp);
};
