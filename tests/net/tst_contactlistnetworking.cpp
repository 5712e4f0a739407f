#include "model/AppUser.h"
#include "net/ContactListNetworking.h"
#include "tests/support/TestHome.h"

#include <QTest>
#include <QXmlStreamReader>

/// The portal operations' bodies, the room PIN, the ordering and the fault mappings.
class TestContactListNetworking : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void roomPin_data();
    void roomPin();
    void outsideAddress_data();
    void outsideAddress();
    void bodiesAreWellFormed_data();
    void bodiesAreWellFormed();
    void ordering();
    void joinFaults_data();
    void joinFaults();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestContactListNetworking::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    AppUser::defaultUser()->httpPortal = QStringLiteral("http://portal:1");
    QCOMPARE(ContactListNetworking::listAddress(),
             QStringLiteral("http://portal:1/services/v1_1/PortalUserService?"));
    QCOMPARE(ContactListNetworking::plainAddress(),
             QStringLiteral("http://portal:1/services/v1_1/PortalUserService"));
}

void TestContactListNetworking::roomPin_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("pin");
    QTest::newRow("with a PIN") << "Join my room (Room PIN: 1234) today"
                                << "1234";
    QTest::newRow("blanks around") << "(Room PIN:   77  )"
                                   << "77";
    QTest::newRow("no PIN") << "Join my room"
                            << "";
    QTest::newRow("no blank after the colon") << "(Room PIN:1234)"
                                              << "";
    QTest::newRow("nothing") << ""
                             << "";
}

void TestContactListNetworking::roomPin()
{
    QFETCH(QString, content);
    QFETCH(QString, pin);
    const QString found = ContactListNetworking::roomPinFromInvitation(content);
    QCOMPARE(found, pin);
    QVERIFY(!found.isNull()); // an empty text, never an absent one
}

void TestContactListNetworking::outsideAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("domain");
    QTest::newRow("one at sign") << "alice@portal"
                                 << "alice"
                                 << "portal";
    QTest::newRow("none") << "2002"
                          << "2002"
                          << "2002";
    QTest::newRow("two") << "a@b@c"
                         << "a"
                         << "c";
}

void TestContactListNetworking::outsideAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, local);
    QFETCH(QString, domain);
    const auto [l, d] = ContactListNetworking::splitAddress(address);
    QCOMPARE(l, local);
    QCOMPARE(d, domain);
    const QString body = ContactListNetworking::joinIPCConferenceBody(address, QString());
    QVERIFY(body.contains(QStringLiteral("<ns1:local-part>%1</ns1:local-part>").arg(local)));
    QVERIFY(body.contains(QStringLiteral("<ns1:domain>%1</ns1:domain>").arg(domain)));
    QVERIFY(body.contains(QStringLiteral("<ns1:PIN></ns1:PIN>")));
}

void TestContactListNetworking::bodiesAreWellFormed_data()
{
    const QString hostile = QStringLiteral("a&b<c>\"d'");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("element");
    QTest::newRow("join") << ContactListNetworking::joinConferenceBody(hostile) << "conferenceID";
    QTest::newRow("join with PIN")
        << ContactListNetworking::joinConferenceBody(QStringLiteral("1"), hostile) << "PIN";
    QTest::newRow("remove") << ContactListNetworking::removeContactBody(hostile) << "entityID";
    QTest::newRow("outside") << ContactListNetworking::joinIPCConferenceBody(QStringLiteral("x@y"),
                                                                             hostile)
                             << "PIN";
    QTest::newRow("password") << ContactListNetworking::updatePasswordBody(hostile) << "password";
}

void TestContactListNetworking::bodiesAreWellFormed()
{
    QFETCH(QString, body);
    QFETCH(QString, element);
    // Every inserted value arrives as one text, whatever it holds.
    QXmlStreamReader xml(QStringLiteral("<r xmlns:ns1=\"urn:x\">") + body + QStringLiteral("</r>"));
    QString value;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == element)
            value = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(value, QStringLiteral("a&b<c>\"d'"));
}

void TestContactListNetworking::ordering()
{
    const auto make = [](const char *name, const char *type, const char *status) {
        auto e = std::make_shared<Entity>();
        e->displayName = QString::fromUtf8(name);
        e->EntityType = QString::fromUtf8(type);
        e->MemberStatus = QString::fromUtf8(status);
        e->sortId = e->EntityType == u"Room"
                        ? QStringLiteral("a")
                        : ContactListNetworking::sortIdForStatus(e->MemberStatus);
        return e;
    };
    const EntityList sorted = ContactListNetworking::sortEntityWithArray(
        {make("off", "Member", "Offline"), make("busy", "Member", "Busy"),
         make("on", "Member", "Online"), make("room", "Room", ""), make("away", "Member", "Away")});
    QStringList names;
    for (const auto &e : sorted)
        names.append(e->displayName);
    // Rooms, online, then any other state (in their order), then offline.
    QCOMPARE(names, (QStringList{"room", "on", "busy", "away", "off"}));
}

void TestContactListNetworking::joinFaults_data()
{
    using F = ContactListNetworking::JoinFault;
    using O = ContactListNetworking::OutsideJoinFault;
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("join");
    QTest::addColumn<int>("outside");
    QTest::newRow("lines") << "All Lines in use. Please try again later." << int(F::Capacity)
                           << int(O::Capacity);
    QTest::newRow("capacity") << "Room capacity has been reached" << int(F::Capacity)
                              << int(O::Capacity);
    QTest::newRow("PIN") << "Wrong PIN" << int(F::WrongPin) << int(O::WrongPin);
    QTest::newRow("unable") << "Unable to join the conference" << int(F::Unavailable)
                            << int(O::Other);
    QTest::newRow("other case") << "wrong pin" << int(F::Other) << int(O::Other);
    QTest::newRow("no fault") << "" << int(F::Other) << int(O::Other);
}

void TestContactListNetworking::joinFaults()
{
    QFETCH(QString, reason);
    QFETCH(int, join);
    QFETCH(int, outside);
    QCOMPARE(int(ContactListNetworking::joinFault(reason)), join);
    QCOMPARE(int(ContactListNetworking::outsideJoinFault(reason)), outside);
}

QTEST_GUILESS_MAIN(TestContactListNetworking)
#include "tst_contactlistnetworking.moc"
