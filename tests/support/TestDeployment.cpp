#include "tests/support/TestDeployment.h"

#include <QTest>

namespace {

ServicesConfig freePorts(bool makeStream, int maxLines)
{
    ServicesConfig config;
    config.loginPort = config.tlsPort = config.portalPort = 0;
    config.makeStream = makeStream;
    config.maxLines = maxLines;
    config.demo = true; // the accounts and rooms the tests sign in to
    return config;
}

} // namespace

TestDeployment::TestDeployment(bool makeStream, int maxLines)
    : TestDeployment(freePorts(makeStream, maxLines))
{}

std::unique_ptr<TestDeployment> TestDeployment::onStandardPorts(const QString &host, bool plainPort)
{
    ServicesConfig config = freePorts(false, 200);
    config.host = host;
    config.loginPort = plainPort ? 8080 : 0;
    config.tlsPort = 9090;
    return std::unique_ptr<TestDeployment>(new TestDeployment(config));
}

TestDeployment::TestDeployment(const ServicesConfig &base)
    : m_config(base)
{
    m_config.dataDir = m_data.path();
    restart();
}

std::unique_ptr<TestDeployment>
TestDeployment::adjusted(const std::function<void(ServicesConfig &)> &adjust)
{
    ServicesConfig config = freePorts(false, 200);
    adjust(config);
    return std::unique_ptr<TestDeployment>(new TestDeployment(config));
}

bool TestDeployment::restart()
{
    m_host.reset();
    m_host = std::make_unique<ServiceHost>(m_config);
    QString error;
    if (!m_host->start(&error)) {
        qWarning("the services did not start: %s", qPrintable(error));
        m_host.reset();
    }
    return m_host != nullptr;
}

void TestDeployment::addSignInRows()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("demo") << QStringLiteral("demo") << QStringLiteral("demo1234") << true;
    QTest::newRow("wrong password")
        << QStringLiteral("demo") << QStringLiteral("demo12345") << false;
    QTest::newRow("unknown user") << QStringLiteral("nobody") << QStringLiteral("demo1234")
                                  << false;
}
