#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAudioSource;
class QCamera;
class QIODevice;
class QLabel;
class QMediaCaptureSession;
class QMediaPlayer;
class QProgressBar;
class QVideoFrame;
class QVideoSink;

/// What the device page shows of the chosen devices outside a call: the camera's picture, the
/// microphone's level, and a test sound on a speaker. Devices are matched by their names.
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
    void startCamera(const QString &name);
    void stopCamera();
    void startMicrophone(const QString &name);
    void stopMicrophone();
    void showFrame(const QVideoFrame &frame);

    QPointer<QLabel> m_picture;
    QPointer<QProgressBar> m_level;
    QString m_cameraName;
    QString m_microphoneName;
    // The session refers to the camera and the sink: it goes first.
    std::unique_ptr<QCamera> m_camera;
    std::unique_ptr<QVideoSink> m_sink;
    std::unique_ptr<QMediaCaptureSession> m_session;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_input = nullptr;
    QMediaPlayer *m_player = nullptr;
};
