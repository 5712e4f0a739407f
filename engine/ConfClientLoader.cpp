// The conferencing library interface as the client links it: five functions that load the
// engine proper (libconfengine.so, beside this library) at the first call and forward to it.
// Starting the client thus loads neither the engine's network nor its multimedia libraries.

// The five functions are all this library exports.
#pragma GCC visibility push(default)
#include "bridge/shared/ConfClient.h"
#pragma GCC visibility pop

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <dlfcn.h>

namespace {

struct Engine
{
    decltype(&ConfClientConsoleLogConfigure) consoleLogConfigure = nullptr;
    decltype(&ConfClientInitialize) initialize = nullptr;
    decltype(&ConfClientStart) start = nullptr;
    decltype(&ConfClientSendRequest) sendRequest = nullptr;
    decltype(&ConfClientSendEvent) sendEvent = nullptr;

    bool complete() const
    {
        return consoleLogConfigure && initialize && start && sendRequest && sendEvent;
    }
};

QString enginePath()
{
    Dl_info self{};
    if (dladdr(reinterpret_cast<void *>(&enginePath), &self) == 0 || !self.dli_fname)
        return QStringLiteral("libconfengine.so");
    return QFileInfo(QString::fromLocal8Bit(self.dli_fname))
        .dir()
        .filePath(QStringLiteral("libconfengine.so"));
}

template <class F> F resolved(QLibrary &library, const char *name)
{
    return reinterpret_cast<F>(library.resolve(name));
}

/// Loaded once per process, on whichever thread calls first; never unloaded.
const Engine &engine()
{
    static const Engine loaded = [] {
        QLibrary library(enginePath());
        Engine found;
        found.consoleLogConfigure =
            resolved<decltype(found.consoleLogConfigure)>(library, "ConfClientConsoleLogConfigure");
        found.initialize = resolved<decltype(found.initialize)>(library, "ConfClientInitialize");
        found.start = resolved<decltype(found.start)>(library, "ConfClientStart");
        found.sendRequest = resolved<decltype(found.sendRequest)>(library, "ConfClientSendRequest");
        found.sendEvent = resolved<decltype(found.sendEvent)>(library, "ConfClientSendEvent");
        if (!found.complete()) {
            qWarning("The conferencing engine cannot be loaded (%s): %s",
                     qPrintable(library.fileName()), qPrintable(library.errorString()));
            return Engine{};
        }
        return found;
    }();
    return loaded;
}

} // namespace

extern "C" {

bool ConfClientConsoleLogConfigure(int enable)
{
    const Engine &e = engine();
    return e.complete() && e.consoleLogConfigure(enable);
}

bool ConfClientInitialize(ConfClientOutEventCallback callback, void *userData,
                          const ConfClientLogParams *log)
{
    const Engine &e = engine();
    return e.complete() && e.initialize(callback, userData, log);
}

bool ConfClientStart(ConfClientOutEventCallback callback, void *userData,
                     const ConfClientLogParams *log, void *videoView, const ConfClientRect *rect,
                     void *reserved, const uint8_t options[80], int reserved2)
{
    const Engine &e = engine();
    return e.complete() &&
           e.start(callback, userData, log, videoView, rect, reserved, options, reserved2);
}

uint32_t ConfClientSendRequest(uint32_t id, void *record, uint32_t size)
{
    const Engine &e = engine();
    return e.complete() ? e.sendRequest(id, record, size) : 1;
}

bool ConfClientSendEvent(uint32_t id, void *record, uint32_t size)
{
    const Engine &e = engine();
    return e.complete() && e.sendEvent(id, record, size);
}

} // extern "C"
