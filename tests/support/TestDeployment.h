#pragma once

#include "ServiceHost.h"

#include <QTemporaryDir>

#include <memory>

/// The reference deployment on free loopback ports with a temporary data folder.
class TestDeployment final
{
public:
    explicit TestDeployment(bool makeStream = false, int maxLines = 200);

    /// Null when the services could not start; the reason is logged.
    ServiceHost *host() const { return m_host.get(); }
    /// Stops the services (the data folder stays until the object goes).
    void stop() { m_host.reset(); }

private:
    QTemporaryDir m_data;
    std::unique_ptr<ServiceHost> m_host;
};
