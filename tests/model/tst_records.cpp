#include "model/Entity.h"
#include "model/LiveModel.h"
#include "model/MessageModel.h"
#include "model/Particants.h"
#include "model/RoomMode.h"
#include "model/ScreenSourseModel.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

class TestRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void assignment_data();
    void assignment();
    void unknownKeysAreIgnored();
    void absentKeysAreKept();
    void nestedRoomMode_data();
    void nestedRoomMode();
    void entityWithDict();
    void jsonIntoLiveModel_data();
    void jsonIntoLiveModel();
    void description();
    void objectNameIsNoField();
};

void TestRecords::assignment_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("text") << "displayName" << QVariant(QStringLiteral("Ann"))
                          << QVariant(QStringLiteral("Ann"));
    QTest::newRow("integer into text")
        << "extension" << QVariant(4711) << QVariant(QStringLiteral("4711"));
    QTest::newRow("double into text")
        << "extension" << QVariant(12.0) << QVariant(QStringLiteral("12"));
    QTest::newRow("fraction into text")
        << "extension" << QVariant(1.5) << QVariant(QStringLiteral("1.5"));
    QTest::newRow("empty element into text")
        << "tenant" << QVariant(QVariantMap()) << QVariant(QStringLiteral(""));
    QTest::newRow("text into integer")
        << "entityIsSearched" << QVariant(QStringLiteral("12")) << QVariant(quint64(12));
    QTest::newRow("leading number of text")
        << "entityIsSearched" << QVariant(QStringLiteral(" 7 rooms")) << QVariant(quint64(7));
    QTest::newRow("words into integer")
        << "entityIsSearched" << QVariant(QStringLiteral("many")) << QVariant(quint64(0));
    QTest::newRow("number into integer")
        << "entityIsSearched" << QVariant(3.9) << QVariant(quint64(3));
}

void TestRecords::assignment()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);
    Entity entity;
    entity.setValue(key, value);
    const QVariant stored = entity.value(key);
    QCOMPARE(stored.metaType(), expected.metaType());
    QCOMPARE(stored, expected);
}

void TestRecords::unknownKeysAreIgnored()
{
    Entity entity;
    entity.setValuesForKeysWithDictionary(
        {{QStringLiteral("pin"), QStringLiteral("1234")},
         {QStringLiteral("description"), QStringLiteral("x")},
         {QStringLiteral("displayname"), QStringLiteral("lower case")},
         {QStringLiteral("displayName"), QStringLiteral("Ann")}});
    QCOMPARE(entity.displayName, QStringLiteral("Ann"));
    QVERIFY(!entity.property("pin").isValid());
    QVERIFY(!entity.property("displayname").isValid());
    QVERIFY(entity.entityID.isNull());
}

void TestRecords::absentKeysAreKept()
{
    Entity entity;
    entity.setValue(QStringLiteral("displayName"), QStringLiteral("Ann"));
    entity.setValuesForKeysWithDictionary({{QStringLiteral("tenant"), QStringLiteral("t1")}});
    QCOMPARE(entity.displayName, QStringLiteral("Ann"));
    QCOMPARE(entity.tenant, QStringLiteral("t1"));
}

void TestRecords::nestedRoomMode_data()
{
    QTest::addColumn<QVariant>("roomMode");
    QTest::addColumn<bool>("hasRecord");
    QTest::addColumn<QString>("hasPIN");

    const QVariantMap mode{
        {QStringLiteral("hasPIN"), QStringLiteral("true")},
        {QStringLiteral("roomPIN"), QStringLiteral("4321")},
        {QStringLiteral("roomURL"), QStringLiteral("http://h/flex.html?roomdirect.html&key=K1")}};
    QTest::newRow("dictionary") << QVariant(mode) << true << "true";
    QTest::newRow("empty element") << QVariant(QVariantMap()) << true << QString();
    QTest::newRow("text instead of settings")
        << QVariant(QStringLiteral("odd")) << false << QString();
    QTest::newRow("absent") << QVariant() << false << QString();
}

void TestRecords::nestedRoomMode()
{
    QFETCH(QVariant, roomMode);
    QFETCH(bool, hasRecord);
    QFETCH(QString, hasPIN);
    QVariantMap entry{{QStringLiteral("entityID"), QStringLiteral("42")},
                      {QStringLiteral("EntityType"), QStringLiteral("Room")}};
    if (roomMode.isValid())
        entry.insert(QStringLiteral("RoomMode"), roomMode);

    for (const auto &entity : {RootModel::fromDictionary<Entity>(entry), [&] {
                                   auto e = std::make_shared<Entity>();
                                   e->setValuesForKeysWithDictionary(entry);
                                   return e;
                               }()}) {
        QCOMPARE(entity->entityID, QStringLiteral("42"));
        QCOMPARE(bool(entity->roomMode), hasRecord);
        const QString pin = entity->roomMode ? entity->roomMode->hasPIN : QString();
        QCOMPARE(pin, hasPIN);
        QVERIFY(!entity->property("roomPIN").isValid());
    }
}

void TestRecords::entityWithDict()
{
    const QVariantMap reply{
        {QStringLiteral("Entity"),
         QVariantMap{{QStringLiteral("entityID"), QStringLiteral("7")},
                     {QStringLiteral("displayName"), QStringLiteral("王小明")},
                     {QStringLiteral("RoomMode"),
                      QVariantMap{{QStringLiteral("roomURL"), QStringLiteral("u")},
                                  {QStringLiteral("isLocked"), QStringLiteral("false")}}}}}};
    const auto entity = Entity::entityWithDict(reply);
    QCOMPARE(entity->displayName, QStringLiteral("王小明"));
    QVERIFY(entity->roomMode);
    QCOMPARE(entity->roomMode->roomURL, QStringLiteral("u"));
    QCOMPARE(entity->roomMode->isLocked, QStringLiteral("false"));

    const auto empty = Entity::entityWithDict({{QStringLiteral("Other"), QVariantMap()}});
    QVERIFY(empty->entityID.isNull());
    QVERIFY(!empty->roomMode);
}

void TestRecords::jsonIntoLiveModel_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("liveId");
    QTest::addColumn<qint64>("timestamp");
    QTest::addColumn<qint32>("liveFlag");
    QTest::addColumn<QStringList>("liveImgs");

    QTest::newRow("numbers")
        << QByteArray(
               R"({"liveId": 1024, "timestamp": 1700000000123, "liveFlag": 2, "liveImgs": ["/a.png", "/b.png"]})")
        << "1024" << qint64(1700000000123) << 2 << QStringList{"/a.png", "/b.png"};
    QTest::newRow("texts")
        << QByteArray(
               R"({"liveId": "L1", "timestamp": "-5", "liveFlag": "1", "liveImgs": "/one.png"})")
        << "L1" << qint64(-5) << 1 << QStringList{"/one.png"};
    QTest::newRow("nulls")
        << QByteArray(R"({"liveId": null, "timestamp": null, "liveFlag": null, "liveImgs": null})")
        << QString() << qint64(0) << 0 << QStringList();
    QTest::newRow("unknown and nested")
        << QByteArray(R"({"other": {"x": 1}, "liveFlag": {"x": 1}, "liveName": [1]})") << QString()
        << qint64(0) << 0 << QStringList();
}

void TestRecords::jsonIntoLiveModel()
{
    QFETCH(QByteArray, json);
    LiveModel live;
    live.setValuesForKeysWithDictionary(QJsonDocument::fromJson(json).toVariant().toMap());
    QTEST(live.liveId, "liveId");
    QTEST(live.timestamp, "timestamp");
    QTEST(live.liveFlag, "liveFlag");
    QTEST(live.liveImgs, "liveImgs");
}

void TestRecords::description()
{
    RoomMode mode;
    mode.hasPIN = QStringLiteral("true");
    const QString text = mode.description();
    QVERIFY2(text.startsWith(QStringLiteral("<RoomMode: 0x")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("> -- {\n")));
    QVERIFY2(text.contains(QStringLiteral("isLocked = nil;")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("hasPIN = true;")));
    QVERIFY(text.contains(QStringLiteral("roomURL = nil;")));
    QVERIFY(!text.contains(QStringLiteral("objectName")));

    Entity entity;
    QVERIFY(entity.description().contains(QStringLiteral("RoomMode = nil;")));
    entity.roomMode = std::make_shared<RoomMode>();
    QVERIFY(entity.description().contains(QStringLiteral("RoomMode = <RoomMode: 0x")));
    QVERIFY(entity.description().contains(QStringLiteral("entityIsSearched = 0;")));

    ScreenSourseModel source;
    source.confRect = {-10, 20, 1280, 720};
    QVERIFY2(source.description().contains(
                 QStringLiteral("ConfRect = {xPos = -10; yPos = 20; width = 1280; height = 720};")),
             qPrintable(source.description()));
}

void TestRecords::objectNameIsNoField()
{
    Particants participant;
    participant.setValue(QStringLiteral("objectName"), QStringLiteral("x"));
    QVERIFY(participant.objectName().isEmpty());
    participant.setValuesForKeysWithDictionary(
        {{QStringLiteral("participantRole"), QStringLiteral("3")},
         {QStringLiteral("micIsOff"), QStringLiteral("true")}});
    QCOMPARE(participant.participantRole, 3);
    QVERIFY(participant.micIsOff);
    MessageModel message;
    QCOMPARE(message.ownFieldNames().first(), QStringLiteral("time"));
    QCOMPARE(message.ownFieldNames().size(), 11);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
