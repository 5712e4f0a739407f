#pragma once

#include <QHttpServerResponse>

#include <functional>
#include <optional>

class CredentialCheck;
class QHttpServerRequest;
class QObject;
class ServiceDatabase;
struct Account;
struct ServicesConfig;

/// The company login web service: SOAP 1.1 "loginJson".
class LoginEndpoint final
{
public:
    LoginEndpoint(ServiceDatabase &db, const ServicesConfig &config);

    using Reply = std::function<void(QHttpServerResponse &&response)>;

    void setCredentialCheck(const CredentialCheck *check) { m_check = check; }
    /// Answers through `reply`, at once or, for the directory's people, once the directory
    /// has (never after `context` is gone).
    void handle(const QHttpServerRequest &request, QObject *context, const Reply &reply) const;

private:
    QByteArray userRecord(const Account &account) const;
    QHttpServerResponse answer(const std::optional<Account> &account) const;

    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
    const CredentialCheck *m_check = nullptr;
};
