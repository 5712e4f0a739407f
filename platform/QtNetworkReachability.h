#pragma once

#include "model/ReachabilityService.h"

#include <QObject>

/// Reachability from the system's network information (NetworkManager, or glib's monitor
/// where there is no system bus), in the module liborvalenetwork.so, which NetworkReachability
/// loads when watching starts.
class QtNetworkReachability final : public QObject, public ReachabilityService
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtNetworkReachability)

public:
    explicit QtNetworkReachability(QObject *parent = nullptr);

    bool watch(Changed changed) override;

private:
    void apply();

    Changed m_changed;
};

/// The module's entry point: a new watcher.
using ReachabilityEntry = ReachabilityService *(*)();
