#pragma once

#include <QString>

/// A person as the company directory (LDAP) has them: the account name they sign in with and
/// what the member listing shows of them.
struct DirectoryPerson
{
    QString userName;
    QString displayName;
    QString emailAddress;
    QString phone;
};
