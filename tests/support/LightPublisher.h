#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>

#include <functional>

typedef struct _GstElement GstElement;
class EncodedClip;

/// A participant's stream at its lightest, for tests with many publishers: one plain `webrtcbin`
/// sending a small generated picture (no sound) into a Janus VideoRoom, under the publisher id and
/// the display name it is given, with the token of a `media` message. It subscribes to nothing.
class LightPublisher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LightPublisher)

public:
    /// `media` is the service's media message (url, room, token, relayToken); the stream joins
    /// as publisher `id` named `display`.
    LightPublisher(const QJsonObject &media, qint64 id, const QString &display,
                   QObject *parent = nullptr);
    ~LightPublisher() override;

    /// Sends `clip` (picture and sound) in a loop instead of the generated picture: no encoder
    /// at all. Before `start`; the clip must outlive the publisher.
    void sendClip(const EncodedClip *clip) { m_clip = clip; }
    void start();
    /// Janus answered the offer: the stream goes to the relay.
    bool answered() const { return m_answered; }
    /// Janus's error, when it refused the stream; empty otherwise.
    QString error() const { return m_error; }
    /// The RTP payload bytes sent so far, picture and sound, as the connection counts them.
    qint64 bytesSent() const;

private:
    using Reply = std::function<void(const QJsonObject &)>;
    void post(const QString &path, QJsonObject body, Reply done = {});
    void poll();
    void dispatch(const QJsonObject &event);
    void publish();
    void offerGathered(const QString &sdp);

    QUrl m_janus;
    qint64 m_room;
    QString m_token;
    QString m_relayToken;
    qint64 m_id;
    QString m_display;
    QNetworkAccessManager m_http;
    qint64 m_session = 0;
    qint64 m_handle = 0;
    GstElement *m_pipeline = nullptr;
    const EncodedClip *m_clip = nullptr;
    bool m_answered = false;
    bool m_stopping = false;
    QString m_error;
};
