#pragma once

#include "EngineState.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <QWebSocket>

/// The engine's worker: it lives on the engine's own thread, holds the connection to the
/// conference service and reports every outcome as an out-event from that thread.
class MediaSession;

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
    void chatReceived(const QJsonObject &message);
    void markConference(bool on);
    void readSettings(const QString &path);
    MediaSession *media();

    EngineState &m_state;
    QWebSocket *m_socket = nullptr;
    QTimer *m_connectTimer; ///< a child, so that it moves to the worker thread with the core
    Purpose m_purpose = Purpose::None;
    QJsonObject m_pending; ///< the first message, sent once connected
    QString m_portal;
    bool m_signedIn = false;
    bool m_inConference = false;
    MediaSession *m_media = nullptr; ///< made with the first call's media
};
