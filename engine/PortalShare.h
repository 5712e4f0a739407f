#pragma once

#include "engine/EngineState.h"
#include "engine/MediaEngine.h"
#include "engine/ScreenCastPortal.h"

#include <QObject>

/// Sharing in a Wayland session, where a program sees neither the screen nor other windows:
/// the share list offers what the desktop's screen-cast portal offers, a screen and a window,
/// and the desktop's own chooser picks which. Lives on the engine's thread.
class PortalShare final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PortalShare)

public:
    PortalShare(EngineState &state, QObject *parent);

    /// Follows which sources the desktop's portal can cast, in a Wayland session only, without
    /// waiting for its answer; for `offered`. Call once, on a thread with an event loop.
    static void watch(QObject *parent);
    /// What the portal offers as last heard: whether shares go through it. 0 before its answer,
    /// outside a Wayland session and without a portal. Any thread.
    static uint offered();
    /// The share list's entries for `types`: one screen, one window.
    static QList<EngineState::Screen> screens(uint types);
    static QList<EngineState::Window> windows(uint types);

    /// Opens the desktop's chooser for a screen (or a window).
    void choose(bool screen);
    void stop();

signals:
    /// The desktop's stream is ready to be shared under `name`.
    void ready(const MediaEngine::ShareSource &source, const QString &name);
    /// The desktop ended the running share.
    void ended();

private:
    void started(const QDBusUnixFileDescriptor &remote, quint32 node, QSize size);
    QString tokenFile() const;
    QString restoreToken() const;
    void keepRestoreToken(const QString &token);

    EngineState &m_state;
    ScreenCastPortal m_portal;
    bool m_screen = true;
    QDBusUnixFileDescriptor m_remote; ///< open while the share's capture may connect with it
};
