#include "ui/multimedia/QtMultimediaFactory.h"

#include "ui/multimedia/QtDeviceCapture.h"
#include "ui/multimedia/QtLiveStream.h"
#include "ui/multimedia/QtSoundPlayer.h"

std::unique_ptr<SoundPlayer> QtMultimediaFactory::createSoundPlayer() const
{
    return std::make_unique<QtSoundPlayer>();
}

std::unique_ptr<LiveStream>
QtMultimediaFactory::createLiveStream(LiveStream::Listener listener) const
{
    return std::make_unique<QtLiveStream>(std::move(listener));
}

std::unique_ptr<DeviceCapture> QtMultimediaFactory::createDeviceCapture() const
{
    return std::make_unique<QtDeviceCapture>();
}

extern "C" Q_DECL_EXPORT const Multimedia *orvaleMultimedia()
{
    static const QtMultimediaFactory factory;
    return &factory;
}
