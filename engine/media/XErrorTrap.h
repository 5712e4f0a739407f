#pragma once

#include <QtGlobal>

/// Keeps the process alive through the X errors of screen capture. Once a shared window is
/// closed, every capture request about it fails, and Xlib's own answer to a failed request is to
/// end the process. The trap answers instead and notices when the watched window is gone, so that
/// its share can end.
class XErrorTrap
{
public:
    /// Becomes the process's X error handler, watching `window` (0: none). Any thread.
    static void watch(quint32 window);
    /// Whether a request about the watched window failed because the window no longer exists.
    static bool watchedGone();
};
