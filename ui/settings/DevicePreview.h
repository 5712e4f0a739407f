#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class DeviceCapture;
class QImage;
class QLabel;
class QProgressBar;
class SoundPlayer;

/// What the device page shows of the chosen devices outside a call: the camera's picture, the
/// microphone's level, and a test sound on a speaker. Devices are matched by their names; the
/// multimedia module is loaded when a device is first opened.
class DevicePreview final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DevicePreview)

public:
    DevicePreview(QLabel *picture, QProgressBar *level, QObject *parent = nullptr);
    ~DevicePreview() override;

    /// Opens the named camera and microphone (when this machine has them), closing others.
    void follow(const QString &camera, const QString &microphone);
    void stop();
    void playTestSound(const QString &speaker);

    /// The peak of 16-bit samples as 0 to 100.
    static int peakLevel(const QByteArray &samples);

private:
    DeviceCapture *capture();
    void startCamera(const QString &name);
    void stopCamera();
    void startMicrophone(const QString &name);
    void stopMicrophone();
    void showPicture(const QImage &image);

    QPointer<QLabel> m_picture;
    QPointer<QProgressBar> m_level;
    QString m_cameraName;
    QString m_microphoneName;
    bool m_cameraOpen = false;
    bool m_microphoneOpen = false;
    std::unique_ptr<DeviceCapture> m_capture;
    std::unique_ptr<SoundPlayer> m_sound;
};
