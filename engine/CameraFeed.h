#pragma once

#include <QObject>
#include <QTimer>

#include "engine/OwnedCallback.h"

class QCamera;
class QMediaCaptureSession;
class QVideoSink;
struct EngineState;

/// The local camera while a call is active and the camera is on: the selected device of the
/// configuration, or a generated picture when the settings file asks for one (machines without
/// a camera, tests). Its latest picture goes into the engine state for the own tile. Lives on
/// the application's thread, which Qt Multimedia needs.
class CameraFeed final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CameraFeed)

public:
    CameraFeed(EngineState &state, QObject *parent);
    ~CameraFeed() override;

    /// The name under which the generated picture is listed among the cameras.
    static QString testCameraName();

private:
    void follow();
    void startDevice(int index);
    void startPattern();
    void stop();
    void showFrame(const QImage &frame);
    /// Puts `picture` on the own tile (a null one clears it) and asks for a repaint.
    void show(const QImage &picture);
    QImage patternFrame();

    EngineState &m_state;
    OwnedCallback m_changed; ///< the state's `cameraChanged` while this feed lives
    QCamera *m_camera = nullptr;
    QMediaCaptureSession *m_session = nullptr;
    QVideoSink *m_sink = nullptr;
    QTimer m_patternTimer;
    int m_tick = 0;
    int m_running = -2; ///< -2 stopped, -1 the generated picture, else the device index
};
