#include "bridge/Helper.h"
#include "model/AppUser.h"
#include "net/StringHelper.h"
#include "tests/support/TestHome.h"

#include <QTest>

class TestHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data();
    void commands();
    void links_data();
    void links();
    void ownLinkRoundTrip();
    void stampsDifferOnlyInTheirDigits();
};

void TestHelper::commands_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("isCommand");
    QTest::addColumn<QStringList>("type");
    QTest::newRow("from its sender") << "#TRQCOMMAND#abc#1&x"
                                     << "sip:room-abc;t=1" << true << QStringList{"1", "x"};
    QTest::newRow("from someone else") << "#TRQCOMMAND#abc#1&x"
                                       << "sip:room-xyz" << false << QStringList{"1", "x"};
    QTest::newRow("no payload") << "#TRQCOMMAND#abc"
                                << "abc" << true << QStringList{"abc"};
    QTest::newRow("empty mark") << "#TRQCOMMAND##2&y"
                                << "anyone" << false << QStringList{"2", "y"};
    QTest::newRow("other tag") << "#TRQCOMMANDX#abc#1&x"
                               << "abc" << false << QStringList{"1", "x"};
    QTest::newRow("case matters") << "#TRQCOMMAND#ABC#1&x"
                                  << "abc" << false << QStringList{"1", "x"};
    QTest::newRow("plain chat") << "hello"
                                << "hello" << false << QStringList{"hello"};
    QTest::newRow("answer") << "#TRQCOMMAND#u7#3&BlockSpeakerStateOK"
                            << "u7" << true << QStringList{"3", "BlockSpeakerStateOK"};
}

void TestHelper::commands()
{
    QFETCH(QString, message);
    QFETCH(QString, uri);
    QTEST(Helper::isCommandString(message, uri), "isCommand");
    QTEST(Helper::getCommandType(message), "type");
}

void TestHelper::links_data()
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000, Qt::UTC);
    const QString key = StringHelper::base64(QStringLiteral("Room1"));
    const QString portal = StringHelper::base64(QStringLiteral("http://127.0.0.1:8081"));
    const QString pin = StringHelper::base64(QStringLiteral("1234"));
    const QString future = Helper::getPeriodTime(now, 48);
    const QString due =
        StringHelper::base64(QString::number(now.toMSecsSinceEpoch())) + QStringLiteral("42");
    const QString base = QStringLiteral("http://h:8080/pages/Kwuser/l.do?");
    auto link = [&](const QString &k, const QString &po, const QString &pi,
                    const QString &pe) -> QString {
        return base + QStringLiteral("key=%1&portal=%2&pin=%3&period=%4").arg(k, po, pi, pe);
    };

    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QVariantMap>("expected");
    const QVariantMap decoded{
        {"key", "Room1"}, {"portal", "http://127.0.0.1:8081"}, {"pin", "1234"}};
    const QVariantMap notOurs{{"error", Helper::errorNotOurs()}};
    const QVariantMap expired{{"error", Helper::errorExpired()}};
    QTest::newRow("valid") << link(key, portal, pin, future) << now << decoded;
    QTest::newRow("refused with s=1")
        << link(key, portal, pin, future) + QStringLiteral("&s=1") << now << notOurs;
    QTest::newRow("no stamp: plain text")
        << link(QStringLiteral("K"), QStringLiteral("P"), QStringLiteral("N"), QString()) << now
        << QVariantMap{{"key", "K"}, {"portal", "P"}, {"pin", "N"}};
    QTest::newRow("one-character stamp")
        << link(QStringLiteral("K"), QStringLiteral("P"), QStringLiteral("N"), QStringLiteral("7"))
        << now << QVariantMap{{"key", "K"}, {"portal", "P"}, {"pin", "N"}};
    QTest::newRow("nothing at all") << QStringLiteral("just words") << now
                                    << QVariantMap{{"key", ""}, {"portal", ""}, {"pin", ""}};
    QTest::newRow("empty") << QString() << now << notOurs;
    QTest::newRow("expires now") << link(key, portal, pin, due) << now << expired;
    QTest::newRow("expired later") << link(key, portal, pin, future) << now.addDays(3) << expired;
    QTest::newRow("unreadable stamp")
        << link(key, portal, pin, QStringLiteral("!!!!99")) << now << expired;
    QTest::newRow("key not base64")
        << link(QStringLiteral("%%"), portal, pin, future) << now << notOurs;
    QTest::newRow("later piece wins")
        << link(key, portal, pin, future) + QStringLiteral("&pin=") +
               StringHelper::base64(QStringLiteral("9"))
        << now << QVariantMap{{"key", "Room1"}, {"portal", "http://127.0.0.1:8081"}, {"pin", "9"}};
    QTest::newRow("zero hours") << link(key, portal, pin, Helper::getPeriodTime(now, 0))
                                << now.addMSecs(1) << expired;
}

void TestHelper::links()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, now);
    QTEST(Helper::analyzingURLStr(text, now), "expected");
}

void TestHelper::ownLinkRoundTrip()
{
    TestHome home;
    AppUser::delUser();
    const auto user = AppUser::defaultUser();
    user->user_portal = QStringLiteral("http://127.0.0.1:8080");
    user->httpPortal = QStringLiteral("http://127.0.0.1:8081");
    user->roomURL =
        QStringLiteral("http://127.0.0.1:8081/flex.html?roomdirect.html&key=Member1001Key");
    user->roomPin = QStringLiteral("");
    user->period = 48;
    const QString link = Helper::getLinkStr();
    QVERIFY(link.startsWith(QStringLiteral("http://127.0.0.1:8080/pages/Kwuser/l.do?key=")));
    const QVariantMap parsed = Helper::analyzingURLStr(link);
    QCOMPARE(parsed.value("key").toString(), QStringLiteral("Member1001Key"));
    QCOMPARE(parsed.value("portal").toString(), QStringLiteral("http://127.0.0.1:8081"));
    QCOMPARE(parsed.value("pin").toString(), QStringLiteral(""));
    AppUser::delUser();
}

void TestHelper::stampsDifferOnlyInTheirDigits()
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'800'000'000'123, Qt::UTC);
    QSet<QString> stamps;
    for (int i = 0; i < 50; ++i) {
        const QString stamp = Helper::getPeriodTime(now, 1);
        QCOMPARE(StringHelper::deBase64(stamp.chopped(2)), QString::number(1'800'003'600'123));
        const int digits = stamp.right(2).toInt();
        QVERIFY(digits >= 10 && digits <= 99);
        stamps.insert(stamp);
    }
    QVERIFY(stamps.size() > 1);
}

QTEST_GUILESS_MAIN(TestHelper)
#include "tst_helper.moc"
