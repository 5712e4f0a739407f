#pragma once

#include "model/ReachabilityService.h"

#include <QObject>

/// Reachability from the system's network information (NetworkManager, or glib's monitor
/// where there is no system bus).
class NetworkReachability final : public QObject, public ReachabilityService
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkReachability)

public:
    explicit NetworkReachability(QObject *parent = nullptr);

    bool watch(Changed changed) override;

private:
    void apply();

    Changed m_changed;
};
