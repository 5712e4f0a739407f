#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

/// Debian's OpenLDAP server (slapd) as a company directory, a child process of the test: an
/// mdb database in a folder of its own holding the given people under
/// ou=people,dc=orvale,dc=test, ldaps:// and ldap:// (for StartTLS) on free loopback ports,
/// with a certificate signed by a test CA. Only the administrator may search; people may bind.
class LdapServer final
{
public:
    struct Person
    {
        QString uid;
        QString password;
        QString displayName;
        QString mail;
        QString phone;
    };

    LdapServer();
    ~LdapServer();

    /// What is missing on this machine to run it, or nothing.
    static QString unavailable();
    /// Makes the certificates and the database, starts slapd; true once it answers.
    bool start(const QList<Person> &people, QString *error);

    QString ldapsUrl() const;
    QString ldapUrl() const;
    QString peopleBase() const { return QStringLiteral("ou=people,dc=orvale,dc=test"); }
    QString adminDn() const { return QStringLiteral("cn=admin,dc=orvale,dc=test"); }
    /// A file holding the administrator's password.
    QString adminPasswordFile() const;
    /// The CA that signed the server's certificate.
    QString caFile() const;
    /// A CA that signed nothing of this server's.
    QString otherCaFile() const;

private:
    bool makeCertificates(QString *error) const;
    bool writeConfiguration(const QList<Person> &people, QString *error) const;
    bool run(const QString &program, const QStringList &arguments, QString *error) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_ldapsPort = 0;
    quint16 m_ldapPort = 0;
};
