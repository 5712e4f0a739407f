#pragma once

#include "services/ServiceHost.h"
#include "services/ServicesConfig.h"

#include <QTemporaryDir>

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

    /// Null when the services could not start; the reason is logged.
    ServiceHost *host() const { return m_host.get(); }
    /// Stops the services (the data folder stays until the object goes).
    void stop() { m_host.reset(); }

private:
    TestDeployment(const ServicesConfig &config);

    QTemporaryDir m_data;
    std::unique_ptr<ServiceHost> m_host;
};
