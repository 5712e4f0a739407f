#pragma once

#include "model/PasswordStore.h"

/// The desktop's keychain (Secret Service) through QtKeychain, under the service name
/// PasswordStore::service() and the key PasswordStore::key.
class KeychainBackend final : public PasswordStore::Backend
{
public:
    void read(std::function<void(const QString &)> done) override;
    void write(const QString &password, std::function<void(bool)> done) override;
};
