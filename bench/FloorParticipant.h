#pragma once

#include <QHash>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <QUrl>

#include <functional>

typedef struct _GstElement GstElement;

/// The least a participant of a call can do, as a measure of what the client costs on top: one
/// plain `webrtcbin` pipeline sending a generated picture and tone through a Janus VideoRoom
/// (the client's picture size, rate, codec and encoder settings), and one per other publisher
/// decoding its picture and sound into fake sinks. Nothing is drawn or played. Each decoded
/// picture adds a line to a file, as the client's frame stamps do.
class FloorParticipant final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FloorParticipant)

public:
    FloorParticipant(const QUrl &janus, qint64 room, const QString &token, qint64 id,
                     const QString &pictureLog, QObject *parent = nullptr);
    ~FloorParticipant() override;

    /// The deployment's signed token, sent with every request to Janus.
    void setRelayToken(const QString &token) { m_relayToken = token; }
    void start();

Q_SIGNALS:
    void failed(const QString &why);

private:
    using Reply = std::function<void(const QJsonObject &)>;
    void post(const QString &path, QJsonObject body, Reply done = {});
    void poll();
    void attach(std::function<void(qint64)> done);
    void dispatch(const QJsonObject &event);
    void publish();
    void subscribe(qint64 feed);
    /// Calls `done` with the local description once every candidate is in it (Janus then
    /// needs no trickled candidates).
    void whenGathered(GstElement *webrtc, std::function<void(const QString &sdp)> done);
    void sendDescription(qint64 handle, const QJsonObject &body, const QString &type,
                         const QString &sdp);

    QUrl m_janus;
    qint64 m_room;
    QString m_token;
    QString m_relayToken;
    qint64 m_id;
    QString m_pictureLog;
    QNetworkAccessManager m_http;
    qint64 m_session = 0;
    qint64 m_publisherHandle = 0;
    qint64 m_privateId = 0;
    GstElement *m_publisher = nullptr;
    QHash<qint64, GstElement *> m_subscribers; ///< by handle
    QSet<qint64> m_feeds;                      ///< subscribed to, or being subscribed to
};
