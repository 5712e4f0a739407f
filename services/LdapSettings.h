#pragma once

#include <QString>

/// How the deployment reaches the company directory.
struct LdapSettings
{
    QString url; ///< ldaps://host[:port], or ldap://host[:port] with startTls
    bool startTls = false;
    QString caFile; ///< CA certificates (PEM) the directory's certificate must chain to
    QString base;   ///< where people are searched
    QString filter = QStringLiteral("(objectClass=inetOrgPerson)"); ///< which entries are people
    QString bindDn; ///< the service account that searches; empty: anonymous
    QString bindPassword;
    QString userAttribute = QStringLiteral("uid"); ///< the name people sign in with
    QString nameAttribute = QStringLiteral("displayName");
    QString mailAttribute = QStringLiteral("mail");
    QString phoneAttribute = QStringLiteral("telephoneNumber"); ///< the member's extension
    int refreshS = 300; ///< how often the members are read again

    bool enabled() const { return !url.isEmpty(); }
};
