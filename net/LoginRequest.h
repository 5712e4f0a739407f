#pragma once

#include "net/LoginReply.h"

#include <QString>
#include <QVariant>

class NetWork;

/// The company login web service call "loginJson": addresses, envelope and reply.
class LoginRequest final
{
public:
    enum class Attempt { Plain, Secure };

    /// "http://<server>:8080" or "https://<server>:9090".
    static QString baseAddress(Attempt attempt, const QString &server);
    /// The request address of an attempt under its base address.
    static QString requestAddress(Attempt attempt, const QString &baseAddress);
    /// The SOAP 1.1 envelope; every value is escaped as XML character data.
    static QString envelope(const QString &account, const QString &userName,
                            const QString &password, const QString &server);
    /// "Basic " + Base64 of "user:password".
    static QString authorization(const QString &userName, const QString &password);
    /// A ready request for one attempt; set the handlers, then startRequest().
    static NetWork *create(Attempt attempt, const QString &server, const QString &account,
                           const QString &userName, const QString &password);
    /// Reads the converted loginJsonResponse element.
    static LoginReply decodeReply(const QVariant &response);
};
