#include "platform/PlatformServices.h"

#include "model/AppStatus.h"
#include "model/PasswordStore.h"
#include "platform/KeepAwake.h"
#include "platform/KeychainBackend.h"
#include "platform/NetworkReachability.h"

PlatformServices::PlatformServices()
    : m_keychain(std::make_unique<KeychainBackend>())
    , m_keepAwake(std::make_unique<KeepAwake>())
    , m_reachability(std::make_unique<NetworkReachability>())
{
    PasswordStore::setDesktopBackend(m_keychain.get());
    AppStatus::shareStatus()->setKeepAwakeService(m_keepAwake.get());
    AppStatus::shareStatus()->setReachabilityService(m_reachability.get());
}

PlatformServices::~PlatformServices()
{
    PasswordStore::setDesktopBackend(nullptr);
    AppStatus::shareStatus()->setKeepAwakeService(nullptr);
    AppStatus::shareStatus()->setReachabilityService(nullptr);
}
