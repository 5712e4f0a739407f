#include "engine/media/XErrorTrap.h"

#include <X11/Xlib.h>

#include <atomic>
#include <mutex>

namespace {

// Xlib calls the handler on whichever thread made the failed request: the capture's.
std::atomic<quint32> watched{0};
std::atomic<bool> gone{false};

// Qt's own handler on X11 ignores every error as well; nothing a capture asks for is worth the
// process.
int onError(Display *, XErrorEvent *error)
{
    const quint32 window = watched.load();
    if (error->error_code == BadWindow && window != 0 && error->resourceid == window)
        gone.store(true);
    return 0;
}

} // namespace

void XErrorTrap::watch(quint32 window)
{
    static std::once_flag once;
    std::call_once(once, [] { XSetErrorHandler(&onError); });
    watched.store(window);
    gone.store(false); // after the new id: a late failure of the old window must not count
}

bool XErrorTrap::watchedGone()
{
    return gone.load();
}
