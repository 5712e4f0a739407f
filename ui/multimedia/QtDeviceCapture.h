#pragma once

#include "ui/multimedia/DeviceCapture.h"

#include <QObject>

#include <memory>

class QAudioSource;
class QCamera;
class QIODevice;
class QMediaCaptureSession;
class QVideoSink;

/// The camera and the microphone through Qt Multimedia, in the module liborvalemultimedia.so.
class QtDeviceCapture final : public QObject, public DeviceCapture
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtDeviceCapture)

public:
    QtDeviceCapture();
    ~QtDeviceCapture() override;

    bool openCamera(const QString &name, std::function<void(const QImage &)> picture,
                    std::function<void()> failed) override;
    void closeCamera() override;
    bool openMicrophone(const QString &name,
                        std::function<void(const QByteArray &)> samples) override;
    void closeMicrophone() override;

private:
    // The session refers to the camera and the sink: it goes first.
    std::unique_ptr<QCamera> m_camera;
    std::unique_ptr<QVideoSink> m_sink;
    std::unique_ptr<QMediaCaptureSession> m_session;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_input = nullptr;
};
