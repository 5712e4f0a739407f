#include "engine/media/MediaSession.h"

#include "bridge/shared/ConfRecords.h"
#include "bridge/shared/ConferenceMessages.h"
#include "engine/EngineSettings.h"
#include "engine/EngineState.h"
#include "engine/media/CameraFormat.h"
#include "engine/media/JanusClient.h"
#include "engine/media/MediaPipeline.h"
#include "engine/media/NetworkWatch.h"
#include "engine/media/Publisher.h"

#include <gst/gst.h>

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QMutexLocker>

Q_LOGGING_CATEGORY(lcMedia, "orvale.media", QtWarningMsg)

namespace {

const QString noMedia = QString::fromUtf8(EngineState::noMediaNote);
const QString mediaLost = QString::fromUtf8(EngineState::mediaLostNote);
// Pauses before a lost relay session is made again, doubled each time up to the last.
constexpr int firstRetryMs = 500;
constexpr int lastRetryMs = MediaRetry::longestWaitMs;
constexpr int unauthorisedCode = 433; ///< Janus VideoRoom's answer to a token it does not take
constexpr int idTakenCode = 436;      ///< Janus VideoRoom's "ID exists"
constexpr int refusalsToGiveUp = 3;
/// Sound is sent even while muted: the relay hearing none for this long lost this participant.
constexpr int silenceLimitMs = 5000;

/// A stable number per participant, so that each one's picture and tone differ.
quint32 participantHash(const QString &uri)
{
    quint32 h = 2166136261u;
    for (const QChar c : uri.section(u'-', -1).section(u';', 0, 0))
        h = (h ^ c.unicode()) * 16777619u;
    return h;
}

bool gstreamerReady()
{
    static const bool ready =
        gst_init_check(nullptr, nullptr, nullptr) &&
        gst_registry_check_feature_version(gst_registry_get(), "webrtcbin", 1, 16, 0);
    return ready;
}

/// The TURN user names of an `iceServers` list, for the log: never their passwords.
QString userNames(const QJsonArray &servers)
{
    QStringList names;
    for (const QJsonValue &server : servers)
        if (const QString name =
                server.toObject().value(ConferenceMessages::Field::UserName).toString();
            !name.isEmpty())
            names.append(name);
    return names.join(u' ');
}

} // namespace

extern "C" Q_DECL_EXPORT MediaEngine *orvaleCreateMediaEngine(EngineState &state, QObject *parent)
{
    return new MediaSession(state, parent);
}

MediaSession::MediaSession(EngineState &state, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_links(
          state, [this] { return peers(); }, [this](int) { tellBitrate(); }, this)
    , m_subscriptions(state, m_mix, m_links,
                      {[this](const QString &uri, bool on) { setInterrupted(uri, on); },
                       [this](const QString &uri) { clearMarks(uri); }})
{
    m_staleCheck.setInterval(500);
    connect(&m_staleCheck, &QTimer::timeout, this, [this] { repaint(); });
    m_reconnect.setSingleShot(true);
    connect(&m_reconnect, &QTimer::timeout, this, &MediaSession::connectRelay);
    m_rejoin.setSingleShot(true);
    connect(&m_rejoin, &QTimer::timeout, this, [this] {
        if (m_janus && m_publisherHandle != 0 && m_privateId == 0)
            join();
    });
    m_audioSilent.setSingleShot(true);
    m_audioSilent.setInterval(silenceLimitMs);
    connect(&m_audioSilent, &QTimer::timeout, this,
            [this] { publisherLost(); }); // the relay hears nothing from here
    connect(NetworkWatch::instance(), &NetworkWatch::returned, this,
            &MediaSession::networkReturned);
    connect(&m_share, &ShareSession::ended, this, [this] {
        if (shareLost)
            shareLost();
    });
    connect(&m_share, &ShareSession::idTaken, this, [this](qint64 id) {
        if (publisherTaken)
            publisherTaken(id);
    });
    watchShown();
}

MediaSession::~MediaSession()
{
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.shownChanged = nullptr;
    }
    stop();
}

/// Only the cameras whose tiles are on screen are received; the layout says which, on the
/// view's thread.
void MediaSession::watchShown()
{
    QMutexLocker lock(&m_state.mutex);
    m_state.shownChanged = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                QList<QString> shown;
                {
                    QMutexLocker locked(&m_state.mutex);
                    shown = m_state.shownVideo.keys();
                }
                m_subscriptions.setShown({shown.cbegin(), shown.cend()});
            },
            Qt::QueuedConnection);
    };
}

void MediaSession::readSettings()
{
    QString path;
    {
        QMutexLocker lock(&m_state.mutex);
        path = m_state.settingsPath;
        m_selfUri = m_state.selfUri;
    }
    const EngineSettings settings(path);
    const quint32 h = participantHash(m_selfUri);
    m_toneHz = settings.toneFrequency.value_or(330 + int(h % 12) * 55);
    m_colour = settings.pictureColour.value_or(QString());
    if (!QColor::isValidColorName(m_colour))
        m_colour = QColor::fromHsv(int(h % 360), 150, 190).name();
    m_recordFolder = settings.audioRecordFolder;
    // A settings file that names the picture or the tone asks for the generated source.
    m_generatedPicture = settings.pictureColour.has_value();
    m_generatedTone = settings.toneFrequency.has_value();
    m_publisherFailsAfterMs = int(settings.publisherFailsAfter * 1000);
    m_connectTimeoutMs = int(settings.connectTimeout * 1000);
    m_requestTimeoutMs = settings.requestTimeoutMs;
    m_ssl = settings.sslConfiguration();
    m_ice.setRelayOnly(settings.relayOnly);
}

/// What the configuration record chose: the devices (by what opens them), the voice processing
/// and the video preference level.
MediaPipeline::Sending MediaSession::sending()
{
    namespace C = ConfRecords::Config;
    MediaPipeline::Sending sending;
    sending.colour = QColor(m_colour);
    sending.toneHz = m_toneHz;
    QMutexLocker lock(&m_state.mutex);
    const QByteArray &c = m_state.configuration;
    const auto chosen = [&c](const QStringList &ids, uint32_t offset, const QString &fallback) {
        return MediaPipeline::chosenDevice(ids, ConfRecords::readU32(c, offset), fallback);
    };
    if (!m_generatedPicture) {
        const QStringList &nodes = m_state.cameraNodes;
        const auto real = std::find_if(nodes.cbegin(), nodes.cend(),
                                       [](const QString &node) { return !node.isEmpty(); });
        sending.camera = chosen(nodes, C::SelectedCamera, real == nodes.cend() ? QString() : *real);
        // Where the generated camera is a row of the list, it is sent only when chosen: a
        // choice past the list with no device left means no camera.
        sending.noCamera = m_state.testCamera && sending.camera.isEmpty() &&
                           ConfRecords::readU32(c, C::SelectedCamera) >= quint32(nodes.size());
    }
    if (!m_generatedTone)
        sending.microphone =
            chosen(m_state.microphoneIds, C::SelectedMicrophone, m_state.defaultMicrophoneId);
    m_speakerDevice = chosen(m_state.speakerIds, C::SelectedSpeaker, m_state.defaultSpeakerId);
    if (c.size() >= qsizetype(C::Size)) {
        sending.echoCancellation = ConfRecords::readU32(c, C::EchoCancellation) == 1;
        sending.automaticGain = ConfRecords::readU32(c, C::AutomaticGain) == 1;
        sending.videoLevel = int(ConfRecords::readU32(c, C::VideoPreference));
    }
    // The echo canceller hears the speaker only when sound is played, not recorded.
    sending.echoCancellation = sending.echoCancellation && m_recordFolder.isEmpty();
    m_echoWanted = sending.echoCancellation && !sending.microphone.isEmpty();
    // The call's media reads the camera now; the own tile shows what it sends.
    m_state.mediaCamera = true;
    const std::function<void()> cameraChanged = m_state.cameraChanged;
    lock.unlock();
    if (cameraChanged)
        cameraChanged();
    // What the camera offers decides what it is asked for; the one being sent from is not
    // opened again.
    sending.cameraCaps = m_publisher && sending.camera == m_sent.camera
                             ? m_sent.cameraCaps
                             : CameraFormat::deviceCaps(sending.camera);
    return sending;
}

void MediaSession::start(const QJsonObject &media)
{
    namespace CF = ConferenceMessages::Field;
    qCDebug(lcMedia, "media %s", QJsonDocument(media).toJson(QJsonDocument::Compact).constData());
    stop();
    if (!media.value(CF::Available).toBool())
        return setNote(noMedia);
    if (!gstreamerReady()) {
        qWarning("media: GStreamer with webrtcbin is missing");
        return setNote(noMedia);
    }
    m_media = media;
    m_subscriptions.setFeeds(Subscriptions::feedsFrom(media.value(CF::Feeds).toArray()));
    m_ice = IceServers::fromJson(media.value(CF::IceServers).toArray());
    m_retryMs = firstRetryMs;
    connectRelay();
}

/// A new session with the relay, in which this participant joins the room and publishes.
void MediaSession::connectRelay()
{
    namespace CF = ConferenceMessages::Field;
    readSettings();
    m_room = m_media.value(CF::Room).toInteger();
    m_ownId = m_media.value(CF::Id).toInteger();
    m_shareId = m_media.value(CF::ShareId).toInteger();
    m_token = m_media.value(CF::Token).toString();
    m_janus = std::make_unique<JanusClient>(QUrl(m_media.value(CF::Url).toString()));
    m_janus->setRequestTimeout(m_requestTimeoutMs);
    m_janus->setAccess(m_media.value(CF::RelayToken).toString(), m_ssl);
    JanusClient *janus = m_janus.get();
    connect(janus, &JanusClient::lost, this, [this] { lose(mediaLost); });
    connect(janus, &JanusClient::slowLink, this, [this](qint64 handle, bool uplink, int lost) {
        qCDebug(lcMedia, "slow link on %lld (uplink %d): %d lost", handle, int(uplink), lost);
        if (aboutPublisher(handle))
            m_links.slowLink();
        else if (handle == m_share.handle())
            m_share.slowLink();
    });
    connect(janus, &JanusClient::event, this,
            [this](qint64 handle, const QJsonObject &data, const QJsonObject &jsep) {
                qCDebug(lcMedia, "event %lld: %s (%s)", handle,
                        QJsonDocument(data).toJson(QJsonDocument::Compact).constData(),
                        qPrintable(jsep.value("type").toString()));
                if (handle == m_publisherHandle)
                    publisherEvent(data, jsep);
                else if (handle == m_share.handle())
                    m_share.event(data, jsep);
                else
                    m_subscriptions.event(handle, data, jsep);
            });
    watchStreams(janus);
    janus->open([this, janus](bool ok) {
        if (janus != m_janus.get())
            return;
        if (!ok)
            return lose(mediaLost);
        janus->attach([this, janus](qint64 handle) {
            if (janus != m_janus.get())
                return;
            if (handle == 0)
                return lose(mediaLost);
            m_publisherHandle = handle;
            join();
        });
    });
    m_staleCheck.start();
    m_links.start();
}

/// Joins the room as the service's publisher id, or under one the relay picks without one.
void MediaSession::join()
{
    QJsonObject request{{"request", "join"},
                        {"ptype", "publisher"},
                        {"room", m_room},
                        {"display", m_selfUri},
                        {"token", m_token}};
    if (m_ownId != 0)
        request.insert("id", m_ownId);
    m_janus->message(m_publisherHandle, request);
}

void MediaSession::renewIceServers(const QJsonArray &servers)
{
    if (m_media.isEmpty())
        return;
    const bool relayOnly = m_ice.relayOnly();
    m_ice = IceServers::fromJson(servers);
    m_ice.setRelayOnly(relayOnly);
    qCDebug(lcMedia, "TURN credentials renewed, username %s", qPrintable(userNames(servers)));
    for (WebRtcPeer *peer : peers())
        peer->setIceServers(m_ice);
}

void MediaSession::renewRelayToken(const QString &token)
{
    namespace CF = ConferenceMessages::Field;
    if (m_media.isEmpty() || token.isEmpty())
        return;
    m_media.insert(CF::RelayToken, token); // for a new relay session after a loss, too
    if (m_janus)
        m_janus->setAccess(token, m_ssl);
    qCDebug(lcMedia, "relay token renewed");
}

void MediaSession::setFeeds(const QJsonArray &feeds)
{
    if (!m_media.isEmpty())
        m_subscriptions.setFeeds(Subscriptions::feedsFrom(feeds));
}

void MediaSession::stop()
{
    m_reconnect.stop();
    m_media = {};
    stopShare();
    teardown();
    m_subscriptions.setFeeds({});
    setNote({});
}

void MediaSession::teardown()
{
    m_staleCheck.stop();
    m_audioSilent.stop();
    m_rejoin.stop();
    m_links.stop();
    // The share's pipeline goes with the relay; the wish to share stays for a reconnect.
    m_share.relayGone();
    m_publishRetry.cancel();
    delete m_publisher;
    m_publisher = nullptr;
    m_subscriptions.relayGone();
    m_mix.clear();
    closeRelay();
    m_publisherHandle = m_privateId = 0;
    std::function<void()> cameraChanged;
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.speakers.clear();
        if (std::exchange(m_state.mediaCamera, false))
            cameraChanged = m_state.cameraChanged; // the camera is free for the own tile again
        m_state.interruptedMedia.clear();
        m_state.noCameraSent = false;
    }
    if (cameraChanged)
        cameraChanged();
}

void MediaSession::closeRelay()
{
    JanusClient *janus = m_janus.release();
    if (!janus)
        return;
    janus->disconnect(this);
    janus->setParent(this); // gone with the session at the latest
    ++m_closing;
    janus->close([this, janus](bool confirmed) {
        qCDebug(lcMedia, "relay session closed%s", confirmed ? "" : " without an answer");
        janus->deleteLater();
        if (--m_closing == 0)
            for (const auto &done : std::exchange(m_whenClosed, {}))
                done();
    });
}

void MediaSession::whenClosed(std::function<void()> done)
{
    if (m_closing == 0)
        done();
    else
        m_whenClosed.append(std::move(done));
}

void MediaSession::setInterrupted(const QString &uri, bool interrupted)
{
    {
        QMutexLocker lock(&m_state.mutex);
        if (interrupted)
            m_state.interruptedMedia.insert(uri);
        else if (!m_state.interruptedMedia.remove(uri))
            return;
    }
    repaint();
}

/// The relay is gone (stopped, restarted, or it forgot the session): the call stays, and its
/// media come back through a new session, tried again with a growing pause.
void MediaSession::lose(const QString &note)
{
    qCDebug(lcMedia, "media lost");
    teardown();
    setNote(note);
    if (note != mediaLost || m_media.isEmpty()) {
        m_media = {}; // the call carries no media: nothing to try again
        stopShare();
        return;
    }
    qInfo("media: the relay is gone; connecting again in %d ms", m_retryMs);
    m_reconnect.start(m_retryMs);
    m_retryMs = std::min(2 * m_retryMs, lastRetryMs);
}

void MediaSession::setNote(const QString &note)
{
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.mediaNote = note;
    }
    repaint();
}

void MediaSession::repaint()
{
    std::function<void()> repaint;
    {
        QMutexLocker lock(&m_state.mutex);
        repaint = m_state.repaint;
    }
    if (repaint)
        repaint();
}

/// The relay did not let the call in. The room not there (yet) means a relay starting again. A
/// relay starting again may also refuse the admission for a moment, but one refused again and
/// again stays refused, and asking for the rest of the call helps nobody.
void MediaSession::refused(const QJsonObject &data)
{
    qWarning("media: the relay refuses the call: %s", qPrintable(data.value("error").toString()));
    const bool unauthorised = data.value("error_code").toInt() == unauthorisedCode;
    m_refusals = unauthorised ? m_refusals + 1 : 0;
    lose(m_refusals >= refusalsToGiveUp ? noMedia : mediaLost);
}

void MediaSession::publisherEvent(const QJsonObject &data, const QJsonObject &jsep)
{
    const QString kind = data.value("videoroom").toString();
    if (kind == u"joined")
        joined(data);
    else if (data.value("error_code").toInt() == idTakenCode && m_privateId == 0)
        return idTaken();
    else if (data.contains("error") && m_privateId == 0)
        return refused(data);
    else if (jsep.value("type").toString() == u"answer" && m_publisher) {
        m_publisherAnswered = true;
        m_publisher->setAnswer(jsep.value("sdp").toString());
    }
    if (kind == u"talking" || kind == u"stopped-talking")
        talking(data.value("id").toInteger(), kind == u"talking");
    if (data.contains("error"))
        qWarning("media: %s", qPrintable(data.value("error").toString()));
    addPublishers(data.value("publishers").toArray());
    for (const char *gone : {"unpublished", "leaving"}) {
        const QJsonValue id = data.value(QLatin1String(gone));
        if (id.isDouble())
            m_subscriptions.feedGone(id.toInteger(), qstrcmp(gone, "unpublished") == 0);
    }
}

void MediaSession::idTaken()
{
    qInfo("media: the own publisher id is taken at the relay: joining again in %d ms", m_retryMs);
    if (publisherTaken)
        publisherTaken(m_ownId);
    m_rejoin.start(m_retryMs);
    m_retryMs = std::min(2 * m_retryMs, lastRetryMs);
}

/// The relay tells every publisher of the room, this one included, who starts and stops
/// speaking, from the audio level the packets carry.
void MediaSession::talking(qint64 feed, bool speaking)
{
    const QString uri = feed == m_ownId ? m_selfUri : m_subscriptions.uriOf(feed);
    if (uri.isEmpty())
        return;
    qCDebug(lcMedia, "%s %s speaking", qPrintable(uri), speaking ? "starts" : "stops");
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.speakers.setSpeaking(uri, speaking, SpeakerStage::clockMs());
    }
    repaint();
}

void MediaSession::joined(const QJsonObject &data)
{
    m_privateId = data.value("private_id").toInteger();
    m_ownId = data.value("id").toInteger(m_ownId);
    m_retryMs = firstRetryMs;
    m_refusals = 0;
    setNote({});
    publish();
    m_subscriptions.joined({m_janus.get(), m_room, m_privateId, m_token, m_ownId, m_selfUri,
                            m_connectTimeoutMs, m_recordFolder, &m_ice});
    m_share.joined(
        {m_janus.get(), m_room, m_token, m_selfUri, m_shareId, m_connectTimeoutMs, &m_ice});
}

void MediaSession::publish()
{
    m_sent = sending();
    followSpeaker();
    m_publisher = new Publisher(MediaPipeline::publisher(m_sent), this);
    m_publisherAnswered = false;
    limitConnecting(m_publisher);
    if (m_state.testSendLoss >= 0)
        m_publisher->setPacketLoss(&m_state.testSendLoss);
    m_links.publishing(m_publisher, m_selfUri, m_sent);
    std::function<void()> repaint;
    {
        QMutexLocker lock(&m_state.mutex);
        repaint = m_state.repaint;
    }
    // The painter leaves the own tile empty while the camera is switched off.
    m_publisher->setSelfView(&m_state.cameraFrame, repaint);
    connect(m_publisher, &WebRtcPeer::localDescription, this, [this](const QJsonObject &jsep) {
        m_janus->message(m_publisherHandle,
                         {{"request", "publish"},
                          {"audio_codec", "opus"},
                          {"video_codec", "vp8"},
                          {"bitrate", MediaPipeline::videoFormat(m_sent.videoLevel).bitrate}},
                         jsep);
    });
    connect(m_publisher, &WebRtcPeer::localCandidate, this,
            [this](const QJsonObject &c) { m_janus->trickle(m_publisherHandle, c); });
    connect(m_publisher, &WebRtcPeer::connected, this, [this] {
        m_publishRetry.succeeded();
        setInterrupted(m_selfUri, false);
    });
    // Queued: the publisher that says so is deleted in answer.
    connect(
        m_publisher, &WebRtcPeer::mediaLost, this,
        [this, publisher = QPointer<Publisher>(m_publisher)] {
            if (publisher && publisher == m_publisher)
                publisherLost();
        },
        Qt::QueuedConnection);
    if (!m_publisher->start())
        return lose(noMedia);
    if (const int ms = std::exchange(m_publisherFailsAfterMs, 0); ms > 0)
        m_publisher->failAfter(ms);
    follow();
    m_publisher->setMicrophoneMuted(m_microphoneMuted);
}

void MediaSession::watchStreams(JanusClient *janus)
{
    connect(janus, &JanusClient::hangup, this, [this](qint64 handle, const QString &reason) {
        qInfo("media: the relay hung up stream %lld: %s", handle, qPrintable(reason));
        streamLost(handle);
    });
    connect(janus, &JanusClient::receiving, this,
            [this](qint64 handle, const QString &type, bool on) {
                if (!aboutPublisher(handle) || type != u"audio")
                    return;
                if (on)
                    m_audioSilent.stop();
                else
                    m_audioSilent.start();
            });
    connect(janus, &JanusClient::connected, this, [this](qint64 handle) {
        if (handle == m_publisherHandle)
            setInterrupted(m_selfUri, false);
        else
            m_subscriptions.connected(handle);
    });
}

/// The peer connection of the stream on `handle` is gone.
void MediaSession::streamLost(qint64 handle)
{
    if (aboutPublisher(handle))
        return publisherLost();
    if (handle == m_publisherHandle) {
        qInfo("media: that was an earlier connection of the sent media");
        return;
    }
    m_subscriptions.streamLost(handle);
}

/// Janus's events about one connection of a handle come before its answer to the next offer on
/// that handle, through the same poll: until the running publisher's answer, they are about a
/// connection it replaced.
bool MediaSession::aboutPublisher(qint64 handle) const
{
    return handle == m_publisherHandle && m_publisher && m_publisherAnswered;
}

void MediaSession::publisherLost()
{
    if (!m_publisher)
        return;
    m_audioSilent.stop();
    delete std::exchange(m_publisher, nullptr);
    clearMarks(m_selfUri); // the relay says nothing more of a voice it no longer receives
    setInterrupted(m_selfUri, true);
    // The others see the media go; a new offer follows on the same handle.
    m_janus->message(m_publisherHandle, {{"request", "unpublish"}});
    m_publishRetry.schedule([this] {
        if (m_janus && m_privateId != 0 && !m_publisher)
            publish();
    });
}

/// Whatever waits to be tried again is tried now, the relay session first.
void MediaSession::networkReturned()
{
    if (m_reconnect.isActive()) {
        m_reconnect.stop();
        m_retryMs = firstRetryMs;
        return connectRelay();
    }
    m_publishRetry.retryNow();
    m_subscriptions.retryNow();
    m_share.retryNow();
}

void MediaSession::limitConnecting(WebRtcPeer *peer) const
{
    peer->setIceServers(m_ice);
    if (m_connectTimeoutMs > 0)
        peer->setConnectTimeout(m_connectTimeoutMs);
}

void MediaSession::addPublishers(const QJsonArray &list)
{
    for (const QJsonValue &value : list) {
        const QJsonObject p = value.toObject();
        const qint64 feed = p.value("id").toInteger();
        // Who already speaks when this participant joins is told only here: the relay's
        // events say when speaking starts or stops.
        if (m_subscriptions.add(feed) && p.contains("talking"))
            talking(feed, p.value("talking").toBool());
    }
}

void MediaSession::clearMarks(const QString &uri)
{
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.speakers.setSpeaking(uri, false, SpeakerStage::clockMs());
    }
    m_links.forget(uri);
}

void MediaSession::setMicrophoneMuted(bool muted)
{
    m_microphoneMuted = muted;
    if (m_publisher)
        m_publisher->setMicrophoneMuted(muted);
}

void MediaSession::follow()
{
    bool speakerMuted, cameraOff;
    {
        QMutexLocker lock(&m_state.mutex);
        speakerMuted = m_state.speakerMuted;
        cameraOff = m_state.cameraPrivacy;
        m_state.noCameraSent = m_publisher && m_sent.noCamera;
    }
    if (m_publisher)
        m_publisher->setCameraOff(cameraOff || m_sent.noCamera);
    m_subscriptions.setSpeakerMuted(speakerMuted);
}

void MediaSession::startShare(const ShareSource &source)
{
    m_share.start(source);
}

void MediaSession::stopShare()
{
    m_share.stop();
}

void MediaSession::reconfigure()
{
    if (!m_publisher)
        return; // the publisher, once built, reads the record then
    const MediaPipeline::Sending next = sending();
    m_links.setSending(next); // before the new level's rate is read
    if (MediaPipeline::cameraSource(next) != MediaPipeline::cameraSource(m_sent))
        m_publisher->replaceInput("videoinput", MediaPipeline::videoInput(next));
    if (next.videoLevel != m_sent.videoLevel) {
        const MediaPipeline::VideoFormat format = MediaPipeline::videoFormat(next.videoLevel);
        m_publisher->setVideoFormat(MediaPipeline::videoCaps(next), m_links.rate(), format.fps * 2);
    }
    // Replaced rather than moved at the sound server: here that reached the others sooner.
    if (next.microphone != m_sent.microphone || next.echoCancellation != m_sent.echoCancellation ||
        next.automaticGain != m_sent.automaticGain || next.toneHz != m_sent.toneHz)
        m_publisher->replaceInput("audioinput", MediaPipeline::audioInput(next));
    const bool newLevel = next.videoLevel != m_sent.videoLevel;
    const bool cameraToggled = next.noCamera != m_sent.noCamera;
    m_sent = next;
    if (newLevel)
        tellBitrate();
    if (cameraToggled)
        follow();
    followSpeaker();
    qCDebug(lcMedia, "reconfigured: %s", qPrintable(describe()));
}

void MediaSession::tellBitrate()
{
    if (m_janus && m_publisherHandle != 0)
        m_janus->message(m_publisherHandle,
                         {{"request", "configure"}, {"bitrate", m_links.rate()}});
}

QList<WebRtcPeer *> MediaSession::peers() const
{
    QList<WebRtcPeer *> all = m_subscriptions.peers();
    for (WebRtcPeer *peer : std::initializer_list<WebRtcPeer *>{m_publisher, m_share.publisher()})
        if (peer)
            all.append(peer);
    return all;
}

void MediaSession::followSpeaker()
{
    m_mix.setOutput(m_speakerDevice, m_echoWanted);
}

QString MediaSession::describe() const
{
    if (!m_publisher)
        return {};
    QStringList links{QStringLiteral("own: ") + m_publisher->link().describe()};
    if (const Publisher *share = m_share.publisher())
        links.append(QStringLiteral("own share: ") + share->link().describe());
    links.append(m_subscriptions.describe());
    QString text =
        QStringLiteral("relay session %1, sending from %2; speaker %3; links: %4")
            .arg(QString::number(m_janus ? m_janus->session() : 0), m_publisher->describe(),
                 m_speakerDevice.isEmpty() ? QStringLiteral("default") : m_speakerDevice,
                 links.join(QStringLiteral("; ")));
    if (const QString servers = m_publisher->iceServersInUse(); !servers.isEmpty())
        text += QStringLiteral("; ice servers: ") + servers;
    return text;
}
