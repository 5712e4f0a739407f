#include "ui/multimedia/QtDeviceCapture.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QCamera>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>

QtDeviceCapture::QtDeviceCapture() = default;

QtDeviceCapture::~QtDeviceCapture()
{
    closeCamera();
    closeMicrophone();
}

bool QtDeviceCapture::openCamera(const QString &name, std::function<void(const QImage &)> picture,
                                 std::function<void()> failed)
{
    closeCamera();
    const QList<QCameraDevice> cameras = QMediaDevices::videoInputs();
    const auto found = std::find_if(cameras.begin(), cameras.end(), [&name](const auto &device) {
        return device.description() == name;
    });
    if (found == cameras.end())
        return false; // the engine's own test picture, or a camera gone meanwhile
    m_camera = std::make_unique<QCamera>(*found);
    m_sink = std::make_unique<QVideoSink>();
    m_session = std::make_unique<QMediaCaptureSession>();
    m_session->setCamera(m_camera.get());
    m_session->setVideoSink(m_sink.get());
    connect(m_sink.get(), &QVideoSink::videoFrameChanged, this,
            [picture](const QVideoFrame &frame) {
                const QImage image = frame.toImage();
                if (!image.isNull())
                    picture(image);
            });
    connect(m_camera.get(), &QCamera::errorOccurred, this, [this, failed] {
        m_camera.release()->deleteLater(); // its signal runs now
        closeCamera();
        failed();
    });
    m_camera->start();
    return true;
}

void QtDeviceCapture::closeCamera()
{
    m_session.reset();
    m_camera.reset();
    m_sink.reset();
}

bool QtDeviceCapture::openMicrophone(const QString &name,
                                     std::function<void(const QByteArray &)> samples)
{
    closeMicrophone();
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    const auto found = std::find_if(inputs.begin(), inputs.end(), [&name](const auto &device) {
        return device.description() == name;
    });
    if (found == inputs.end())
        return false;
    QAudioFormat format;
    format.setSampleRate(16000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    m_source = std::make_unique<QAudioSource>(*found, format);
    m_input = m_source->start();
    if (!m_input) {
        closeMicrophone();
        return false;
    }
    connect(m_input, &QIODevice::readyRead, this, [this, samples] { samples(m_input->readAll()); });
    return true;
}

void QtDeviceCapture::closeMicrophone()
{
    if (m_source)
        m_source->stop();
    m_input = nullptr; // the source's own
    m_source.reset();
}
