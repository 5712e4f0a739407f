#pragma once

#include <QHttpServerResponse>

#include <functional>
#include <optional>

class QHttpServerRequest;
class QObject;
class ServiceDatabase;
class SignInGate;
struct Account;
struct ServicesConfig;

/// The company login web service: SOAP 1.1 "loginJson".
class LoginEndpoint final
{
public:
    LoginEndpoint(ServiceDatabase &db, const ServicesConfig &config);

    /// Called with the answer and how long to hold it (a throttled failure).
    using Reply = std::function<void(QHttpServerResponse &&response, int holdMs)>;

    /// Answers through `reply`, at once or, for the directory's people, once the directory
    /// has (never after `context` is gone).
    void handle(const QHttpServerRequest &request, QObject *context, const Reply &reply) const;
    /// Where passwords are checked; without one, each request runs the full local check.
    void setSignInGate(SignInGate *gate) { m_signIns = gate; }

private:
    QByteArray userRecord(const Account &account) const;
    QHttpServerResponse answer(const std::optional<Account> &account) const;

    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
    SignInGate *m_signIns = nullptr;
};
