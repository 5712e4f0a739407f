#pragma once

#include <QString>

#include <functional>

class QByteArray;
class QImage;

/// The machine's camera and microphone outside a call, for the device page's preview. Devices
/// are matched by their names.
class DeviceCapture
{
public:
    virtual ~DeviceCapture() = default;
    /// Hands the pictures of the camera named `name` to `picture` until closeCamera() or its
    /// failure, which closes it and calls `failed`. False when there is no camera of that name.
    virtual bool openCamera(const QString &name, std::function<void(const QImage &)> picture,
                            std::function<void()> failed) = 0;
    virtual void closeCamera() = 0;
    /// Hands the 16-bit mono samples of the microphone named `name` to `samples` until
    /// closeMicrophone(). False when there is none of that name or it does not open.
    virtual bool openMicrophone(const QString &name,
                                std::function<void(const QByteArray &)> samples) = 0;
    virtual void closeMicrophone() = 0;
};
