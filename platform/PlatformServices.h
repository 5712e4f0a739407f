#pragma once

#include <memory>

class KeepAwake;
class KeychainBackend;
class NetworkReachability;

/// The desktop's services that model/ declares as interfaces: the keychain, the keep-awake
/// inhibit and the reachability watcher. Plugged in while this object lives; create it on
/// the main thread.
class PlatformServices final
{
public:
    PlatformServices();
    ~PlatformServices();
    PlatformServices(const PlatformServices &) = delete;
    PlatformServices &operator=(const PlatformServices &) = delete;

private:
    std::unique_ptr<KeychainBackend> m_keychain;
    std::unique_ptr<KeepAwake> m_keepAwake;
    std::unique_ptr<NetworkReachability> m_reachability;
};
