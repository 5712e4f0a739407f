#pragma once

#include "engine/MediaEngine.h"
#include "engine/media/BitrateAdapter.h"
#include "engine/media/MediaRetry.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

class IceServers;
class JanusClient;
class Publisher;

/// This participant's share: a publisher of its own in the call's room, under a publisher id
/// the service gave for it (others see it as this participant's share by that id alone), named
/// after the participant with prefix() in front for the relay's listings. It joins once the
/// participant has. A capture of X that fails is made again; a shared window that is closed, or
/// the desktop's stream that ends, ends the share. Lives on the engine's worker thread.
class ShareSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareSession)

public:
    /// Where the share joins, once the participant has joined there.
    struct Room
    {
        JanusClient *janus = nullptr;
        qint64 room = 0;
        QString token;
        QString selfUri;
        qint64 id = 0;                   ///< the service's publisher id for the share
        int connectTimeoutMs = 0;        ///< 0 leaves the publisher's own limit
        const IceServers *ice = nullptr; ///< the call's current servers, read at each start
    };

    explicit ShareSession(QObject *parent = nullptr);
    ~ShareSession() override;

    /// What a share's publisher name starts with, before its sharer's URI.
    static QString prefix() { return QStringLiteral("share:"); }
    /// Shares `source`, replacing a running share; it joins once the participant has.
    void start(const MediaEngine::ShareSource &source);
    void stop();
    /// The participant joined `room`: a share that is wished for joins it too.
    void joined(const Room &room);
    /// The relay session is gone: the share's publisher goes, the wish to share stays.
    void relayGone();
    /// The network came back: a share waiting to be tried again is, now.
    void retryNow() { m_retry.retryNow(); }
    /// The share's handle at the relay; -1 while attaching, 0 for none.
    qint64 handle() const { return m_handle; }
    /// The relay's event on handle().
    void event(const QJsonObject &data, const QJsonObject &jsep);
    /// The relay finds what the share sends too slow: its rate, then its frame rate, fall.
    void slowLink();
    /// The running publisher, or null.
    Publisher *publisher() const { return m_publisher; }

Q_SIGNALS:
    /// The share ended by itself: its window was closed, its stream ended or failed too often.
    void ended();
    /// The relay says the share's publisher id is taken: it joins again later.
    void idTaken(qint64 id);

private:
    void open();
    /// Joins under the service's id, or one the relay picks when it gave none.
    void join();
    void close();
    void publish();
    /// The shared picture stopped: a screen or window of X is captured again.
    void streamLost();
    void end();
    /// Follows the receivers' loss report and the calm spells (read with the call's others).
    void linkRead();
    void applyRate();

    Room m_room;
    bool m_sharing = false;
    MediaEngine::ShareSource m_source;
    qint64 m_handle = 0;
    Publisher *m_publisher = nullptr;
    MediaRetry m_retry;
    QTimer m_watch; ///< ends the share of a window that was closed
    BitrateAdapter m_rate;
    int m_appliedFps = 0; ///< the frame rate the running pipeline captures at
    QElapsedTimer m_clock;
};
