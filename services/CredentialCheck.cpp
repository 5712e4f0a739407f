#include "services/CredentialCheck.h"

#include "services/LdapDirectory.h"
#include "services/ServiceDatabase.h"

CredentialCheck::CredentialCheck(ServiceDatabase &db)
    : m_db(db)
{}

void CredentialCheck::verify(const QString &userName, const QString &password, QObject *context,
                             Done done) const
{
    const bool local = !m_db.isDirectoryAccount(userName) && m_db.account(userName);
    if (!m_directory || local)
        return done(m_db.authenticate(userName, password));
    ServiceDatabase *db = &m_db;
    m_directory->verify(userName, password, context,
                        [db, done](const std::optional<QString> &name) {
                            done(name ? db->activeAccount(*name) : std::nullopt);
                        });
}
