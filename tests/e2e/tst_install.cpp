#include "tests/support/TestHome.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLibrary>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

/// `cmake --install` into a fresh prefix, and the installed client started from there.
class TestInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void icons_data();
    void icons();
    void validators_data();
    void validators();
    void mediaModule();
    void clientModules_data();
    void clientModules();
    void notLoadedAtStart_data();
    void notLoadedAtStart();
    void versionFromPrefix();
    void startsToLoginWindow();

private:
    QString installed(const QString &relative) const { return m_prefix.filePath(relative); }
    /// The environment of a user's session, without the build's library paths.
    static QProcessEnvironment userEnvironment();

    QTemporaryDir m_prefix;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(ORVALE_BUILD_DIR),
                   QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY(install.waitForFinished(180000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

QProcessEnvironment TestInstall::userEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    environment.remove(QStringLiteral("ORVALE_MODULE_DIR")); // the build's, set for tests
    return environment;
}

void TestInstall::installedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("present");
    const char *const present[] = {
        "bin/orvale",
        "lib/orvale/libconfclient.so",
        "lib/orvale/libconfmedia.so",
        "lib/orvale/libconfengine.so",
        "lib/orvale/liborvalemultimedia.so",
        "lib/orvale/liborvaleqrcode.so",
        "lib/orvale/liborvalekeychain.so",
        "lib/orvale/liborvalenetwork.so",
        "share/orvale/System.ecf",
        "share/applications/orvale.desktop",
        "share/metainfo/com.orvale.client.metainfo.xml",
        "share/icons/hicolor/scalable/apps/orvale.svg",
        "share/man/man1/orvale.1",
    };
    for (const char *path : present)
        QTest::newRow(path) << QString::fromLatin1(path) << true;
    // The engine is the client's alone: nothing among the system's libraries, no test programs.
    const char *const absent[] = {"lib/libconfclient.so", "lib/libconfmedia.so",
                                  "bin/orvale-services", "bin/tst_install"};
    for (const char *path : absent)
        QTest::newRow(path) << QString::fromLatin1(path) << false;
}

void TestInstall::installedFiles()
{
    QFETCH(QString, path);
    QFETCH(bool, present);
    QCOMPARE(QFileInfo(installed(path)).isFile(), present);
}

void TestInstall::icons_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512})
        QTest::newRow(qPrintable(QString::number(size))) << size;
}

void TestInstall::icons()
{
    QFETCH(int, size);
    const QString path =
        installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/orvale.png").arg(size));
    QImage icon;
    QVERIFY2(icon.load(path, "PNG"), qPrintable(path));
    QCOMPARE(icon.size(), QSize(size, size));
    // Drawn, not blank: the logo's blue background above the ring.
    const QColor middle = icon.pixelColor(size / 2, size / 8);
    QCOMPARE(middle.alpha(), 255);
    QVERIFY2(middle.blue() > middle.red(), qPrintable(middle.name()));
}

void TestInstall::validators_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("desktop entry")
        << "desktop-file-validate"
        << QStringList{installed(QStringLiteral("share/applications/orvale.desktop"))};
    QTest::newRow("AppStream description")
        << "appstreamcli"
        << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"),
                       installed(QStringLiteral("share/metainfo/com.orvale.client.metainfo.xml"))};
    QTest::newRow("AppStream, with the desktop entry and icons")
        << "appstreamcli"
        << QStringList{QStringLiteral("validate-tree"), QStringLiteral("--no-net"),
                       m_prefix.path()};
}

void TestInstall::validators()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QFAIL(qPrintable(tool + QStringLiteral(" is missing; scripts/setup installs it")));
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(tool, arguments);
    QVERIFY(validator.waitForFinished(60000));
    const QByteArray output = validator.readAll();
    QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
             output.constData());
    // desktop-file-validate reports hints with a zero exit code.
    if (tool == u"desktop-file-validate")
        QVERIFY2(output.isEmpty(), output.constData());
}

void TestInstall::mediaModule()
{
    // What the installed engine loads from beside itself at the first call.
    QLibrary module(installed(QStringLiteral("lib/orvale/libconfmedia.so")));
    QVERIFY2(module.resolve("orvaleCreateMediaEngine"), qPrintable(module.errorString()));
}

void TestInstall::clientModules_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("entry");
    // What the installed client loads from its private folder when first needed.
    QTest::newRow("engine") << "libconfengine.so"
                            << "ConfClientStart";
    QTest::newRow("multimedia") << "liborvalemultimedia.so"
                                << "orvaleMultimedia";
    QTest::newRow("QR codes") << "liborvaleqrcode.so"
                              << "orvaleQRCodeBackend";
    QTest::newRow("keychain") << "liborvalekeychain.so"
                              << "orvaleCreateKeychainStore";
    QTest::newRow("HTTP") << "liborvalenetwork.so"
                          << "orvaleHttpTransport";
    QTest::newRow("reachability") << "liborvalenetwork.so"
                                  << "orvaleCreateReachability";
}

void TestInstall::clientModules()
{
    QFETCH(QString, file);
    QFETCH(QString, entry);
    QLibrary module(installed(QStringLiteral("lib/orvale/") + file));
    QVERIFY2(module.resolve(entry.toLatin1().constData()), qPrintable(module.errorString()));
}

void TestInstall::notLoadedAtStart_data()
{
    // The login window needs none of these: they come with the modules that use them.
    QTest::addColumn<QString>("library");
    for (const char *library : {"libQt6Multimedia", "libQt6WebSockets", "libZXing",
                                "libqt6keychain", "libgstreamer", "libQt6Network"})
        QTest::newRow(library) << QString::fromLatin1(library);
}

void TestInstall::notLoadedAtStart()
{
    QFETCH(QString, library);
    QProcess ldd;
    ldd.setProcessEnvironment(userEnvironment());
    ldd.start(QStringLiteral("ldd"), {installed(QStringLiteral("bin/orvale"))});
    QVERIFY(ldd.waitForFinished(15000));
    const QString linked = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    QVERIFY2(linked.contains(u"libconfclient.so"), qPrintable(linked));
    QVERIFY2(!linked.contains(library), qPrintable(linked));
}

void TestInstall::versionFromPrefix()
{
    // The engine is loaded at the start of every run: here it is found through the run path.
    QProcess orvale;
    orvale.setProcessEnvironment(userEnvironment());
    orvale.start(installed(QStringLiteral("bin/orvale")), {QStringLiteral("--version")});
    QVERIFY(orvale.waitForFinished(15000));
    QVERIFY2(orvale.exitCode() == 0, orvale.readAllStandardError().constData());
    QCOMPARE(orvale.readAllStandardOutput(), QByteArray("orvale " ORVALE_VERSION "\n"));
}

void TestInstall::startsToLoginWindow()
{
    TestHome home;
    QProcessEnvironment environment = userEnvironment();
    // The home and runtime folders TestHome has just set for this process.
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                             "XDG_DOCUMENTS_DIR", "XDG_RUNTIME_DIR"})
        environment.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("orvale.info=true"));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    QProcess orvale;
    orvale.setProcessEnvironment(environment);
    orvale.start(installed(QStringLiteral("bin/orvale")), QStringList());
    QVERIFY(orvale.waitForStarted(15000));
    QString log;
    // Waits for a line of the log, or for the end of the process, whichever comes first.
    const auto waitForLine = [&orvale, &log](const char *line) {
        const auto seen = [&] {
            log += QString::fromUtf8(orvale.readAllStandardError());
            return log.contains(QLatin1String(line));
        };
        return QTest::qWaitFor([&] { return seen() || orvale.state() == QProcess::NotRunning; },
                               30000) &&
               seen();
    };
    const bool windowShown = waitForLine("login window on screen");
    QVERIFY2(windowShown, qPrintable(log));
    // The private engine is loaded and started from the installed files.
    const bool engineStarted = waitForLine("ConfClientStart() returned success!");
    QVERIFY2(engineStarted, qPrintable(log));
    QCOMPARE(orvale.state(), QProcess::Running);

    orvale.terminate(); // as a desktop session ends it
    QVERIFY(orvale.waitForFinished(15000));
    QCOMPARE(orvale.exitStatus(), QProcess::NormalExit);
    QCOMPARE(orvale.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/Documents")));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
