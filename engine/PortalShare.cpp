#include "engine/PortalShare.h"

#include "engine/EngineSettings.h"
#include "engine/ScreenCastSources.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <atomic>

namespace {

std::atomic<uint> offeredTypes{0};

const QString tokenKey = EngineSettings::settingsKey("screenCastRestoreToken");

} // namespace

PortalShare::PortalShare(EngineState &state, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_portal(QDBusConnection::sessionBus())
{
    connect(&m_portal, &ScreenCastPortal::started, this, &PortalShare::started);
    connect(&m_portal, &ScreenCastPortal::restoreTokenChanged, this,
            &PortalShare::keepRestoreToken);
    connect(&m_portal, &ScreenCastPortal::cancelled, this,
            [] { qInfo("screen cast: the desktop's chooser was dismissed; nothing is shared"); });
    connect(&m_portal, &ScreenCastPortal::closed, this, [this] {
        qInfo("screen cast: the desktop ended the cast: the share ends");
        m_remote = {};
        emit ended();
    });
}

void PortalShare::watch(QObject *parent)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    auto *sources = new ScreenCastSources(QDBusConnection::sessionBus(), parent);
    QObject::connect(sources, &ScreenCastSources::changed, parent, [](uint types) {
        offeredTypes = types & (ScreenCastPortal::Monitor | ScreenCastPortal::Window);
    });
}

uint PortalShare::offered()
{
    return offeredTypes;
}

QList<EngineState::Screen> PortalShare::screens(uint types)
{
    if (!(types & ScreenCastPortal::Monitor))
        return {};
    return {{QStringLiteral("1"), 0, 0, 0, 0}}; // its size comes with the desktop's stream
}

QList<EngineState::Window> PortalShare::windows(uint types)
{
    if (!(types & ScreenCastPortal::Window))
        return {};
    return {{1, QCoreApplication::translate("CallRenderer", "选择窗口"),
             QCoreApplication::translate("CallRenderer", "共享窗口"), 0, 0, 0, 0}};
}

void PortalShare::choose(bool screen)
{
    m_screen = screen;
    m_portal.start(screen ? ScreenCastPortal::Monitor : ScreenCastPortal::Window, restoreToken());
}

void PortalShare::stop()
{
    m_portal.close();
    m_remote = {};
}

void PortalShare::started(const QDBusUnixFileDescriptor &remote, quint32 node, QSize size)
{
    m_remote = remote;
    MediaEngine::ShareSource source;
    source.width = size.width();
    source.height = size.height();
    source.pipeWireRemote = m_remote.fileDescriptor();
    source.pipeWireNode = node;
    const QString name = m_screen
                             ? QCoreApplication::translate("CallRenderer", "屏幕 %1").arg(1)
                             : QCoreApplication::translate("CallRenderer", "窗口 %1").arg(node);
    emit ready(source, name);
}

/// The engine's settings file; where it is installed read-only, a file of the user's own.
QString PortalShare::tokenFile() const
{
    QString path;
    {
        QMutexLocker lock(&m_state.mutex);
        path = m_state.settingsPath;
    }
    if (!path.isEmpty() && QFileInfo(path).isWritable())
        return path;
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/engine.ini");
}

QString PortalShare::restoreToken() const
{
    return QSettings(tokenFile(), QSettings::IniFormat).value(tokenKey).toString();
}

void PortalShare::keepRestoreToken(const QString &token)
{
    QSettings(tokenFile(), QSettings::IniFormat).setValue(tokenKey, token);
}
