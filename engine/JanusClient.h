#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>

/// One session with a Janus media relay over its HTTP API, with any number of VideoRoom
/// handles. Events arrive through a long poll. Lives on the engine's worker thread.
class JanusClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JanusClient)

public:
    explicit JanusClient(const QUrl &base, QObject *parent = nullptr);
    ~JanusClient() override;

    /// Creates the session; `done(false)` when Janus does not answer.
    void open(std::function<void(bool)> done);
    /// A new VideoRoom handle; `done(0)` on failure.
    void attach(std::function<void(qint64)> done);
    void message(qint64 handle, const QJsonObject &body, const QJsonObject &jsep = {});
    /// A local ICE candidate; an empty one says gathering is complete.
    void trickle(qint64 handle, const QJsonObject &candidate);
    void detach(qint64 handle);

Q_SIGNALS:
    /// A VideoRoom event for `handle`, with its SDP when it carries one.
    void event(qint64 handle, const QJsonObject &data, const QJsonObject &jsep);
    /// Janus finds the media of `handle` losing packets: `uplink` when they are lost on their
    /// way to Janus, else on their way from it; `lost` in the last second.
    void slowLink(qint64 handle, bool uplink, int lost);
    /// The session is gone (Janus stopped or forgot it).
    void lost();

private:
    void post(const QString &path, QJsonObject body,
              std::function<void(const QJsonObject &)> done = {});
    void poll();
    void dispatch(const QJsonObject &event);

    QUrl m_base;
    QNetworkAccessManager m_http;
    qint64 m_session = 0;
    bool m_lost = false;
    QTimer m_keepAlive;
};
