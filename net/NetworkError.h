#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>

/// Why a request failed. Failures of status or content type carry the reply, so that a
/// portal fault can be read from its body.
struct NetworkError
{
    enum class Kind {
        Transport,   ///< no HTTP reply: connection refused, host not found, TLS, ...
        Status,      ///< a status outside 200 to 299
        ContentType, ///< an unacceptable MIME type
        Malformed,   ///< a reply body that could not be read
        Cancelled,   ///< cancelNetworkOperations()
        Timeout,     ///< no complete reply within the request's limit
        TooLarge,    ///< a reply longer than NetWork::maxReplyBytes, broken off
    };

    Kind kind = Kind::Transport;
    QNetworkReply::NetworkError code = QNetworkReply::NoError;
    int httpStatus = 0;
    QString mimeType;
    QByteArray body;
    QString message;

    bool isCancelled() const { return kind == Kind::Cancelled; }
};
