#include "model/PasswordStore.h"

#include "model/Preferences.h"

#include <QCoreApplication>
#include <QPointer>

namespace {

PasswordStore::Backend *plugged = nullptr;
PasswordStore::Backend *desktop = nullptr;

PasswordStore::Backend *activeBackend()
{
    return plugged ? plugged : desktop;
}

/// Runs `work` later on the main thread, as a backend would answer.
void later(std::function<void()> work)
{
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void readFromBackend(const QPointer<QObject> &context, const PasswordStore::Done &done)
{
    auto answer = [context, done](const QString &password) {
        if (context && done)
            done(password);
    };
    if (PasswordStore::Backend *store = activeBackend())
        store->read(answer);
    else
        later([answer] { answer(QString()); });
}

} // namespace

void PasswordStore::setDesktopBackend(Backend *backend)
{
    desktop = backend;
}

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
        readFromBackend(guarded, done);
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
    auto answer = [done](bool kept) {
        if (done)
            done(kept);
    };
    if (Backend *store = activeBackend())
        store->write(password, answer);
    else
        later([answer] { answer(false); });
}
