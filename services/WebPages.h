#pragma once

#include <QHttpServerResponse>

class QHttpServerRequest;
class ServiceDatabase;
struct ServicesConfig;

/// The company web site's pages: the version service, the invitation page that hands a link to
/// the client, and the few plain pages the login reply points at.
class WebPages final
{
public:
    WebPages(ServiceDatabase &db, const ServicesConfig &config);

    QHttpServerResponse version(const QHttpServerRequest &request) const;
    QHttpServerResponse invitation(const QHttpServerRequest &request) const;
    QHttpServerResponse plainPage(const QString &title, const QString &text) const;

private:
    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
};
