#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

struct EngineState;
class JanusClient;
class Publisher;
class Subscriber;

/// The call's audio and video through the relay the conference service names: this
/// participant publishes, and every other publisher of the room is subscribed to. GStreamer is
/// loaded with the first call, not before. Lives on the engine's worker thread.
class MediaSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MediaSession)

public:
    MediaSession(EngineState &state, QObject *parent);
    ~MediaSession() override;

    /// The service's media message for the current call: join the relay, or say why not.
    void start(const QJsonObject &media);
    /// Leaves the relay and tears down every pipeline.
    void stop();
    void setMicrophoneMuted(bool muted);
    /// Follows the speaker mute and the camera switch of the engine state.
    void follow();

private:
    void joined(const QJsonObject &data);
    void publisherEvent(const QJsonObject &data, const QJsonObject &jsep);
    void subscriberEvent(qint64 handle, const QJsonObject &data, const QJsonObject &jsep);
    void addPublishers(const QJsonArray &list);
    void subscribe(qint64 feed, const QString &uri);
    void drop(qint64 feed);
    void lose(const QString &note);
    void setNote(const QString &note);
    void readSettings();

    EngineState &m_state;
    std::unique_ptr<JanusClient> m_janus;
    QTimer m_staleCheck; ///< repaints so that tiles whose pictures stopped show the name again
    qint64 m_room = 0;
    qint64 m_ownId = 0;
    QString m_token;
    QString m_selfUri;
    qint64 m_publisherHandle = 0;
    qint64 m_privateId = 0;
    Publisher *m_publisher = nullptr;
    QHash<qint64, Subscriber *> m_subscribers; ///< by feed (remote publisher id)
    QHash<qint64, qint64> m_feedOfHandle;
    bool m_microphoneMuted = false;
    // From the settings file.
    int m_toneHz = 0;
    QString m_colour;
    QString m_recordFolder;
};
