#pragma once

#include "ui/multimedia/DeviceCapture.h"
#include "ui/multimedia/LiveStream.h"
#include "ui/multimedia/SoundPlayer.h"

#include <memory>

/// Sound and pictures outside calls (the ring, the live player, the device preview) through
/// Qt Multimedia, which the module liborvalemultimedia.so brings: the first window needs none
/// of it, so it is loaded when first needed. Everything here is for the main thread.
class Multimedia
{
public:
    virtual ~Multimedia() = default;
    virtual std::unique_ptr<SoundPlayer> createSoundPlayer() const = 0;
    virtual std::unique_ptr<LiveStream> createLiveStream(LiveStream::Listener listener) const = 0;
    virtual std::unique_ptr<DeviceCapture> createDeviceCapture() const = 0;

    /// The module's factory, loaded at the first call; null, after a warning that names the
    /// missing file, when the module cannot be loaded.
    static const Multimedia *instance();
};

/// The module's entry point: its one factory, which lives as long as the process.
using MultimediaEntry = const Multimedia *(*)();
