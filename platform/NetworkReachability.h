#pragma once

#include "model/ReachabilityService.h"

#include <memory>

/// Reachability from the system's network information, through the module liborvalenetwork.so
/// (Qt Network), loaded when watching starts, after the first window is on screen.
class NetworkReachability final : public ReachabilityService
{
public:
    NetworkReachability();
    ~NetworkReachability() override;
    NetworkReachability(const NetworkReachability &) = delete;
    NetworkReachability &operator=(const NetworkReachability &) = delete;

    bool watch(Changed changed) override;

private:
    std::unique_ptr<ReachabilityService> m_watcher;
    bool m_loaded = false;
};
