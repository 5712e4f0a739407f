#include "engine/CameraFeed.h"

#include "bridge/shared/ConfRecords.h"
#include "engine/EngineState.h"

#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QMutexLocker>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

namespace CR = ConfRecords;

namespace {

constexpr int patternIntervalMs = 100;
// Pictures are kept small: the own tile never needs more, and a call may run for hours.
constexpr QSize frameLimit(640, 480);

} // namespace

CameraFeed::CameraFeed(EngineState &state, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_changed([this] {
        QMetaObject::invokeMethod(
            this, [this] { follow(); }, Qt::QueuedConnection);
    })
{
    m_patternTimer.setInterval(patternIntervalMs);
    connect(&m_patternTimer, &QTimer::timeout, this, [this] { showFrame(patternFrame()); });
    QMutexLocker lock(&state.mutex);
    state.cameraChanged = m_changed.function();
}

CameraFeed::~CameraFeed()
{
    {
        QMutexLocker lock(&m_state.mutex);
        if (m_changed.handedOut(m_state.cameraChanged))
            m_state.cameraChanged = nullptr;
    }
    m_changed.revoke(); // a copy taken on another thread calls nothing from here on
}

QString CameraFeed::testCameraName()
{
    return QStringLiteral("Orvale 测试图像");
}

void CameraFeed::follow()
{
    int wanted = -2;
    bool showing;
    {
        QMutexLocker lock(&m_state.mutex);
        showing = m_state.inConference && !m_state.cameraPrivacy && !m_state.mediaCamera;
    }
    // Only asked for in a call: the first query loads Qt Multimedia's GStreamer backend.
    // Before the lock: it may call back.
    const QList<QCameraDevice> devices = showing ? m_state.videoInputs() : QList<QCameraDevice>();
    {
        QMutexLocker lock(&m_state.mutex);
        int selected = m_state.configuration.isEmpty()
                           ? 0
                           : int(CR::readU32(m_state.configuration, CR::Config::SelectedCamera));
        // The record lists the V4L2 nodes; Qt may order the same cameras differently.
        if (selected >= 0 && selected < m_state.cameraNodes.size()) {
            const QByteArray node = m_state.cameraNodes[selected].toUtf8();
            selected = node.isEmpty() ? int(devices.size()) : selected; // the generated picture
            for (qsizetype i = 0; i < devices.size() && !node.isEmpty(); ++i)
                if (devices[i].id() == node)
                    selected = int(i);
        }
        // While the call's media reads the camera, the own tile shows what it sends.
        if (m_state.inConference && !m_state.cameraPrivacy && !m_state.mediaCamera) {
            if (selected >= 0 && selected < devices.size())
                wanted = selected;
            else if (m_state.testCamera)
                wanted = -1;
            else if (!devices.isEmpty())
                wanted = 0;
        }
    }
    if (wanted == m_running)
        return;
    stop();
    if (wanted == -1)
        startPattern();
    else if (wanted >= 0)
        startDevice(wanted);
}

void CameraFeed::startDevice(int index)
{
    m_running = index;
    m_session = new QMediaCaptureSession(this);
    m_camera = new QCamera(m_state.videoInputs().value(index), this);
    m_sink = new QVideoSink(this);
    m_session->setCamera(m_camera);
    m_session->setVideoSink(m_sink);
    connect(m_sink, &QVideoSink::videoFrameChanged, this,
            [this](const QVideoFrame &frame) { showFrame(frame.toImage()); });
    connect(m_camera, &QCamera::errorOccurred, this,
            [this](QCamera::Error, const QString &) { stop(); });
    m_camera->start();
}

void CameraFeed::startPattern()
{
    m_running = -1;
    m_tick = 0;
    showFrame(patternFrame());
    m_patternTimer.start();
}

void CameraFeed::stop()
{
    m_running = -2;
    m_patternTimer.stop();
    delete m_session;
    delete m_camera;
    delete m_sink;
    m_session = nullptr;
    m_camera = nullptr;
    m_sink = nullptr;
    show(QImage());
}

void CameraFeed::showFrame(const QImage &frame)
{
    if (frame.isNull())
        return;
    QImage small = frame.width() > frameLimit.width() || frame.height() > frameLimit.height()
                       ? frame.scaled(frameLimit, Qt::KeepAspectRatio, Qt::FastTransformation)
                       : frame;
    show(small);
}

void CameraFeed::show(const QImage &picture)
{
    m_state.cameraFrame.put(picture);
    std::function<void()> repaint;
    {
        QMutexLocker lock(&m_state.mutex);
        repaint = m_state.repaint;
    }
    if (repaint && !m_state.cameraFrame.ridesAlong())
        repaint();
}

/// A calm teal picture with a dot circling in its lower right corner, so that movement shows.
QImage CameraFeed::patternFrame()
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(0x1f, 0x8a, 0x70));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xf5, 0xf0));
    const double angle = (m_tick++ % 60) * 6.0 * M_PI / 180.0;
    p.drawEllipse(QPointF(260 + 30 * std::cos(angle), 195 + 15 * std::sin(angle)), 8, 8);
    return image;
}
