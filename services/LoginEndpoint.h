#pragma once

#include <QHttpServerResponse>

class QHttpServerRequest;
class ServiceDatabase;
struct Account;
struct ServicesConfig;

/// The company login web service: SOAP 1.1 "loginJson".
class LoginEndpoint final
{
public:
    LoginEndpoint(ServiceDatabase &db, const ServicesConfig &config);

    QHttpServerResponse handle(const QHttpServerRequest &request) const;

private:
    QByteArray userRecord(const Account &account) const;

    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
};
