#pragma once

#include "engine/EngineState.h"
#include "engine/MediaEngine.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocket>

/// The engine's worker: it lives on the engine's own thread, holds the connection to the
/// conference service and reports every outcome as an out-event from that thread.
class MediaEngine;
class PortalShare;

class EngineCore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EngineCore)

public:
    explicit EngineCore(EngineState &state);

    /// An in-event from the client, with its record; runs on the worker thread.
    void handleEvent(uint32_t id, const QByteArray &record);
    void announceStart();
    void announceDevicesChanged();
    /// The client wrote the configuration record: a running call follows it.
    void configurationChanged();
    /// Ends the worker's thread once a sign-out just sent has reached the service (bounded).
    void shutdown();

private:
    enum class Purpose { None, SignIn, GuestJoin };

    void connectTo(const QString &portal, Purpose purpose);
    void onConnected();
    void onDisconnected();
    void onMessage(const QString &text);
    void send(const QJsonObject &message);
    void fire(uint32_t event, QByteArray record = {});
    void fireCode(uint32_t event, int32_t value, uint32_t size);
    void updateParticipants(const QJsonArray &list);
    void shareStarted(const QString &uri, const QString &name);
    void shareEnded(const QString &uri);
    void sendShare(const QByteArray &record);
    void beginShare(const MediaEngine::ShareSource &source, const QString &name);
    /// Shares in a Wayland session, made with the first one.
    PortalShare *portalShare();
    void stopShare();
    void chatReceived(const QJsonObject &message);
    void markConference(bool on);
    void logDetails();
    QString speakingDetails();
    void readSettings(const QString &path);
    /// The media engine, loaded with the first call; null when the media module is missing.
    MediaEngine *media();
    void noMedia();
    void tellViews(bool camera);
    void leaveOrCancel();
    void startKeepAlive();
    void keepAlive();
    void heard();
    void mediaClosed();
    void finishShutdown();

    EngineState &m_state;
    QWebSocket *m_socket = nullptr;
    QTimer *m_connectTimer; ///< a child, so that it moves to the worker thread with the core
    QTimer *m_pingTimer;
    QTimer *m_shutdownTimer;
    QElapsedTimer m_lastHeard; ///< since the service last sent anything, a pong included
    int m_pingIntervalMs;
    int m_silenceLimitMs;
    Purpose m_purpose = Purpose::None;
    QJsonObject m_pending; ///< the first message, sent once connected
    QString m_portal;
    QSslConfiguration m_ssl;  ///< what the service's certificate is verified against
    bool m_untrusted = false; ///< the service's certificate failed verification
    bool m_signedIn = false;
    bool m_inConference = false;
    MediaEngine *m_media = nullptr; ///< made with the first call's media
    bool m_mediaTried = false;
    bool m_sharing = false; ///< a local share runs; the media engine learns it when it starts
    MediaEngine::ShareSource m_share;
    PortalShare *m_portalShare = nullptr;
    bool m_signingOut = false; ///< a sign-out was sent and the service has not answered yet
    bool m_shuttingDown = false;
    bool m_mediaClosed = false; ///< while shutting down: the media engine closed its relay session
};
