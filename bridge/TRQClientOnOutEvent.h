#pragma once

#include <QString>

#include <cstdint>

class ConfClientDelegate;

/// The out-event dispatcher registered with the conferencing library. It runs on the
/// library's thread: there it only sends follow-up requests and writes the few values below;
/// everything else is queued to the main thread in arrival order. `userData` is the
/// application's ConfClientDelegate; nothing is queued for a delegate that is not attached.
extern "C" void TRQClientOnOutEvent(uint32_t event, void *record, uint32_t size, void *userData);

namespace OutEventState {

/// The library keeps calling back until it stops, which may be after the delegate it was
/// given is gone: a delegate is attached while it exists (starting the library attaches it)
/// and detaches itself before its destruction begins.
void attach(ConfClientDelegate *delegate);
void detach(ConfClientDelegate *delegate);

/// The flag's value from a room-link result until that join fails or a conference ends.
inline constexpr int32_t RoomLinkPending = 100;
int32_t flag();
void setFlag(int32_t value);
/// The caller's name of the latest incoming call.
QString incommingcallName();
/// Where the engine's settings file "System.ecf" is looked up.
QString systemResourcePath();

} // namespace OutEventState
