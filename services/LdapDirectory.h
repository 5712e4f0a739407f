#pragma once

#include "services/DirectoryPerson.h"
#include "services/LdapWorker.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <functional>
#include <optional>

class ServiceDatabase;

/// The company directory (LDAP) beside the local accounts: people sign in by a bind as
/// themselves, and the people under the configured base become members, refreshed every few
/// minutes. LDAP calls block, so they run on threads of their own; the database is written
/// here, on the main thread.
class LdapDirectory final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LdapDirectory)

public:
    /// Called with the account name of the person who signed in, or nothing when refused.
    using Done = std::function<void(const std::optional<QString> &userName)>;

    LdapDirectory(const LdapSettings &settings, ServiceDatabase &db, QObject *parent = nullptr);
    ~LdapDirectory() override;

    /// Reads the directory now and every refresh interval.
    void start();
    /// Binds as `userName` off the event loop; `done` runs here later, unless `context` went.
    void verify(const QString &userName, const QString &password, QObject *context, Done done);

Q_SIGNALS:
    /// The members were brought in step with the directory (`people` of them).
    void refreshed(int people);

private:
    struct Pending
    {
        QPointer<QObject> context;
        Done done;
    };

    void refresh();
    void answered(quint64 ticket, bool accepted, const DirectoryPerson &person, const QString &why);
    void store(const QList<DirectoryPerson> &people);

    ServiceDatabase &m_db;
    // Sign-ins do not wait behind the reading of a whole company.
    QThread m_signInThread;
    QThread m_refreshThread;
    LdapWorker *m_signIn;    ///< lives on m_signInThread, deleted when it ends
    LdapWorker *m_refresher; ///< lives on m_refreshThread, deleted when it ends
    QTimer m_refreshTimer;
    QTimer m_watchdog;
    bool m_refreshing = false;
    quint64 m_nextTicket = 1;
    QHash<quint64, Pending> m_pending;
};
