#pragma once

#include "model/PasswordStore.h"

#include <memory>

/// The desktop's keychain (Secret Service), under the service name PasswordStore::service()
/// and the key PasswordStore::key. QtKeychain and what it loads come with the module
/// liborvalekeychain.so, loaded at the first password read or written; without it nothing is
/// kept and nothing is read.
class KeychainBackend final : public PasswordStore::Backend
{
public:
    KeychainBackend();
    ~KeychainBackend() override;

    void read(std::function<void(const QString &)> done) override;
    void write(const QString &password, std::function<void(bool)> done) override;

private:
    PasswordStore::Backend *store();

    std::unique_ptr<PasswordStore::Backend> m_store;
    bool m_loaded = false;
};
