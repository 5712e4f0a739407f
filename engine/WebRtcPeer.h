#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>

typedef struct _GstElement GstElement;
typedef struct _GstSample GstSample;
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
    ~WebRtcPeer() override;

Q_SIGNALS:
    /// The local offer or answer, as the relay wants it ({type, sdp}).
    void localDescription(const QJsonObject &jsep);
    /// A local ICE candidate once the description is out; an empty one ends gathering.
    void localCandidate(const QJsonObject &candidate);

protected:
    explicit WebRtcPeer(QObject *parent);

    /// Builds the pipeline from a launch line holding a `webrtcbin name=webrtc`.
    bool build(const QString &launch);
    void play();
    /// Stops every GStreamer thread of the pipeline; nothing calls back afterwards.
    void stopPipeline();
    /// Applies the relay's offer and answers it.
    void answerOffer(const QString &sdp);
    /// Applies the relay's answer to our offer.
    void applyAnswer(const QString &sdp);
    void makeOffer();
    /// The picture of a BGRx sample, copied out of GStreamer's buffer; null when it has none.
    static QImage imageOf(GstSample *sample);
    /// Calls `deliver(image)` on the streaming thread for each picture of `appsink name=<sink>`.
    void watchFrames(const char *sink, void (*deliver)(WebRtcPeer *, const QImage &));
    /// Sets a boolean or numeric property of a named element of the pipeline.
    void setProperty(const char *element, const char *property, bool value);

    GstElement *m_pipeline = nullptr;
    GstElement *m_webrtc = nullptr;

private:
    void describe(const GstWebRTCSessionDescription *local);
    void candidateFound(uint mline, const QString &candidate);
    void gatheringDone();

    bool m_described = false;
    bool m_gathered = false;
    QList<QJsonObject> m_waiting; ///< candidates found before the description went out
};
