#pragma once

#include "services/ServiceHost.h"
#include "services/ServicesConfig.h"

#include <QTemporaryDir>

#include <functional>

#include <memory>

/// The reference deployment on free loopback ports with a temporary data folder.
class TestDeployment final
{
public:
    explicit TestDeployment(bool makeStream = false, int maxLines = 200);
    /// The login service on the standard ports 8080 and 9090 of `host` (a loopback address of
    /// the test's own, so that tests run side by side), the portal on a free port.
    static std::unique_ptr<TestDeployment> onStandardPorts(const QString &host,
                                                           bool plainPort = true);

    /// Test data rows (`user`, `password`, `accepted`) against the accounts the deployment
    /// seeds: the demo user, a wrong password, an unknown user.
    static void addSignInRows();

    /// With settings of the test's own, such as small limits, on free loopback ports.
    static std::unique_ptr<TestDeployment>
    adjusted(const std::function<void(ServicesConfig &)> &adjust);
    /// Stops the services and starts them again on the same data, on free ports.
    bool restart();

    /// Null when the services could not start; the reason is logged.
    ServiceHost *host() const { return m_host.get(); }
    /// Stops the services (the data folder stays until the object goes).
    void stop() { m_host.reset(); }

private:
    TestDeployment(const ServicesConfig &config);

    QTemporaryDir m_data;
    ServicesConfig m_config;
    std::unique_ptr<ServiceHost> m_host;
};
