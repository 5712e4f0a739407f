#include "platform/NetworkReachability.h"

#include "model/PrivateModule.h"
#include "platform/QtNetworkReachability.h"

NetworkReachability::NetworkReachability() = default;
NetworkReachability::~NetworkReachability() = default;

bool NetworkReachability::watch(Changed changed)
{
    if (!m_loaded) {
        m_loaded = true;
        const auto entry = reinterpret_cast<ReachabilityEntry>(PrivateModule::resolve(
            QStringLiteral("liborvalenetwork.so"), "orvaleCreateReachability"));
        if (entry)
            m_watcher.reset(entry());
    }
    return m_watcher && m_watcher->watch(std::move(changed));
}
