#include "engine/MediaModule.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <dlfcn.h>

QString MediaModule::path()
{
    const QString chosen = qEnvironmentVariable("ORVALE_MEDIA_MODULE");
    if (!chosen.isEmpty())
        return chosen;
    Dl_info self{};
    if (dladdr(reinterpret_cast<void *>(&MediaModule::path), &self) == 0 || !self.dli_fname)
        return QStringLiteral("libconfmedia.so");
    return QFileInfo(QString::fromLocal8Bit(self.dli_fname))
        .dir()
        .filePath(QStringLiteral("libconfmedia.so"));
}

MediaEngine *MediaModule::create(EngineState &state, QObject *parent)
{
    static const CreateMediaEngine factory = [] {
        QLibrary library(path());
        const auto found =
            reinterpret_cast<CreateMediaEngine>(library.resolve("orvaleCreateMediaEngine"));
        if (!found)
            qWarning("media: %s", qPrintable(library.errorString()));
        return found;
    }();
    return factory ? factory(state, parent) : nullptr;
}
