#pragma once

#include "engine/MediaEngine.h"

/// Finds and loads the media module at the first call. The module is searched beside this
/// library unless ORVALE_MEDIA_MODULE names its file.
class MediaModule final
{
public:
    /// A new media engine, or null when the module cannot be loaded (the call goes on without
    /// media). Loads the module once per process; it is never unloaded.
    static MediaEngine *create(EngineState &state, QObject *parent);
    /// Where the module is looked for.
    static QString path();
};
