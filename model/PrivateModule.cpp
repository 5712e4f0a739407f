#include "model/PrivateModule.h"

#include "model/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

#include <climits>

#include <dlfcn.h>

namespace {

/// The folder of the engine's library when this process has loaded it.
QString engineFolder()
{
    void *engine = dlopen("libconfclient.so", RTLD_LAZY | RTLD_NOLOAD);
    if (!engine)
        return {};
    char origin[PATH_MAX] = {};
    const bool found = dlinfo(engine, RTLD_DI_ORIGIN, origin) == 0;
    dlclose(engine); // only the reference taken just now
    return found ? QString::fromLocal8Bit(origin) : QString();
}

} // namespace

QString PrivateModule::folder()
{
    const QString chosen = qEnvironmentVariable("ORVALE_MODULE_DIR");
    if (!chosen.isEmpty())
        return chosen;
    const QString engine = engineFolder();
    return engine.isEmpty() ? QCoreApplication::applicationDirPath() : engine;
}

QFunctionPointer PrivateModule::resolve(const QString &fileName, const char *symbol)
{
    QLibrary library(QDir(folder()).filePath(fileName));
    const QFunctionPointer entry = library.resolve(symbol);
    if (!entry)
        qCWarning(lcOrvale).noquote() << QStringLiteral("The module %1 cannot be loaded: %2")
                                             .arg(library.fileName(), library.errorString());
    return entry;
}
