#include "PasswordStore.h"

#include "Log.h"
#include "Preferences.h"

#include <QCoreApplication>
#include <QPointer>
#include <qt6keychain/keychain.h>

namespace {

PasswordStore::Backend *plugged = nullptr;

void readFromKeychain(const QPointer<QObject> &context, const PasswordStore::Done &done)
{
    if (plugged) {
        plugged->read([context, done](const QString &password) {
            if (context && done)
                done(password);
        });
        return;
    }
    auto *job = new QKeychain::ReadPasswordJob(PasswordStore::service());
    job->setAutoDelete(true);
    job->setKey(PasswordStore::key);
    QObject::connect(
        job, &QKeychain::Job::finished, job, [context, done](QKeychain::Job *finished) {
            const auto *read = static_cast<QKeychain::ReadPasswordJob *>(finished);
            if (read->error() != QKeychain::NoError && read->error() != QKeychain::EntryNotFound)
                qCWarning(lcOrvale).noquote()
                    << QStringLiteral("keychain: %1").arg(read->errorString());
            if (context && done)
                done(read->error() == QKeychain::NoError ? read->textData() : QString());
        });
    job->start();
}

} // namespace

void PasswordStore::setBackend(Backend *backend)
{
    plugged = backend;
}

QString PasswordStore::service()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("orvale") : name;
}

void PasswordStore::readPassword(QObject *context, Done done)
{
    QPointer<QObject> guarded(context);
    // A password in the settings file comes from an earlier version: move it into the keychain
    // and take it out of the file once the keychain holds it.
    const QString legacy = Preferences().passWord();
    if (legacy.isEmpty()) {
        readFromKeychain(guarded, done);
        return;
    }
    writePassword(legacy, [guarded, done, legacy](bool kept) {
        if (kept)
            Preferences().removePassWord();
        if (guarded && done)
            done(legacy);
    });
}

void PasswordStore::writePassword(const QString &password, std::function<void(bool)> done)
{
    if (plugged) {
        plugged->write(password, [done](bool kept) {
            if (done)
                done(kept);
        });
        return;
    }
    QKeychain::Job *job = nullptr;
    if (password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(service());
    } else {
        auto *write = new QKeychain::WritePasswordJob(service());
        write->setTextData(password);
        job = write;
    }
    job->setAutoDelete(true);
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, job, [done](QKeychain::Job *finished) {
        const bool ok = finished->error() == QKeychain::NoError ||
                        finished->error() == QKeychain::EntryNotFound;
        if (!ok)
            qCWarning(lcOrvale).noquote()
                << QStringLiteral("keychain: the password is not remembered: %1")
                       .arg(finished->errorString());
        if (done)
            done(ok);
    });
    job->start();
}
