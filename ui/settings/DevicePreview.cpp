#include "ui/settings/DevicePreview.h"

#include "ui/multimedia/Multimedia.h"

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QUrl>

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

DeviceCapture *DevicePreview::capture()
{
    if (!m_capture)
        if (const Multimedia *multimedia = Multimedia::instance())
            m_capture = multimedia->createDeviceCapture();
    return m_capture.get();
}

void DevicePreview::follow(const QString &camera, const QString &microphone)
{
    if (camera != m_cameraName || !m_cameraOpen)
        startCamera(camera);
    if (microphone != m_microphoneName || !m_microphoneOpen)
        startMicrophone(microphone);
}

void DevicePreview::stop()
{
    stopCamera();
    stopMicrophone();
    if (m_sound)
        m_sound->stop();
}

void DevicePreview::startCamera(const QString &name)
{
    stopCamera();
    m_cameraName = name;
    if (DeviceCapture *devices = capture())
        m_cameraOpen = devices->openCamera(
            name, [this](const QImage &image) { showPicture(image); }, [this] { stopCamera(); });
}

void DevicePreview::stopCamera()
{
    m_cameraOpen = false;
    if (m_capture)
        m_capture->closeCamera();
    if (m_picture) {
        m_picture->clear();
        m_picture->setText(noPicture());
    }
}

void DevicePreview::showPicture(const QImage &image)
{
    if (m_picture)
        m_picture->setPixmap(QPixmap::fromImage(
            image.scaled(m_picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void DevicePreview::startMicrophone(const QString &name)
{
    stopMicrophone();
    m_microphoneName = name;
    if (DeviceCapture *devices = capture())
        m_microphoneOpen = devices->openMicrophone(name, [this](const QByteArray &samples) {
            if (m_level)
                m_level->setValue(peakLevel(samples));
        });
}

void DevicePreview::stopMicrophone()
{
    m_microphoneOpen = false;
    if (m_capture)
        m_capture->closeMicrophone();
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
    if (!m_sound)
        if (const Multimedia *multimedia = Multimedia::instance())
            m_sound = multimedia->createSoundPlayer();
    if (m_sound)
        m_sound->play(QUrl(QStringLiteral("qrc:/sounds/alert.mp3")), speaker);
}
