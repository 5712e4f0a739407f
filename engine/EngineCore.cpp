#include "engine/EngineCore.h"

#include "bridge/shared/ConfRecords.h"
#include "bridge/shared/ConferenceMessages.h"
#include "engine/EngineSettings.h"
#include "engine/MediaModule.h"
#include "engine/PortalShare.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QThread>
#include <QUrl>

namespace CR = ConfRecords;

namespace CM = ConferenceMessages;
namespace CF = ConferenceMessages::Field;

namespace {

constexpr int connectTimeoutMs = 8000;
// How long a quitting host waits for the service to confirm a sign-out just sent.
constexpr int signOutGraceMs = 1500;

/// "http://host:port" → "ws://host:port/conference"; empty when the address is no portal.
QUrl serviceUrl(const QString &portal)
{
    QUrl url(portal.contains(QLatin1String("://")) ? portal : QStringLiteral("http://") + portal);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    url.setScheme(url.scheme() == u"https" ? QStringLiteral("wss") : QStringLiteral("ws"));
    url.setPath(QStringLiteral("/conference"));
    url.setQuery(QString());
    return url;
}

} // namespace

EngineCore::EngineCore(EngineState &state)
    : m_state(state)
    , m_connectTimer(new QTimer(this))
    , m_pingTimer(new QTimer(this))
    , m_shutdownTimer(new QTimer(this))
    , m_pingIntervalMs(EngineSettings().pingIntervalMs)
    , m_silenceLimitMs(EngineSettings().silenceLimitMs)
    , m_ssl(EngineSettings().sslConfiguration())
{
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_socket && m_socket->state() != QAbstractSocket::ConnectedState)
            m_socket->abort();
    });
    connect(m_pingTimer, &QTimer::timeout, this, &EngineCore::keepAlive);
    m_shutdownTimer->setSingleShot(true);
    connect(m_shutdownTimer, &QTimer::timeout, this, &EngineCore::finishShutdown);
}

void EngineCore::fire(uint32_t event, QByteArray record)
{
    ConfClientOutEventCallback callback;
    void *userData;
    {
        QMutexLocker lock(&m_state.mutex);
        callback = m_state.callback;
        userData = m_state.userData;
    }
    if (callback)
        callback(event, record.isEmpty() ? nullptr : record.data(), uint32_t(record.size()),
                 userData);
}

void EngineCore::fireCode(uint32_t event, int32_t value, uint32_t size)
{
    QByteArray record = CR::zeroed(size);
    CR::writeI32(record, 0, value);
    fire(event, record);
}

void EngineCore::announceStart()
{
    PortalShare::watch(this); // on this thread: the share list answers from what it heard
    fire(CR::OutStarted);
    fire(CR::OutApplyConfiguration); // the user's stored choices, before any call
}

MediaEngine *EngineCore::media()
{
    if (!m_mediaTried) {
        m_mediaTried = true;
        m_media = MediaModule::create(m_state, this);
        if (m_media)
            m_media->shareLost = [this] { stopShare(); }; // the others see the share end
        if (m_media)
            m_media->publisherTaken = [this](qint64 id) {
                send({{CM::Type, CM::PublisherTaken}, {CF::Id, id}});
            };
    }
    return m_media;
}

/// Without the media module the call goes on, and the tiles say it carries no media.
void EngineCore::noMedia()
{
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.mediaNote = QString::fromUtf8(EngineState::noMediaNote);
    }
    tellViews(false);
}

/// Tells the video view, and with `camera` the camera feed, that the state changed: copies of
/// their callbacks taken under the lock, called once it is released (their owners may take it).
void EngineCore::tellViews(bool camera)
{
    std::function<void()> repaint, cameraChanged;
    {
        QMutexLocker lock(&m_state.mutex);
        repaint = m_state.repaint;
        if (camera)
            cameraChanged = m_state.cameraChanged;
    }
    if (repaint)
        repaint();
    if (cameraChanged)
        cameraChanged();
}

void EngineCore::markConference(bool on)
{
    m_inConference = on;
    if (!on)
        m_sharing = false;
    if (!on && m_media)
        m_media->stop(); // leaving unpublishes and ends every subscription
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.inConference = on;
        if (!on) {
            m_state.mediaNote.clear();
            m_state.pinnedUri.clear();
            m_state.selfUri.clear();
        }
    }
    tellViews(true);
}

void EngineCore::announceDevicesChanged()
{
    fire(CR::OutDevicesChanged);
    fire(CR::OutApplyConfiguration); // the stored indices now point into the new lists
}

void EngineCore::configurationChanged()
{
    if (m_media && m_inConference)
        m_media->reconfigure();
}

void EngineCore::connectTo(const QString &portal, Purpose purpose)
{
    const QUrl url = serviceUrl(portal);
    if (url.isEmpty()) {
        if (purpose == Purpose::SignIn)
            fireCode(CR::OutSignInFailed, CR::Code::NotAPortal, 4);
        else
            fireCode(CR::OutRoomLink, CR::Code::RoomRefused, 4);
        return;
    }
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState && m_portal == portal) {
        m_purpose = purpose;
        send(m_pending);
        return;
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_signedIn = m_inConference = m_signingOut = false;
    m_portal = portal;
    m_purpose = purpose;
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    connect(m_socket, &QWebSocket::connected, this, &EngineCore::onConnected);
    connect(m_socket, &QWebSocket::disconnected, this, &EngineCore::onDisconnected);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &EngineCore::onMessage);
    connect(m_socket, &QWebSocket::pong, this, &EngineCore::heard);
    // A certificate that fails verification ends the connection before anything is sent.
    m_untrusted = false;
    m_socket->setSslConfiguration(m_ssl);
    connect(m_socket, &QWebSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        m_untrusted = true;
        for (const QSslError &e : errors)
            qWarning("the conference service's certificate is refused: %s",
                     qPrintable(e.errorString()));
    });
    m_connectTimer->start(connectTimeoutMs);
    m_socket->open(url);
}

void EngineCore::onConnected()
{
    m_connectTimer->stop();
    startKeepAlive();
    send(m_pending);
}

void EngineCore::startKeepAlive()
{
    m_lastHeard.start();
    m_pingTimer->start(m_pingIntervalMs);
}

void EngineCore::heard()
{
    m_lastHeard.restart();
}

/// A silent service is dropped like a closed connection: the same out-events follow.
void EngineCore::keepAlive()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (m_lastHeard.elapsed() > m_silenceLimitMs)
        m_socket->abort();
    else
        m_socket->ping();
}

void EngineCore::onDisconnected()
{
    m_connectTimer->stop();
    m_pingTimer->stop();
    m_signingOut = false;
    const bool wasConnected = m_signedIn || m_inConference;
    const Purpose purpose = m_purpose;
    const QString reason = m_socket ? m_socket->errorString() : QString();
    if (m_socket) {
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    if (m_inConference) {
        markConference(false);
        fire(CR::OutConferenceEnded);
    }
    if (m_signedIn) {
        m_signedIn = false;
        fireCode(CR::OutSignedOut, 0, CR::Out::SignOutSize);
    }
    if (m_shuttingDown)
        finishShutdown();
    if (wasConnected || purpose == Purpose::None)
        return;
    // Never got through: the address answers no conference service, or nothing answers.
    m_purpose = Purpose::None;
    const bool httpAnswered = reason.contains(QLatin1String("404")) ||
                              reason.contains(QLatin1String("upgrade"), Qt::CaseInsensitive);
    if (purpose == Purpose::SignIn)
        fireCode(CR::OutSignInFailed,
                 m_untrusted    ? CR::Code::UntrustedCertificate
                 : httpAnswered ? CR::Code::NotAPortal
                                : CR::Code::Unreachable,
                 4);
    else
        fireCode(CR::OutRoomLink, CR::Code::RoomRefused, 4);
}

void EngineCore::send(const QJsonObject &message)
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState && !message.isEmpty())
        m_socket->sendTextMessage(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void EngineCore::handleEvent(uint32_t id, const QByteArray &r)
{
    switch (id) {
    case CR::EventSignIn:
        m_pending = {{CM::Type, CM::SignIn},
                     {CF::User, CR::readText(r, CR::SignIn::UserName, CR::SignIn::UserNameWidth)},
                     {CF::Password, CR::readText(r, CR::SignIn::Password, CR::TextWidth)}};
        connectTo(CR::readText(r, CR::SignIn::Portal, CR::TextWidth), Purpose::SignIn);
        break;
    case CR::EventGuestJoin:
        m_pending = {
            {CM::Type, CM::GuestJoin},
            {CF::RoomKey, CR::readText(r, CR::GuestJoin::RoomKey, CR::GuestJoin::RoomKeyWidth)},
            {CF::Name,
             CR::readText(r, CR::GuestJoin::DisplayName, CR::GuestJoin::DisplayNameWidth)},
            {CF::Pin, CR::readText(r, CR::GuestJoin::Pin, CR::GuestJoin::PinWidth)}};
        connectTo(CR::readText(r, CR::GuestJoin::Portal, CR::TextWidth), Purpose::GuestJoin);
        break;
    case CR::EventSignOut:
        if (m_signedIn) {
            m_signingOut = true;
            send({{CM::Type, CM::SignOut}});
        } else
            fireCode(CR::OutSignedOut, 0, CR::Out::SignOutSize);
        break;
    case CR::EventCancelJoin:
    case CR::EventLeave:
        leaveOrCancel();
        break;
    case CR::EventAcceptCall:
    case CR::EventDeclineCall:
        send({{CM::Type, CM::Answer}, {CF::Accept, id == CR::EventAcceptCall}});
        break;
    case CR::EventMuteMicrophone:
        send({{CM::Type, CM::Mute}, {CF::Muted, !r.isEmpty() && r[0] == 1}});
        if (m_media)
            m_media->setMicrophoneMuted(!r.isEmpty() && r[0] == 1);
        break;
    case CR::EventMuteSpeaker:
    case CR::EventMuteCamera: {
        {
            QMutexLocker lock(&m_state.mutex);
            (id == CR::EventMuteSpeaker ? m_state.speakerMuted : m_state.cameraPrivacy) =
                !r.isEmpty() && r[0] == 1;
        }
        tellViews(true);
        if (m_media)
            m_media->follow();
        break;
    }
    case CR::EventShare:
        sendShare(r);
        break;
    case CR::EventStopShare:
        stopShare();
        break;
    case CR::EventChat:
        send({{CM::Type, CM::Chat},
              {CF::To, CR::readText(r, CR::Chat::Destination, CR::TextWidth)},
              {CF::Text, CR::readText(r, CR::Chat::Message, CR::Chat::MessageWidth)}});
        break;
    case CR::EventFilePath:
        readSettings(CR::readText(r, 0, CR::FilePath::Size));
        break;
    case CR::EventPin: {
        {
            QMutexLocker lock(&m_state.mutex);
            m_state.pinnedUri = CR::readU32(r, CR::Pin::Action) == CR::Pin::ActionPin
                                    ? CR::readText(r, CR::Pin::Uri, CR::TextWidth)
                                    : QString();
        }
        tellViews(false);
        break;
    }
    case CR::EventTextCommand:
        // "#CONF_API% Request <id> Status <what>": only the conference's details are known.
        if (CR::readText(r, 0, CR::TextCommand::Size).section(u' ', -1) ==
            QLatin1String(CR::TextCommand::ConferenceDetailsName))
            logDetails();
        break;
    case CR::EventPreviewMode: {
        {
            QMutexLocker lock(&m_state.mutex);
            m_state.previewMode = int(CR::readU32(r, 0) % 3);
        }
        tellViews(false);
        break;
    }
    default:
        break;
    }
}

/// Only a conference that is running ends, and only once: after its end, or before any
/// conference, leaving reports nothing. A guest join still under way is simply dropped.
void EngineCore::leaveOrCancel()
{
    if (m_inConference) {
        send({{CM::Type, CM::Leave}});
        return;
    }
    if (m_purpose != Purpose::GuestJoin)
        return;
    m_purpose = Purpose::None;
    m_pending = {};
    if (m_signedIn) {
        send({{CM::Type, CM::Leave}});
        return;
    }
    if (m_socket) { // a guest's connection serves only its join
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_connectTimer->stop();
    m_pingTimer->stop();
}

/// One line in the log: who is in the call, which share is watched, and how many pictures
/// arrived from each participant and share, so that a silent or frozen tile can be told apart
/// from media that never came.
void EngineCore::logDetails()
{
    if (!m_inConference) {
        qInfo("conference details: not in a conference");
        return;
    }
    QStringList received;
    QString summary;
    {
        QMutexLocker lock(&m_state.mutex);
        for (auto it = m_state.remoteVideo.cbegin(); it != m_state.remoteVideo.cend(); ++it) {
            const FrameSlot::Picture latest = it.value()->latest();
            received.append(QStringLiteral("camera of %1 %2 %3x%4")
                                .arg(it.key())
                                .arg(latest.count)
                                .arg(latest.decoded.width())
                                .arg(latest.decoded.height()));
        }
        for (auto it = m_state.shareVideo.cbegin(); it != m_state.shareVideo.cend(); ++it)
            received.append(
                QStringLiteral("share of %1 %2").arg(it.key()).arg(it.value()->latest().count));
        summary = QStringLiteral("%1 participants, %2 shares, share %3 watched")
                      .arg(m_state.participants.size())
                      .arg(m_state.shares.size())
                      .arg(m_state.shownShare);
        if (!m_state.mediaNote.isEmpty())
            summary += QStringLiteral(", ") + m_state.mediaNote;
        for (const QString &uri : std::as_const(m_state.interruptedMedia))
            summary +=
                QStringLiteral(", %1 %2").arg(QString::fromUtf8(EngineState::mediaLostNote), uri);
        summary += QStringLiteral("; ") + speakingDetails();
    }
    if (const QString media = m_media ? m_media->describe() : QString(); !media.isEmpty())
        summary += QStringLiteral("; ") + media;
    qInfo("conference details: %s; pictures received: %s", qUtf8Printable(summary),
          received.isEmpty() ? "none" : qUtf8Printable(received.join(QStringLiteral(", "))));
}

/// Who speaks and who has the stage, each by name and URI; called with the state locked.
QString EngineCore::speakingDetails()
{
    const auto named = [this](const QString &uri) {
        for (const EngineState::Participant &p : std::as_const(m_state.participants))
            if (p.uri == uri)
                return QStringLiteral("%1 (%2)").arg(p.name, uri);
        return QStringLiteral("(%1)").arg(uri);
    };
    QStringList speaking;
    for (const QString &uri : m_state.speakers.speaking())
        speaking.append(named(uri));
    const QString stage =
        m_state.speakers.staged(SpeakerStage::clockMs(), m_state.pinnedUri, m_state.selfUri);
    return QStringLiteral("speaking: %1; stage: %2")
        .arg(speaking.isEmpty() ? QStringLiteral("nobody") : speaking.join(QStringLiteral(", ")),
             stage.isEmpty() ? QStringLiteral("nobody") : named(stage));
}

void EngineCore::shutdown()
{
    m_shuttingDown = true;
    if (m_signingOut && m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->flush();
        m_shutdownTimer->start(signOutGraceMs);
    } else {
        m_signingOut = false;
    }
    if (!m_media)
        return mediaClosed();
    m_media->stop(); // the relay session closes too, within about a second
    m_media->whenClosed([this] { mediaClosed(); });
}

void EngineCore::mediaClosed()
{
    m_mediaClosed = true;
    finishShutdown();
}

/// Once the media are closed, and the sign-out is answered or its grace is over.
void EngineCore::finishShutdown()
{
    if (!m_mediaClosed || (m_signingOut && m_shutdownTimer->isActive()))
        return;
    m_shutdownTimer->stop();
    m_pingTimer->stop();
    thread()->quit();
}

void EngineCore::readSettings(const QString &path)
{
    const EngineSettings settings(path);
    m_pingIntervalMs = settings.pingIntervalMs;
    m_silenceLimitMs = settings.silenceLimitMs;
    m_ssl = settings.sslConfiguration();
    // Started again only for a new interval: settings read more often than the pings go out
    // would otherwise hold every ping back, and the silence they leave would end the connection.
    if (m_pingTimer->isActive() && m_pingTimer->interval() != m_pingIntervalMs)
        m_pingTimer->start(m_pingIntervalMs);
    const bool testCamera = settings.testCamera;
    m_state.testSendLoss = settings.testSendLoss;
    std::function<void()> reread;
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.settingsPath = path;
        if (m_state.testCamera == testCamera)
            return;
        m_state.testCamera = testCamera;
        reread = m_state.devicesChanged;
    }
    if (reread)
        reread(); // the generated camera joins the device list
}

/// The service announces the share by name, in the sharer's language as the others' tiles show
/// it; its picture goes through the media engine.
void EngineCore::sendShare(const QByteArray &r)
{
    namespace S = CR::ShareCommand;
    if (PortalShare::offered() != 0) { // the share starts once the desktop's chooser answers
        portalShare()->choose(CR::readU32(r, S::Kind) == S::KindScreen);
        return;
    }
    MediaEngine::ShareSource source;
    QString name;
    if (CR::readU32(r, S::Kind) == S::KindScreen) {
        const QString screen = CR::readText(r, S::ScreenId, S::ScreenIdWidth);
        name = QCoreApplication::translate("CallRenderer", "屏幕 %1").arg(screen);
        source = {0, CR::readI32(r, S::Rect), CR::readI32(r, S::Rect + 4),
                  int(CR::readU32(r, S::Rect + 8)), int(CR::readU32(r, S::Rect + 12))};
        QMutexLocker lock(&m_state.mutex);
        for (const EngineState::Screen &s : std::as_const(m_state.screens))
            if (s.id == screen)
                source = {0, s.x, s.y, s.width, s.height};
    } else {
        const quint32 id = CR::readU32(r, S::Id);
        name = QCoreApplication::translate("CallRenderer", "窗口 %1").arg(id);
        source.window = id;
        QMutexLocker lock(&m_state.mutex);
        for (const EngineState::Window &w : std::as_const(m_state.windows))
            if (w.id == id)
                source = {id, w.x, w.y, w.width, w.height};
    }
    beginShare(source, name);
}

void EngineCore::beginShare(const MediaEngine::ShareSource &source, const QString &name)
{
    send({{CM::Type, CM::Share}, {CF::Name, name}});
    m_sharing = true;
    m_share = source;
    if (m_media)
        m_media->startShare(source);
}

PortalShare *EngineCore::portalShare()
{
    if (!m_portalShare) {
        m_portalShare = new PortalShare(m_state, this);
        connect(m_portalShare, &PortalShare::ready, this, &EngineCore::beginShare);
        connect(m_portalShare, &PortalShare::ended, this, &EngineCore::stopShare);
    }
    return m_portalShare;
}

void EngineCore::stopShare()
{
    if (m_portalShare)
        m_portalShare->stop();
    send({{CM::Type, CM::StopShare}});
    m_sharing = false;
    if (m_media)
        m_media->stopShare();
}

void EngineCore::onMessage(const QString &text)
{
    heard();
    const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = m.value(CM::Type).toString();
    if (type == CM::SignedIn) {
        m_signedIn = true;
        m_purpose = Purpose::None;
        fire(CR::OutSignedIn);
        QByteArray state = CR::zeroed(CR::Out::SignInStateSize);
        CR::writeI32(state, 0, 1);
        fire(CR::OutSignInState, state);
        fire(CR::OutApplyConfiguration); // the signed-in user's choices
    } else if (type == CM::SignInFailed) {
        m_purpose = Purpose::None;
        fireCode(CR::OutSignInFailed, m.value(CF::Code).toInt(CR::Code::WrongPassword), 4);
    } else if (type == CM::SignedOut) {
        m_signedIn = m_signingOut = false;
        fireCode(CR::OutSignedOut, m.value(CF::Reason).toInt(), CR::Out::SignOutSize);
        if (m_shuttingDown)
            finishShutdown();
    } else if (type == CM::RoomLink) {
        m_purpose = Purpose::None;
        fireCode(CR::OutRoomLink, m.value(CF::Result).toInt(), 4);
    } else if (type == CM::Conference) {
        {
            QMutexLocker lock(&m_state.mutex);
            m_state.selfUri = m.value(CF::Uri).toString();
        }
        markConference(true);
        fire(CR::OutConferenceActive);
    } else if (type == CM::Participants) {
        updateParticipants(m.value(CF::Participants).toArray());
        fire(CR::OutParticipantsChanged);
    } else if (type == CM::ConferenceEnded) {
        if (!m_inConference)
            return; // reported already, when the connection of the conference went
        markConference(false);
        {
            QMutexLocker lock(&m_state.mutex);
            m_state.participants.clear();
            m_state.shares.clear();
            m_state.shownShare = 0;
        }
        fire(CR::OutConferenceEnded);
        if (!m_signedIn && m_socket)
            m_socket->close(); // a guest's connection ends with its conference
    } else if (type == CM::Chat) {
        chatReceived(m);
    } else if (type == CM::Media) {
        if (!m_inConference)
            return;
        // A call without a relay loads no media module.
        const bool available = m.value(CF::Available).toBool();
        if (MediaEngine *engine = available ? media() : m_media) {
            fire(CR::OutApplyConfiguration); // the call starts with what the settings say now
            engine->start(m);
            if (m_sharing)
                engine->startShare(m_share);
        } else {
            noMedia();
        }
    } else if (type == CM::IceServers) {
        if (m_media && m_inConference)
            m_media->renewIceServers(m.value(CF::IceServers).toArray());
    } else if (type == CM::RelayToken) {
        if (m_media && m_inConference)
            m_media->renewRelayToken(m.value(CF::RelayToken).toString());
    } else if (type == CM::Feeds) {
        if (m_media && m_inConference)
            m_media->setFeeds(m.value(CF::Feeds).toArray());
    } else if (type == CM::FarEndMute) {
        if (m_media && m.value(CF::Muted).toBool())
            m_media->setMicrophoneMuted(true);
        fire(CR::OutFarEndMute, QByteArray(1, m.value(CF::Muted).toBool() ? '\1' : '\0'));
    } else if (type == CM::IncomingCall) {
        QByteArray record = CR::zeroed(CR::Out::CallerNameWidth);
        CR::writeText(record, 0, CR::Out::CallerNameWidth, m.value(CF::Caller).toString());
        fire(CR::OutIncomingCall, record);
    } else if (type == CM::CallTimeout) {
        fire(CR::OutIncomingCallTimeout);
    } else if (type == CM::ShareStarted) {
        shareStarted(m.value(CF::Uri).toString(), m.value(CF::Name).toString());
    } else if (type == CM::ShareEnded) {
        shareEnded(m.value(CF::Uri).toString());
    }
}

void EngineCore::updateParticipants(const QJsonArray &list)
{
    QList<EngineState::Participant> participants;
    for (const QJsonValue &value : list) {
        const QJsonObject p = value.toObject();
        participants.append({p.value(CF::Uri).toString(), p.value(CF::Name).toString(),
                             p.value(CF::ParticipantId).toString(),
                             p.value(CF::EntityId).toString(), p.value(CF::Role).toInt(),
                             p.value(CF::MicMuted).toBool()});
    }
    {
        QMutexLocker lock(&m_state.mutex);
        m_state.participants = participants;
    }
    tellViews(false);
}

void EngineCore::shareStarted(const QString &uri, const QString &name)
{
    {
        QMutexLocker lock(&m_state.mutex);
        if (m_state.shares.size() >= int(CR::RemoteShare::MaxShares) - 1)
            return;
        m_state.shares.append({uri, name});
        if (m_state.shownShare == 0)
            m_state.shownShare = int(m_state.shares.size());
    }
    tellViews(false);
    QByteArray record = CR::zeroed(CR::TextWidth);
    CR::writeText(record, 0, CR::TextWidth, uri);
    fire(CR::OutRemoteShareStarted, record);
}

void EngineCore::shareEnded(const QString &uri)
{
    {
        QMutexLocker lock(&m_state.mutex);
        for (qsizetype i = 0; i < m_state.shares.size(); ++i) {
            if (m_state.shares[i].uri != uri)
                continue;
            m_state.shares.removeAt(i);
            if (m_state.shownShare == i + 1)
                m_state.shownShare = m_state.shares.isEmpty() ? 0 : 1;
            else if (m_state.shownShare > i + 1)
                --m_state.shownShare;
            break;
        }
    }
    QByteArray record = CR::zeroed(CR::TextWidth);
    CR::writeText(record, 0, CR::TextWidth, uri);
    fire(CR::OutRemoteShareEnded, record);
}

void EngineCore::chatReceived(const QJsonObject &m)
{
    namespace O = CR::Out;
    QByteArray record = CR::zeroed(O::ChatSize);
    CR::writeText(record, O::ChatSenderUri, CR::TextWidth, m.value(CF::From).toString());
    CR::writeText(record, O::ChatSenderName, O::ChatSenderNameWidth, m.value(CF::Name).toString());
    CR::writeText(record, O::ChatMessage, O::ChatMessageWidth, m.value(CF::Text).toString());
    fire(m.value(CF::Private).toBool() ? CR::OutPrivateChat : CR::OutGroupChat, record);
}
