#pragma once

#include "ui/multimedia/Multimedia.h"

/// The factory of the module liborvalemultimedia.so.
class QtMultimediaFactory final : public Multimedia
{
public:
    std::unique_ptr<SoundPlayer> createSoundPlayer() const override;
    std::unique_ptr<LiveStream> createLiveStream(LiveStream::Listener listener) const override;
    std::unique_ptr<DeviceCapture> createDeviceCapture() const override;
};
