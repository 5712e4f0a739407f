#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

#include <functional>

class QNetworkReply;

/// One session with a Janus media relay over its HTTP API, with any number of VideoRoom
/// handles. Events arrive through a long poll; a keepalive holds the session while it is idle.
/// Lives on the engine's worker thread.
class JanusClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JanusClient)

public:
    explicit JanusClient(const QUrl &base, QObject *parent = nullptr);
    ~JanusClient() override;

    /// Janus's number for the session; 0 before it opened and once it was destroyed.
    qint64 session() const { return m_session; }
    /// How long each try of a request may take; one that takes longer is sent again.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    /// The relay's signed token, sent with every request (the relay refuses requests without
    /// it), and what the relay's certificate is verified against.
    void setAccess(const QString &token, const QSslConfiguration &ssl)
    {
        m_apiToken = token;
        m_ssl = ssl;
    }
    /// Creates the session; `done(false)` when Janus does not answer. After close() nothing is
    /// called: a session Janus makes then is destroyed at once.
    void open(std::function<void(bool)> done);
    /// A new VideoRoom handle; `done(0)` on failure, nothing once closed.
    void attach(std::function<void(qint64)> done);
    /// `taken`, when given, is called once Janus took the request in (or it failed for good):
    /// requests sent at once may overtake each other on their way.
    void message(qint64 handle, const QJsonObject &body, const QJsonObject &jsep = {},
                 std::function<void()> taken = {});
    /// A local ICE candidate; an empty one says gathering is complete.
    void trickle(qint64 handle, const QJsonObject &candidate);
    void detach(qint64 handle);
    /// Detaches every handle and destroys the session. `done(true)` once Janus confirmed the
    /// destruction, `done(false)` when it did not within about a second or nothing was open.
    /// Nothing is reported after this; `done` may delete the client later.
    void close(std::function<void(bool)> done);
    /// How often the idle session is kept alive (Janus forgets a session after 60 s).
    void setKeepAliveInterval(int ms) { m_keepAlive.setInterval(ms); }

Q_SIGNALS:
    /// A VideoRoom event for `handle`, with its SDP when it carries one.
    void event(qint64 handle, const QJsonObject &data, const QJsonObject &jsep);
    /// The peer connection of `handle` is up.
    void connected(qint64 handle);
    /// Janus closed the peer connection of `handle`: its media is gone.
    void hangup(qint64 handle, const QString &reason);
    /// Janus started or stopped receiving `type` ("audio", "video") on `handle`.
    void receiving(qint64 handle, const QString &type, bool on);
    /// Janus finds the media of `handle` losing packets: `uplink` when they are lost on their
    /// way to Janus, else on their way from it; `lost` in the last second.
    void slowLink(qint64 handle, bool uplink, int lost);
    /// The session is gone: Janus forgot it, or neither its keepalive nor its poll reach Janus
    /// after a few tries. A single other request that fails is sent again, then given up.
    void lost();

private:
    void post(const QString &path, QJsonObject body,
              std::function<void(const QJsonObject &)> done = {});
    void send(const QString &path, const QJsonObject &body,
              std::function<void(const QJsonObject &)> done, int attempt);
    void failed(const QString &path, const QJsonObject &body,
                std::function<void(const QJsonObject &)> done, int attempt, const QString &why);
    void poll();
    void pollFailed(const QString &why);
    void dispatch(const QJsonObject &event);
    void destroySession(std::function<void(bool)> done);
    void markLost();
    QNetworkRequest request(const QUrl &url) const;

    QUrl m_base;
    QNetworkAccessManager m_http;
    qint64 m_session = 0;
    int m_requestTimeoutMs = 5000;
    QString m_apiToken;
    QSslConfiguration m_ssl = QSslConfiguration::defaultConfiguration();
    int m_pollFailures = 0; ///< polls in a row that found no relay
    bool m_lost = false;
    bool m_closing = false;
    QSet<qint64> m_handles;
    QPointer<QNetworkReply> m_poll;
    QTimer m_keepAlive;
};
