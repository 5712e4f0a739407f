#pragma once

#include <QHttpServerResponse>

class QHttpServerRequest;
class ServiceDatabase;
class SignInGate;
struct Account;
struct ServicesConfig;

/// The company login web service: SOAP 1.1 "loginJson".
class LoginEndpoint final
{
public:
    LoginEndpoint(ServiceDatabase &db, const ServicesConfig &config);

    /// The answer to a request, and in `holdMs` how long to hold it (a throttled failure).
    QHttpServerResponse handle(const QHttpServerRequest &request, int *holdMs = nullptr) const;
    /// Where passwords are checked; without one, each request runs the full check.
    void setSignInGate(SignInGate *gate) { m_signIns = gate; }

private:
    QByteArray userRecord(const Account &account) const;

    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
    SignInGate *m_signIns = nullptr;
};
