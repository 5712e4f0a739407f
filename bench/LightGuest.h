#pragma once

#include <QJsonObject>
#include <QObject>
#include <QWebSocket>

#include <memory>

class EncodedClip;
class LightPublisher;

/// A participant of a call at its lightest: a guest in a room through the conference service's
/// WebSocket, as an engine would be, who publishes a pre-encoded clip under the publisher id the
/// service gave it (LightPublisher) and receives nothing.
class LightGuest final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LightGuest)

public:
    explicit LightGuest(const EncodedClip &clip, QObject *parent = nullptr);
    ~LightGuest() override;

    /// Joins the room of `roomKey` (with `pin`) through the portal at `portal` (host:port) as
    /// `name`, and starts publishing once the service has given it media; false when it gave
    /// none within 10 s.
    bool join(const QString &portal, const QString &roomKey, const QString &pin,
              const QString &name);
    /// The relay took the stream, or refused it (`error`).
    bool answered() const;
    QString error() const;
    /// The RTP payload bytes its stream sent so far.
    qint64 bytesSent() const;
    /// The URI the service gave this guest in the call.
    QString uri() const { return m_uri; }

private:
    void received(const QString &text);
    void send(const QJsonObject &message);

    const EncodedClip &m_clip;
    QWebSocket m_socket;
    QJsonObject m_media;
    QString m_uri;
    std::unique_ptr<LightPublisher> m_stream;
};
