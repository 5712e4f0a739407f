#include "platform/KeychainBackend.h"

#include "model/PrivateModule.h"
#include "platform/QtKeychainStore.h"

#include <QCoreApplication>

namespace {

/// Answers later on the main thread, as the keychain would.
void later(std::function<void()> work)
{
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

} // namespace

KeychainBackend::KeychainBackend() = default;
KeychainBackend::~KeychainBackend() = default;

PasswordStore::Backend *KeychainBackend::store()
{
    if (!m_loaded) {
        m_loaded = true;
        const auto entry = reinterpret_cast<KeychainStoreEntry>(PrivateModule::resolve(
            QStringLiteral("liborvalekeychain.so"), "orvaleCreateKeychainStore"));
        if (entry)
            m_store.reset(entry(PasswordStore::service(), PasswordStore::key));
    }
    return m_store.get();
}

void KeychainBackend::read(std::function<void(const QString &)> done)
{
    if (PasswordStore::Backend *keychain = store())
        keychain->read(std::move(done));
    else
        later([done] { done(QString()); });
}

void KeychainBackend::write(const QString &password, std::function<void(bool)> done)
{
    if (PasswordStore::Backend *keychain = store())
        keychain->write(password, std::move(done));
    else
        later([done] { done(false); });
}
