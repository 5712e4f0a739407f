#pragma once

#include "engine/media/IceServers.h"
#include "engine/media/LinkStats.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <atomic>

typedef struct _GstElement GstElement;
typedef struct _GstSample GstSample;
typedef struct _GstStructure GstStructure;
class QImage;
typedef struct _GstWebRTCSessionDescription GstWebRTCSessionDescription;

/// A GStreamer pipeline around one `webrtcbin`, negotiated through the relay. GStreamer calls
/// back on its own threads; every callback hops to the thread this object lives on (the
/// engine's worker) before touching it.
class WebRtcPeer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebRtcPeer)

public:
    /// The picture of a BGRx sample, sharing its buffer; null when it has none or a short one.
    static QImage imageOf(GstSample *sample);

    ~WebRtcPeer() override;

    /// Reports a fault of the media, from any thread: on this object's thread it is logged
    /// and said as mediaLost().
    void fail(const QString &why);
    /// Works the pipeline's latency out again, as an element asked on the bus.
    void recalculateLatency();
    /// Asks webrtcbin for its statistics; linkRead() follows once they are in link().
    void readStats();
    const LinkStats &link() const { return m_link; }
    /// A connection not up this long after the pipeline started is lost. Before start().
    void setConnectTimeout(int ms) { m_connecting.setInterval(ms); }
    /// The STUN and TURN servers: before start(), or renewed credentials for a running
    /// connection's later gathering (webrtcbin keeps a running relay's own).
    void setIceServers(const IceServers &servers);
    /// webrtcbin's STUN and first TURN server as it holds them, without the credentials.
    QString iceServersInUse() const;
    /// The pipeline's element named `name`, referenced; null when there is none (yet).
    GstElement *element(const char *name) const;

Q_SIGNALS:
    /// The local offer or answer, as the relay wants it ({type, sdp}).
    void localDescription(const QJsonObject &jsep);
    /// A local ICE candidate once the description is out; an empty one ends gathering.
    void localCandidate(const QJsonObject &candidate);
    /// The media stopped for good: the pipeline failed or ended, or the connection to the
    /// relay broke. Said once; the peer is of no further use.
    void mediaLost(const QString &why);
    /// The connection to the relay carries media.
    void connected();
    /// A reading of the statistics arrived.
    void linkRead();

protected:
    explicit WebRtcPeer(QObject *parent);

    /// Builds the pipeline from a launch line holding a `webrtcbin name=webrtc`.
    bool build(const QString &launch);
    void play();
    /// Stops every GStreamer thread of the pipeline; nothing calls back afterwards.
    void stopPipeline();
    /// Applies the relay's offer and answers it. An offer that cannot be read or set, like
    /// every description webrtcbin refuses, loses the media at once.
    void answerOffer(const QString &sdp);
    /// Applies the relay's answer to our offer.
    void applyAnswer(const QString &sdp);
    void makeOffer();
    /// Calls `deliver(image)` on the streaming thread for each picture of `appsink name=<sink>`
    /// in `bin` (the pipeline when none).
    void watchFrames(const char *sink, void (*deliver)(WebRtcPeer *, const QImage &),
                     GstElement *bin = nullptr);
    /// The RTP bin inside webrtcbin, referenced; null when there is none.
    GstElement *rtpBin() const;
    /// Sets a boolean or numeric property of a named element of the pipeline.
    void setProperty(const char *element, const char *property, bool value);
    /// Counts the pictures that enter and leave `coder` (a video decoder or encoder), for the
    /// statistics: those that enter and never leave were dropped.
    void countFrames(GstElement *coder);
    /// Counts the pictures that reach the video depayloader and those it passes on: the rest
    /// arrived damaged (packets lost for good) and were dropped rather than shown. Each of the
    /// connection's video depayloaders adds to the same counts.
    void countDamaged(GstElement *depayloader);
    /// Each stream's counters of a reading of the statistics, before linkRead().
    virtual void streamsRead(qint64 nowMs, const QList<LinkStats::Counters> &streams)
    {
        Q_UNUSED(nowMs);
        Q_UNUSED(streams);
    }

    GstElement *m_pipeline = nullptr;
    GstElement *m_webrtc = nullptr;

private:
    void watchBus();
    void watchConnection();
    void applyIceServers();
    void connectionChanged(int state, bool ice);
    void lose(const QString &why);
    /// Sets `description` (taken from `reply` under `field`) as the local one and sends it.
    void setLocal(const GstStructure *reply, const char *field);
    void createAnswer();
    void describe(const GstWebRTCSessionDescription *local);
    void candidateFound(uint mline, const QString &candidate);
    void gatheringDone();
    /// `now`: when webrtcbin answered, on the steady clock.
    void statsArrived(QList<LinkStats::Counters> streams, qint64 now);

    bool m_described = false;
    bool m_gathered = false;
    QList<QJsonObject> m_waiting; ///< candidates found before the description went out
    bool m_lost = false;
    bool m_connected = false;
    QTimer m_disconnected; ///< a disconnected connection may come back by itself meanwhile
    QTimer m_connecting;   ///< runs from the start until the connection is first up
    LinkStats m_link;
    /// Sources of the descriptions so far that carry only packets sent again; engine thread.
    QSet<quint32> m_resentSources;
    std::atomic<qint64> m_framesIn{-1}, m_framesOut{-1};     ///< counted on streaming threads
    std::atomic<qint64> m_picturesIn{-1}, m_picturesOut{-1}; ///< at the depayloader, likewise
    std::atomic<int> m_depayloaders{0}; ///< each holds back the picture it puts together
    IceServers m_ice;
};
