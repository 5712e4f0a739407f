#include "platform/KeychainBackend.h"

#include "model/Log.h"

#include <qt6keychain/keychain.h>

void KeychainBackend::read(std::function<void(const QString &)> done)
{
    auto *job = new QKeychain::ReadPasswordJob(PasswordStore::service());
    job->setAutoDelete(true);
    job->setKey(PasswordStore::key);
    QObject::connect(job, &QKeychain::Job::finished, job, [done](QKeychain::Job *finished) {
        const auto *reading = static_cast<QKeychain::ReadPasswordJob *>(finished);
        if (reading->error() != QKeychain::NoError && reading->error() != QKeychain::EntryNotFound)
            qCWarning(lcOrvale).noquote()
                << QStringLiteral("keychain: %1").arg(reading->errorString());
        done(reading->error() == QKeychain::NoError ? reading->textData() : QString());
    });
    job->start();
}

void KeychainBackend::write(const QString &password, std::function<void(bool)> done)
{
    QKeychain::Job *job = nullptr;
    if (password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(PasswordStore::service());
    } else {
        auto *writing = new QKeychain::WritePasswordJob(PasswordStore::service());
        writing->setTextData(password);
        job = writing;
    }
    job->setAutoDelete(true);
    job->setKey(PasswordStore::key);
    QObject::connect(job, &QKeychain::Job::finished, job, [done](QKeychain::Job *finished) {
        const bool ok = finished->error() == QKeychain::NoError ||
                        finished->error() == QKeychain::EntryNotFound;
        if (!ok)
            qCWarning(lcOrvale).noquote()
                << QStringLiteral("keychain: the password is not remembered: %1")
                       .arg(finished->errorString());
        done(ok);
    });
    job->start();
}
