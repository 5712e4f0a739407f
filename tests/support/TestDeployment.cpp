#include "TestDeployment.h"

TestDeployment::TestDeployment(bool makeStream, int maxLines)
{
    ServicesConfig config;
    config.loginPort = config.tlsPort = config.portalPort = 0;
    config.dataDir = m_data.path();
    config.makeStream = makeStream;
    config.maxLines = maxLines;
    m_host = std::make_unique<ServiceHost>(config);
    QString error;
    if (!m_host->start(&error)) {
        qWarning("the services did not start: %s", qPrintable(error));
        m_host.reset();
    }
}
