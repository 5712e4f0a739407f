#include "net/ServerLink.h"

#include <QDesktopServices>
#include <QRegularExpression>
#include <QTest>

/// Links from the server open in the browser only when they are web addresses. The desktop's
/// handlers are replaced by a recorder for every scheme the rows use.
class TestServerLink : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl &url) { m_opened.append(url); }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void opensOnlyWebAddresses_data();
    void opensOnlyWebAddresses();

private:
    const QStringList m_schemes{"http", "https", "file", "javascript", "data", "orvale", "smb"};
    QList<QUrl> m_opened;
};

void TestServerLink::initTestCase()
{
    for (const QString &scheme : m_schemes)
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
}

void TestServerLink::cleanupTestCase()
{
    for (const QString &scheme : m_schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestServerLink::opensOnlyWebAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("opened"); // empty: nothing opens
    QTest::newRow("http") << "http://10.0.0.1:8080/admin/"
                          << "http://10.0.0.1:8080/admin/";
    QTest::newRow("https, upper case, blanks around") << " HTTPS://Admin.example/a?b=1 "
                                                      << "https://admin.example/a?b=1";
    QTest::newRow("script") << "javascript:alert(document.cookie)"
                            << "";
    QTest::newRow("script, mixed case") << "JavaScript://h/%0Aalert(1)"
                                        << "";
    QTest::newRow("local file") << "file:///usr/bin/xterm"
                                << "";
    QTest::newRow("data") << "data:text/html,<script>alert(1)</script>"
                          << "";
    QTest::newRow("custom scheme") << "orvale://join?key=a"
                                   << "";
    QTest::newRow("network share") << "smb://files/share"
                                   << "";
    QTest::newRow("no scheme") << "/usr/bin/xterm"
                               << "";
    QTest::newRow("no host") << "http:///etc/passwd"
                             << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestServerLink::opensOnlyWebAddresses()
{
    QFETCH(QString, text);
    QFETCH(QString, opened);
    m_opened.clear();
    if (opened.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^link from the "
                                                                             "server not opened")));
    QCOMPARE(ServerLink::open(text), !opened.isEmpty());
    QCOMPARE(ServerLink::browsable(text).toString(), opened);
    QCOMPARE(m_opened.size(), opened.isEmpty() ? 0 : 1);
    if (!opened.isEmpty())
        QCOMPARE(m_opened.first().toString(), opened);
}

QTEST_MAIN(TestServerLink)
#include "tst_serverlink.moc"
