#include "services/LdapDirectory.h"

#include "services/ServiceDatabase.h"

namespace {
constexpr qsizetype maxWaiting = 256;
} // namespace

LdapDirectory::LdapDirectory(const LdapSettings &settings, ServiceDatabase &db, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_signIn(new LdapWorker(settings))
    , m_refresher(new LdapWorker(settings))
{
    m_signInThread.setObjectName(QStringLiteral("ldap sign-in"));
    m_refreshThread.setObjectName(QStringLiteral("ldap refresh"));
    m_signIn->moveToThread(&m_signInThread);
    m_refresher->moveToThread(&m_refreshThread);
    connect(&m_signInThread, &QThread::finished, m_signIn, &QObject::deleteLater);
    connect(&m_refreshThread, &QThread::finished, m_refresher, &QObject::deleteLater);
    connect(m_signIn, &LdapWorker::verified, this, &LdapDirectory::answered);
    connect(m_refresher, &LdapWorker::refreshed, this, &LdapDirectory::store);
    connect(m_refresher, &LdapWorker::refreshFailed, this, [this](const QString &why) {
        m_refreshing = false;
        qWarning("directory: refresh failed, members kept as they were: %s", qPrintable(why));
    });
    // The workers' calls are bounded from here, since a blocked worker cannot time itself.
    m_watchdog.setInterval(1000);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        m_signIn->interrupt();
        m_refresher->interrupt();
    });
    m_refreshTimer.setInterval(std::max(10, settings.refreshS) * 1000);
    connect(&m_refreshTimer, &QTimer::timeout, this, &LdapDirectory::refresh);
}

LdapDirectory::~LdapDirectory()
{
    m_signIn->interrupt(true);
    m_refresher->interrupt(true);
    m_signInThread.quit();
    m_refreshThread.quit();
    m_signInThread.wait();
    m_refreshThread.wait();
}

void LdapDirectory::start()
{
    m_signInThread.start();
    m_refreshThread.start();
    m_refreshTimer.start();
    m_watchdog.start();
    refresh();
}

void LdapDirectory::verify(const QString &userName, const QString &password, QObject *context,
                           Done done)
{
    // Sign-ins wait in one line for the directory: a flood of them is refused, not queued.
    if (m_pending.size() >= maxWaiting) {
        qWarning("directory: %lld sign-ins waiting, one more refused", qlonglong(m_pending.size()));
        return done(std::nullopt);
    }
    const quint64 ticket = m_nextTicket++;
    m_pending.insert(ticket, {context, std::move(done)});
    LdapWorker *worker = m_signIn;
    QMetaObject::invokeMethod(worker, [worker, ticket, userName, password] {
        worker->verify(ticket, userName, password);
    });
}

void LdapDirectory::refresh()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    LdapWorker *worker = m_refresher;
    QMetaObject::invokeMethod(worker, [worker] { worker->refresh(); });
}

void LdapDirectory::answered(quint64 ticket, bool accepted, const DirectoryPerson &person,
                             const QString &why)
{
    const Pending pending = m_pending.take(ticket);
    // The reason, never the password; a refused name may be anyone's typing.
    if (!accepted)
        qInfo("directory: sign-in refused: %s", qPrintable(why));
    // Someone who joined the company since the last refresh is a member from this sign-in on;
    // a name that is a local account's stays that account's.
    const bool stored = accepted && m_db.storeDirectoryPerson(person);
    if (accepted && !stored)
        qWarning("directory: %s is a local account's name, the directory's person is refused",
                 qPrintable(person.userName));
    if (!pending.context || !pending.done)
        return;
    pending.done(stored ? std::optional<QString>(person.userName) : std::nullopt);
}

void LdapDirectory::store(const QList<DirectoryPerson> &people)
{
    m_refreshing = false;
    // A directory without a single person is a wrong base or filter, not a company that left.
    if (people.isEmpty())
        return qWarning("directory: no people under the base, members kept as they were");
    const int stored = m_db.syncDirectory(people);
    if (stored < 0)
        return qWarning("directory: the database is busy, the members wait for the next reading");
    qInfo("directory: %d members from the directory", stored);
    Q_EMIT refreshed(stored);
}
