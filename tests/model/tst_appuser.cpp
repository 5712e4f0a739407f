#include "model/AppUser.h"
#include "tests/support/TestHome.h"

#include <QCoreApplication>
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
    void initTestCase();
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
    void earlierRecordMovedOnce_data();
    void earlierRecordMovedOnce();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestAppUser::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    QCoreApplication::setApplicationName(QStringLiteral("orvale"));
}

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
             m_home->path() + QStringLiteral("/.local/share/Orvale/orvale/com.Tesvane.Korrin.www/"
                                             "Document/user"));
    QVERIFY(!QFileInfo::exists(path));
    const auto user = AppUser::defaultUser();
    QVERIFY(user->userName.isNull());
    QVERIFY(!user->period.isValid());
    QCOMPARE(AppUser::defaultUser(), user);

    user->userName = QStringLiteral("demo");
    AppUser::updateUser();
    QVERIFY(QFileInfo(path).isFile());
    QVERIFY(!QFileInfo::exists(m_home->path() + QStringLiteral("/Documents")));
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

static bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

static QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestAppUser::earlierRecordMovedOnce_data()
{
    // An absent file is a null array; "folder" puts a folder where the old file would be.
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QString>("userName");
    QTest::addColumn<bool>("oldKept");
    const QByteArray oldRecord(R"({"userName":"old","portal":"p"})");
    const QByteArray newRecord(R"({"userName":"new"})");
    QTest::newRow("old only") << oldRecord << QByteArray() << "old" << false;
    QTest::newRow("new only") << QByteArray() << newRecord << "new" << false;
    QTest::newRow("both") << oldRecord << newRecord << "new" << true;
    QTest::newRow("old unreadable")
        << QByteArray("\x00\xff{\"userName", 12) << QByteArray() << QString() << true;
    QTest::newRow("old is a folder") << QByteArray("folder") << QByteArray() << QString() << true;
}

void TestAppUser::earlierRecordMovedOnce()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, current);
    QFETCH(QString, userName);
    QFETCH(bool, oldKept);
    const QString oldPath =
        m_home->path() + QStringLiteral("/Documents/com.Tesvane.Korrin.www/Document/user");
    const QString path = AppUser::stroePath();
    if (old == "folder")
        QVERIFY(QDir().mkpath(oldPath));
    else if (!old.isNull())
        QVERIFY(writeFile(oldPath, old));
    if (!current.isNull())
        QVERIFY(writeFile(path, current));

    QCOMPARE(AppUser::defaultUser()->userName, userName);
    if (oldKept && old != "folder")
        QCOMPARE(readFile(oldPath), old); // untouched
    QCOMPARE(QFileInfo::exists(oldPath), oldKept);
    if (!old.isNull() && !oldKept) {
        QCOMPARE(readFile(path), old);
        QCOMPARE(QFile::permissions(path) & groupOrOther, QFileDevice::Permissions());
        // The folders it came in go when empty; Documents is the user's and stays.
        QVERIFY(!QFileInfo::exists(m_home->path() +
                                   QStringLiteral("/Documents/com.Tesvane.Korrin.www")));
        QVERIFY(QFileInfo(m_home->path() + QStringLiteral("/Documents")).isDir());
    }
    if (!current.isNull())
        QCOMPARE(readFile(path), current);

    // Saving writes the new place only; a record the move left alone is still there.
    AppUser::defaultUser()->displayName = QStringLiteral("saved");
    AppUser::updateUser();
    QVERIFY(readFile(path).contains("saved"));
    if (oldKept && old != "folder")
        QCOMPARE(readFile(oldPath), old);
}

QTEST_GUILESS_MAIN(TestAppUser)
#include "tst_appuser.moc"
