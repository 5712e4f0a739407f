#include "AppUser.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

constexpr auto groupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                              QFileDevice::WriteOther | QFileDevice::ExeOther;

class TestAppUser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void firstStartHasEmptyUser();
    void roundTrip();
    void unreadableFile_data();
    void unreadableFile();
    void delUserGivesFreshObject();
    void isshareRule();
    void fileIsPrivateAndReplacedAtomically();
    void failedWriteKeepsUser();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestAppUser::init()
{
    m_home = std::make_unique<TestHome>();
    AppUser::delUser();
}

void TestAppUser::cleanup()
{
    AppUser::delUser();
    m_home.reset();
}

void TestAppUser::firstStartHasEmptyUser()
{
    const QString path = AppUser::stroePath();
    QCOMPARE(path,
             m_home->path() + QStringLiteral("/Documents/com.Tesvane.Korrin.www/Document/user"));
    QVERIFY(!QFileInfo::exists(path));
    const auto user = AppUser::defaultUser();
    QVERIFY(user->userName.isNull());
    QVERIFY(!user->period.isValid());
    QCOMPARE(AppUser::defaultUser(), user);

    user->userName = QStringLiteral("demo");
    AppUser::updateUser();
    QVERIFY(QFileInfo(path).isFile());
}

/// Writes the shared user, forgets it as a new process would, and loads it back.
static std::shared_ptr<AppUser> reloadThroughFile()
{
    AppUser::updateUser();
    const QString path = AppUser::stroePath();
    const QString backup = path + QStringLiteral(".copy");
    QFile::remove(backup);
    if (!QFile::copy(path, backup))
        return nullptr;
    AppUser::delUser();
    QFile::rename(backup, path);
    return AppUser::defaultUser();
}

void TestAppUser::roundTrip()
{
    const auto user = AppUser::defaultUser();
    user->setValuesForKeysWithDictionary({
        {QStringLiteral("msgType"), 1},
        {QStringLiteral("msg"), QStringLiteral("登录成功")},
        {QStringLiteral("period"), 48},
        {QStringLiteral("agrees"), true},
        {QStringLiteral("play"), QStringLiteral("1")},
        {QStringLiteral("version"), 3.0},
        {QStringLiteral("userRole"), 2.5},
    });
    user->userName = QStringLiteral("demo");
    user->userPassWord = QStringLiteral("p\"w<&>d\n");
    user->roomPin = QStringLiteral("");
    user->user_portal = QStringLiteral("http://127.0.0.1:8080");

    const auto restored = reloadThroughFile();
    QVERIFY(restored);
    QVERIFY(restored != user);
    QCOMPARE(restored->userName, QStringLiteral("demo"));
    QVERIFY(restored->userPassWord.isNull()); // never written to the file
    QCOMPARE(restored->user_portal, QStringLiteral("http://127.0.0.1:8080"));
    QCOMPARE(restored->msg, QStringLiteral("登录成功"));
    QCOMPARE(restored->msgType, QStringLiteral("1"));
    QVERIFY(!restored->roomPin.isNull());
    QVERIFY(restored->roomPin.isEmpty());
    QVERIFY(restored->coId.isNull());
    QCOMPARE(restored->period.toInt(), 48);
    QCOMPARE(restored->agrees.typeId(), QMetaType::Bool);
    QCOMPARE(restored->agrees.toBool(), true);
    QCOMPARE(restored->play.toInt(), 1);
    QCOMPARE(restored->version.toInt(), 3);
    QCOMPARE(restored->userRole.toDouble(), 2.5);
    QVERIFY(!restored->slienceSpeaker.isValid());

    const QByteArray archive = restored->encode();
    QVERIFY(!archive.contains("coId"));
    QVERIFY(!archive.contains("slienceSpeaker"));
    QVERIFY(archive.contains("\"period\":48"));
}

void TestAppUser::unreadableFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x00\xff binary", 9);
    QTest::newRow("truncated") << QByteArray(R"({"userName": "de)");
    QTest::newRow("array") << QByteArray(R"(["userName"])");
    QTest::newRow("wrong kinds") << QByteArray(
        R"({"userName": {"a": 1}, "period": [1], "portal": 8081})");
}

void TestAppUser::unreadableFile()
{
    QFETCH(QByteArray, contents);
    const QString path = AppUser::stroePath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();

    const auto user = AppUser::defaultUser();
    QVERIFY(user);
    QVERIFY(user->userName.isNull());
    QVERIFY(!user->period.isValid());
    if (QTest::currentDataTag() == QByteArrayLiteral("wrong kinds"))
        QCOMPARE(user->portal, QStringLiteral("8081"));
}

void TestAppUser::delUserGivesFreshObject()
{
    const auto first = AppUser::defaultUser();
    first->displayName = QStringLiteral("Ann");
    AppUser::updateUser();
    QVERIFY(QFileInfo::exists(AppUser::stroePath()));
    std::weak_ptr<AppUser> old = first;

    AppUser::delUser();
    QVERIFY(!QFileInfo::exists(AppUser::stroePath()));
    const auto fresh = AppUser::defaultUser();
    QVERIFY(fresh != first);
    QVERIFY(fresh->displayName.isNull());
    QCOMPARE(first->displayName, QStringLiteral("Ann")); // holders keep their object
}

void TestAppUser::isshareRule()
{
    AppUser user;
    user.setValuesForKeysWithDictionary(
        {{QStringLiteral("isshare"), 1},
         {QStringLiteral("unknownKey"), QStringLiteral("x")},
         {QStringLiteral("roleUrl"), QStringLiteral("http://admin")}});
    QCOMPARE(user.isShare.toInt(), 1);
    QCOMPARE(user.roleUrl, QStringLiteral("http://admin"));
    QVERIFY(!user.property("unknownKey").isValid());
}

void TestAppUser::fileIsPrivateAndReplacedAtomically()
{
    AppUser::defaultUser()->userName = QStringLiteral("first");
    AppUser::updateUser();
    const QString path = AppUser::stroePath();
    QCOMPARE(QFile::permissions(path) & groupOrOther, QFileDevice::Permissions());

    AppUser::defaultUser()->userName = QStringLiteral("second");
    AppUser::updateUser();
    QCOMPARE(QFile::permissions(path) & groupOrOther, QFileDevice::Permissions());
    const QStringList leftovers = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);
    QCOMPARE(leftovers, QStringList{QStringLiteral("user")});

    AppUser::delUser();
    QVERIFY(!QFileInfo::exists(path));
}

void TestAppUser::failedWriteKeepsUser()
{
    const QString path = AppUser::stroePath();
    QVERIFY(QDir().mkpath(path)); // a folder where the file belongs: no write can succeed
    AppUser::defaultUser()->userName = QStringLiteral("kept");
    QTest::ignoreMessage(QtWarningMsg, "error : AppUser同步用户数据失败");
    AppUser::updateUser();
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(AppUser::defaultUser()->userName, QStringLiteral("kept"));
    QDir(path).removeRecursively();
}

QTEST_GUILESS_MAIN(TestAppUser)
#include "tst_appuser.moc"
