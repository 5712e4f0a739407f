#pragma once

#include <QtGlobal>

#include <functional>

/// Watches whether the network can be reached. The platform library supplies the system's
/// watcher; AppStatus does without one.
class ReachabilityService
{
public:
    using Changed = std::function<void(qint64 status)>;

    virtual ~ReachabilityService() = default;

    /// Starts watching: `changed` runs on the main thread with the current state, then with
    /// every change (-1 unknown, 0 none, 1 mobile, 2 WiFi or wired). False when the system
    /// offers no way to watch.
    virtual bool watch(Changed changed) = 0;
};
