#include "ui/settings/DevicePreview.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QAudioSource>
#include <QCamera>
#include <QCoreApplication>
#include <QLabel>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QProgressBar>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

QString noPicture()
{
    return QCoreApplication::translate("DevicePreview", "无摄像头画面");
}

} // namespace

DevicePreview::DevicePreview(QLabel *picture, QProgressBar *level, QObject *parent)
    : QObject(parent)
    , m_picture(picture)
    , m_level(level)
{
    m_picture->setText(noPicture());
}

DevicePreview::~DevicePreview()
{
    stop();
}

void DevicePreview::follow(const QString &camera, const QString &microphone)
{
    if (camera != m_cameraName || !m_camera)
        startCamera(camera);
    if (microphone != m_microphoneName || !m_source)
        startMicrophone(microphone);
}

void DevicePreview::stop()
{
    stopCamera();
    stopMicrophone();
    if (m_player)
        m_player->stop();
}

void DevicePreview::startCamera(const QString &name)
{
    stopCamera();
    m_cameraName = name;
    const QList<QCameraDevice> cameras = QMediaDevices::videoInputs();
    const auto found = std::find_if(cameras.begin(), cameras.end(), [&name](const auto &device) {
        return device.description() == name;
    });
    if (found == cameras.end())
        return; // the engine's own test picture, or a camera gone meanwhile
    m_camera = std::make_unique<QCamera>(*found);
    m_sink = std::make_unique<QVideoSink>();
    m_session = std::make_unique<QMediaCaptureSession>();
    m_session->setCamera(m_camera.get());
    m_session->setVideoSink(m_sink.get());
    connect(m_sink.get(), &QVideoSink::videoFrameChanged, this,
            [this](const QVideoFrame &frame) { showFrame(frame); });
    connect(m_camera.get(), &QCamera::errorOccurred, this, [this] {
        m_camera.release()->deleteLater(); // its signal runs now
        stopCamera();
    });
    m_camera->start();
}

void DevicePreview::stopCamera()
{
    m_session.reset();
    m_camera.reset();
    m_sink.reset();
    if (m_picture) {
        m_picture->clear();
        m_picture->setText(noPicture());
    }
}

void DevicePreview::showFrame(const QVideoFrame &frame)
{
    if (!m_picture)
        return;
    const QImage image = frame.toImage();
    if (!image.isNull())
        m_picture->setPixmap(QPixmap::fromImage(
            image.scaled(m_picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void DevicePreview::startMicrophone(const QString &name)
{
    stopMicrophone();
    m_microphoneName = name;
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    const auto found = std::find_if(inputs.begin(), inputs.end(), [&name](const auto &device) {
        return device.description() == name;
    });
    if (found == inputs.end())
        return;
    QAudioFormat format;
    format.setSampleRate(16000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    m_source = std::make_unique<QAudioSource>(*found, format);
    m_input = m_source->start();
    if (!m_input) {
        stopMicrophone();
        return;
    }
    connect(m_input, &QIODevice::readyRead, this, [this] {
        const int level = peakLevel(m_input->readAll());
        if (m_level)
            m_level->setValue(level);
    });
}

void DevicePreview::stopMicrophone()
{
    if (m_source)
        m_source->stop();
    m_input = nullptr; // the source's own
    m_source.reset();
    if (m_level)
        m_level->setValue(0);
}

int DevicePreview::peakLevel(const QByteArray &samples)
{
    int peak = 0;
    for (qsizetype i = 0; i + 1 < samples.size(); i += 2) {
        qint16 sample;
        std::memcpy(&sample, samples.constData() + i, sizeof sample);
        peak = std::max(peak, std::abs(int(sample)));
    }
    return std::min(100, peak * 100 / 32767);
}

void DevicePreview::playTestSound(const QString &speaker)
{
    if (!m_player) {
        m_player = new QMediaPlayer(this);
        m_player->setAudioOutput(new QAudioOutput(m_player));
        m_player->setSource(QUrl(QStringLiteral("qrc:/sounds/alert.mp3")));
    }
    for (const QAudioDevice &device : QMediaDevices::audioOutputs()) {
        if (device.description() == speaker)
            m_player->audioOutput()->setDevice(device);
    }
    m_player->stop();
    m_player->play();
}
