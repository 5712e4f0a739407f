#include "platform/QtKeychainStore.h"

#include <QLoggingCategory>

#include <qt6keychain/keychain.h>

namespace {

// The client's category: the module cannot use the client's own definition of it.
Q_LOGGING_CATEGORY(lcKeychain, "orvale")

} // namespace

QtKeychainStore::QtKeychainStore(const QString &service, const QString &key)
    : m_service(service)
    , m_key(key)
{}

void QtKeychainStore::read(std::function<void(const QString &)> done)
{
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setAutoDelete(true);
    job->setKey(m_key);
    QObject::connect(job, &QKeychain::Job::finished, job, [done](QKeychain::Job *finished) {
        const auto *reading = static_cast<QKeychain::ReadPasswordJob *>(finished);
        if (reading->error() != QKeychain::NoError && reading->error() != QKeychain::EntryNotFound)
            qCWarning(lcKeychain).noquote()
                << QStringLiteral("keychain: %1").arg(reading->errorString());
        done(reading->error() == QKeychain::NoError ? reading->textData() : QString());
    });
    job->start();
}

void QtKeychainStore::write(const QString &password, std::function<void(bool)> done)
{
    QKeychain::Job *job = nullptr;
    if (password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(m_service);
    } else {
        auto *writing = new QKeychain::WritePasswordJob(m_service);
        writing->setTextData(password);
        job = writing;
    }
    job->setAutoDelete(true);
    job->setKey(m_key);
    QObject::connect(job, &QKeychain::Job::finished, job, [done](QKeychain::Job *finished) {
        const bool ok = finished->error() == QKeychain::NoError ||
                        finished->error() == QKeychain::EntryNotFound;
        if (!ok)
            qCWarning(lcKeychain).noquote()
                << QStringLiteral("keychain: the password is not remembered: %1")
                       .arg(finished->errorString());
        done(ok);
    });
    job->start();
}

extern "C" Q_DECL_EXPORT PasswordStore::Backend *orvaleCreateKeychainStore(const QString &service,
                                                                           const QString &key)
{
    return new QtKeychainStore(service, key);
}
