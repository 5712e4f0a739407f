#include "tests/support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace {

QTemporaryDir &homeDir()
{
    static QTemporaryDir dir;
    return dir;
}

void makeFolders(const QString &home)
{
    QDir(home).mkpath(QStringLiteral(".config"));
    QDir(home).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

TestHome::TestHome()
{
    clear();
}

QString TestHome::path()
{
    return homeDir().path();
}

void TestHome::install()
{
    const QString home = path();
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/.cache")).toUtf8());
    qputenv("XDG_DOCUMENTS_DIR", (home + QStringLiteral("/Documents")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home + QStringLiteral("/runtime")).toUtf8());
    makeFolders(home);
}

void TestHome::clear()
{
    {
        // Through QSettings, whose cache of the file would otherwise outlive it.
        QSettings settings;
        settings.clear();
        settings.sync();
    }
    const QString home = path();
    const QFileInfoList entries =
        QDir(home).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
    makeFolders(home);
}
