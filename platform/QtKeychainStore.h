#pragma once

#include "model/PasswordStore.h"

/// The desktop's keychain (Secret Service) through QtKeychain, in the module
/// liborvalekeychain.so, which KeychainBackend loads at the first password read or written.
class QtKeychainStore final : public PasswordStore::Backend
{
public:
    QtKeychainStore(const QString &service, const QString &key);

    void read(std::function<void(const QString &)> done) override;
    void write(const QString &password, std::function<void(bool)> done) override;

private:
    QString m_service;
    QString m_key;
};

/// The module's entry point: a new keychain store for the entry `key` of `service`.
using KeychainStoreEntry = PasswordStore::Backend *(*)(const QString &service, const QString &key);
