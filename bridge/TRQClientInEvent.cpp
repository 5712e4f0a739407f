#include "bridge/TRQClientInEvent.h"

#include "bridge/EngineCall.h"
#include "bridge/Helper.h"
#include "bridge/TRQClientOnOutEvent.h"
#include "bridge/shared/ConfClient.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "net/NetWork.h"
#include "net/StringHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QStandardPaths>

#include <array>
#include <atomic>

namespace CR = ConfRecords;

namespace {

/// The configuration is read, changed and written back from the main thread at start, from the
/// engine's callback thread on its request and from the push queue. Unserialised, one writer
/// puts back a record read before another's change, and that change is lost.
QMutex configurationLock;

std::atomic<qint64> previewMode = 0;

QByteArray oneByte(bool on)
{
    return QByteArray(1, on ? '\1' : '\0');
}

QString orStored(const QString &given, const QString &stored)
{
    if (!given.isEmpty())
        return given;
    return stored.isNull() ? QStringLiteral("") : stored;
}

QStringList names(const QByteArray &config, uint32_t offset, uint32_t countOffset, uint32_t max)
{
    QStringList list;
    const uint32_t count = std::min(CR::readU32(config, countOffset), max);
    for (uint32_t i = 0; i < count; ++i)
        list.append(
            CR::readText(config, offset + i * CR::Config::NameWidth, CR::Config::NameWidth));
    return list;
}

ConfRect rectAt(const QByteArray &record, uint32_t offset)
{
    ConfRect rect;
    rect.xPos = CR::readI32(record, offset);
    rect.yPos = CR::readI32(record, offset + 4);
    rect.width = CR::readU32(record, offset + 8);
    rect.height = CR::readU32(record, offset + 12);
    return rect;
}

void writeRect(QByteArray &record, uint32_t offset, const ConfRect &rect)
{
    CR::writeI32(record, offset, rect.xPos);
    CR::writeI32(record, offset + 4, rect.yPos);
    CR::writeU32(record, offset + 8, rect.width);
    CR::writeU32(record, offset + 12, rect.height);
}

// Kept for the library's whole life: it may read the texts at any time.
std::string logFolderPrefix;
const ConfClientLogParams *logParams()
{
    static ConfClientLogParams params = [] {
        // The engine's log files go with the user record into the application's data folder,
        // which must exist before the engine opens a file in it.
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir().mkpath(folder);
        logFolderPrefix = QString(folder + u'/').toStdString();
        return ConfClientLogParams{
            "fatal error warning info@App info@AppGui info@AppClient info@AppMedia "
            "info@AppVideoPace info@AppWebProxy",
            0,
            logFolderPrefix.c_str(),
            "TRQClient_",
            nullptr,
            nullptr};
    }();
    return &params;
}

// The share list's screen rows and its closing row are told apart by these names.
QString screenName()
{
    return QCoreApplication::translate("TRQClientInEvent", "共享屏幕");
}

QString cancelName()
{
    return QCoreApplication::translate("TRQClientInEvent", "取消");
}

} // namespace

QString TRQClientInEvent::stopWatchingLabel()
{
    return QCoreApplication::translate("TRQClientInEvent", "停止接受远程共享");
}

void TRQClientInEvent::ClientSyncRequestInit(ConfClientDelegate *delegate, void *videoView,
                                             const QRect &viewRect)
{
    ConfClientConsoleLogConfigure(1);
    OutEventState::attach(delegate);
    if (!ConfClientInitialize(TRQClientOnOutEvent, delegate, logParams()))
        qCWarning(lcOrvale) << "ConfClientInitialize() failed";
    const ConfClientRect rect{viewRect.x(), viewRect.y(), viewRect.width(), viewRect.height()};
    const std::array<uint8_t, 80> options{};
    const bool started = ConfClientStart(TRQClientOnOutEvent, delegate, logParams(), videoView,
                                         &rect, nullptr, options.data(), 0);
    qCInfo(lcOrvale).noquote() << (started ? "ConfClientStart() returned success!\n"
                                           : "ConfClientStart() returned failure!\n");
    ClientSyncRequestInitConfiguration();
}

void TRQClientInEvent::ClientSyncRequestInitConfiguration()
{
    QMutexLocker lock(&configurationLock);
    QByteArray config = CR::zeroed(CR::Config::Size);
    if (const uint32_t result = EngineCall::tryRequest(CR::RequestGetConfiguration, config)) {
        qCWarning(lcOrvale, "Failed to request configuration with error %u", result);
        return;
    }
    CR::writeU32(config, CR::Config::StartupOne, 1);
    CR::writeU32(config, CR::Config::StartupZero, 0);
    CR::writeU32(config, CR::Config::StartupOneAgain, 1);
    CR::writeU32(config, CR::Config::StartupTwo, 2);
    for (const uint32_t offset : CR::Config::Switches)
        config[offset] = 1;
    qCInfo(lcOrvale) << "";
    if (EngineCall::tryRequest(CR::RequestSetConfiguration, config) != 0)
        qCWarning(lcOrvale) << "Failed to set configuration";
}

void TRQClientInEvent::ClientSyncRequestSetConfiguration()
{
    QMutexLocker lock(&configurationLock);
    QByteArray config = CR::zeroed(CR::Config::Size);
    EngineCall::request(CR::RequestGetConfiguration, config);
    const Preferences prefs;
    CR::writeU32(config, CR::Config::EchoCancellation, prefs.enableEchoCancellation());
    CR::writeU32(config, CR::Config::AutomaticGain, prefs.enableAudioAGC());
    CR::writeU32(config, CR::Config::VideoPreference, prefs.videoPreferences());
    CR::writeU32(config, CR::Config::SelectedMicrophone, prefs.selectedMicDeviceNumber());
    CR::writeU32(config, CR::Config::SelectedSpeaker, prefs.selectedSpeakerDeviceNumber());
    CR::writeU32(config, CR::Config::SelectedCamera, prefs.selectedCameraDeviceNumber());
    CR::writeU32(config, CR::Config::ProxyMode,
                 prefs.alwaysUseProxy() != 0 ? CR::Config::ProxyAlways : 0);
    EngineCall::request(CR::RequestSetConfiguration, config);
}

void TRQClientInEvent::ClientSyncRequestSetUserName(const QString &name)
{
    QByteArray record = CR::zeroed(CR::SelfName::Size);
    CR::writeText(record, CR::SelfName::Name, CR::SelfName::NameWidth, name);
    EngineCall::request(CR::RequestSelfName, record);
}

void TRQClientInEvent::ClientAsyncRequestLoginWithUserName(const QString &userName,
                                                           const QString &password,
                                                           const QString &portal)
{
    const auto user = AppUser::defaultUser();
    QByteArray record = CR::zeroed(CR::SignIn::Size);
    CR::writeText(record, CR::SignIn::Portal, CR::TextWidth, orStored(portal, user->httpPortal));
    CR::writeText(record, CR::SignIn::UserName, CR::SignIn::UserNameWidth,
                  orStored(userName, user->userName));
    CR::writeText(record, CR::SignIn::Password, CR::TextWidth,
                  orStored(password, user->userPassWord));
    EngineCall::event(CR::EventSignIn, record);
}

void TRQClientInEvent::ClientAsyncRequestGuestLoginWithPortal(const QString &portal,
                                                              const QString &roomKey,
                                                              const QString &name,
                                                              const QString &pin)
{
    QByteArray record = CR::zeroed(CR::GuestJoin::Size);
    CR::writeText(record, CR::GuestJoin::Portal, CR::TextWidth, portal);
    CR::writeText(record, CR::GuestJoin::RoomKey, CR::GuestJoin::RoomKeyWidth, roomKey);
    CR::writeText(record, CR::GuestJoin::DisplayName, CR::GuestJoin::DisplayNameWidth, name);
    CR::writeText(record, CR::GuestJoin::Pin, CR::GuestJoin::PinWidth, pin);
    EngineCall::event(CR::EventGuestJoin, record);
}

void TRQClientInEvent::ClientSyncRequestCancelEnterConference()
{
    EngineCall::event(CR::EventCancelJoin);
}

static void pinEvent(const QString &uri, uint32_t action)
{
    QByteArray record = CR::zeroed(CR::Pin::Size);
    CR::writeU32(record, CR::Pin::Marker, CR::Pin::MarkerValue);
    CR::writeText(record, CR::Pin::Uri, CR::TextWidth, uri);
    CR::writeU32(record, CR::Pin::Action, action);
    EngineCall::event(CR::EventPin, record);
}

void TRQClientInEvent::ClientSyncRequestSetSomeOnePin(const QString &uri)
{
    pinEvent(uri, CR::Pin::ActionPin);
}

void TRQClientInEvent::ClientSyncRequestReleasePin(const QString &uri)
{
    pinEvent(uri, CR::Pin::ActionRelease);
}

void TRQClientInEvent::ClientSyncRequestSetPreview(qint64 mode)
{
    if (mode >= 1)
        previewMode = mode;
    const qint64 current = previewMode.fetch_add(1);
    QByteArray record = CR::zeroed(CR::Preview::Size);
    CR::writeU32(record, 0, static_cast<uint32_t>(((current % 3) + 3) % 3));
    EngineCall::event(CR::EventPreviewMode, record);
}

int32_t TRQClientInEvent::ClientSyncRequestGetParticpantsLimit()
{
    QByteArray record = CR::zeroed(CR::ParticipantLimit::RequestSize);
    EngineCall::request(CR::RequestParticipantLimit, record);
    return CR::readI32(record, CR::ParticipantLimit::Limit);
}

void TRQClientInEvent::ClientSyncRequestSetParticpantsLimit(int32_t limit)
{
    QByteArray record = CR::zeroed(CR::ParticipantLimit::EventSize);
    CR::writeI32(record, 0, limit);
    EngineCall::event(CR::EventParticipantLimit, record);
}

void TRQClientInEvent::ClientAsyncRequestMuteAudioWithParticantID(const QString &participantId,
                                                                  const QObject *context,
                                                                  std::function<void(bool)> block)
{
    const auto user = AppUser::defaultUser();
    NetWork *mute = NetWork::initWithUrlString(
        user->httpPortal + QStringLiteral("/services/v1_1/PortalUserService"),
        QStringLiteral("<ns1:MuteAudioRequest><ns1:conferenceID>%1</ns1:conferenceID>"
                       "<ns1:participantID>%2</ns1:participantID></ns1:MuteAudioRequest>")
            .arg(StringHelper::xmlEscaped(user->entityID), StringHelper::xmlEscaped(participantId)),
        QStringLiteral("MuteAudioRequest"));
    mute->setSuccessBlock(context, [block](const QVariant &reply) {
        if (block && reply.toMap().value(QStringLiteral("OK")).toString() == u"OK")
            block(true);
    });
    mute->setFailBlock(context, [block](const NetworkError &error) {
        qCWarning(lcOrvale).noquote() << QStringLiteral("error %1").arg(error.message);
        if (block)
            block(false);
    });
    mute->startRequest();
}

QList<QStringList> TRQClientInEvent::ClientSyncRequestGetDevice()
{
    QByteArray config = CR::zeroed(CR::Config::Size);
    EngineCall::request(CR::RequestGetConfiguration, config);
    QStringList microphones = names(config, CR::Config::Microphones, CR::Config::MicrophoneCount,
                                    CR::Config::MaxMicrophones);
    microphones.removeAll(QStringLiteral("内建输入"));
    return {microphones,
            names(config, CR::Config::Speakers, CR::Config::SpeakerCount, CR::Config::MaxSpeakers),
            names(config, CR::Config::Cameras, CR::Config::CameraCount, CR::Config::MaxCameras)};
}

QList<std::shared_ptr<ScreenSourseModel>> TRQClientInEvent::ClientSyncRequestGetShareList()
{
    namespace S = CR::ShareSources;
    QByteArray record = CR::zeroed(S::Size);
    EngineCall::request(CR::RequestShareSources, record);
    QList<std::shared_ptr<ScreenSourseModel>> sources;
    const uint32_t screens = std::min(CR::readU32(record, S::ScreenCount), S::MaxScreens);
    for (uint32_t i = 0; i < screens; ++i) {
        auto source = std::make_shared<ScreenSourseModel>();
        source->appName = screenName();
        source->appWindowName = QCoreApplication::translate("TRQClientInEvent", "全屏");
        source->appWindowId =
            CR::readText(record, S::ScreenIds + i * S::ScreenIdWidth, S::ScreenIdWidth)
                .toLongLong();
        source->confRect = rectAt(record, S::ScreenRects + i * S::RectSize);
        sources.append(source);
    }
    const uint32_t windows = std::min(CR::readU32(record, S::WindowCount), S::MaxWindows);
    for (uint32_t i = 0; i < windows; ++i) {
        const QString app = CR::readText(record, S::AppNames + i * CR::TextWidth, CR::TextWidth);
        const QString title = CR::readText(record, S::Titles + i * CR::TextWidth, CR::TextWidth);
        // X11 names this program's windows by its application name ("orvale").
        const bool own = app == u"Orvale" || (!QCoreApplication::applicationName().isEmpty() &&
                                              app == QCoreApplication::applicationName());
        if (own || (app == u"Google Chrome" && title == u" "))
            continue;
        auto source = std::make_shared<ScreenSourseModel>();
        source->appName = app;
        source->appWindowName = title;
        source->appWindowId = CR::readU32(record, S::WindowIds + i * 4);
        source->confRect = rectAt(record, S::WindowRects + i * S::RectSize);
        sources.append(source);
    }
    auto cancel = std::make_shared<ScreenSourseModel>();
    cancel->appName = cancelName();
    cancel->appWindowName = QCoreApplication::translate("TRQClientInEvent", "屏幕共享");
    sources.append(cancel);
    return sources;
}

void TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(
    const QList<std::shared_ptr<ScreenSourseModel>> &sources, qsizetype row)
{
    namespace S = CR::ShareCommand;
    if (row < 0 || row >= sources.size() || !sources[row])
        return;
    const ScreenSourseModel &source = *sources[row];
    if (source.appName == cancelName()) {
        EngineCall::event(CR::EventStopShare);
        return;
    }
    QByteArray record = CR::zeroed(S::Size);
    if (source.appName == screenName()) {
        CR::writeU32(record, S::Kind, S::KindScreen);
        CR::writeU32(record, S::Id, 1);
        CR::writeText(record, S::ScreenId, S::ScreenIdWidth, QString::number(source.appWindowId));
    } else {
        CR::writeU32(record, S::Kind, S::KindWindow);
        CR::writeU32(record, S::Id, static_cast<uint32_t>(source.appWindowId));
    }
    writeRect(record, S::Rect, source.confRect);
    EngineCall::event(CR::EventShare, record);
}

void TRQClientInEvent::ClientSyncRequestMuteSpeaker(bool muted)
{
    QByteArray record = oneByte(muted);
    EngineCall::event(CR::EventMuteSpeaker, record);
}

void TRQClientInEvent::ClientSyncRequestMuteMic(bool muted)
{
    QByteArray record = oneByte(muted);
    EngineCall::event(CR::EventMuteMicrophone, record);
}

void TRQClientInEvent::ClientSyncRequestMuteCamera(bool privacy)
{
    QByteArray record = oneByte(privacy);
    if (!EngineCall::tryEvent(CR::EventMuteCamera, record))
        qCWarning(lcOrvale) << "设置摄像头隐私状态失败";
}

void TRQClientInEvent::ClientAsyncRequestReply(const MessageModel &message, int command)
{
    const QString payload =
        command == CR::Command::SpeakerUnmuted
            ? QStringLiteral("%1&UnBlockSpeakerStateOK").arg(CR::Command::SpeakerUnmuted)
            : QStringLiteral("%1&BlockSpeakerStateOK").arg(CR::Command::SpeakerMuted);
    QByteArray record = CR::zeroed(CR::Chat::Size);
    CR::writeText(record, CR::Chat::Destination, CR::TextWidth, message.uri);
    CR::writeText(record, CR::Chat::Message, CR::Chat::MessageWidth,
                  Helper::commandString(AppUser::defaultUser()->uri, payload));
    EngineCall::event(CR::EventChat, record);
}

QList<std::shared_ptr<ShareListInRoomModel>> TRQClientInEvent::ClientSyncRequestGetShareInRoom()
{
    namespace R = CR::RemoteShare;
    QByteArray record = CR::zeroed(R::Size);
    EngineCall::request(CR::RequestGetRemoteShares, record);
    QList<std::shared_ptr<ShareListInRoomModel>> shares;
    const int32_t count = std::clamp<int32_t>(CR::readI32(record, R::Count), 0, R::MaxShares - 1);
    for (int32_t k = 1; k <= count; ++k) {
        auto share = std::make_shared<ShareListInRoomModel>();
        share->remoteAppName = CR::readText(record, R::Names + k * CR::TextWidth, CR::TextWidth);
        shares.append(share);
    }
    auto stop = std::make_shared<ShareListInRoomModel>();
    stop->remoteAppName = stopWatchingLabel();
    shares.append(stop);
    return shares;
}

void TRQClientInEvent::ClientSyncRequestSetShareInRoom(qsizetype row)
{
    namespace R = CR::RemoteShare;
    QByteArray record = CR::zeroed(R::Size);
    EngineCall::request(CR::RequestGetRemoteShares, record);
    CR::writeU32(record, R::Mode, R::ModeShow);
    const int32_t count = std::clamp<int32_t>(CR::readI32(record, R::Count), 0, R::MaxShares - 1);
    if (row >= 0 && row < count) {
        const int32_t index = static_cast<int32_t>(row) + 1;
        CR::writeI32(record, R::CurrentIndex, index);
        CR::writeI32(record, R::WantedIndex, index);
        AppStatus::shareStatus()->setCurrentRometeUri(
            CR::readText(record, R::Uris + index * CR::TextWidth, CR::TextWidth));
    } else {
        CR::writeI32(record, R::CurrentIndex, 0);
        CR::writeI32(record, R::WantedIndex, 0);
        AppStatus::shareStatus()->setCurrentRometeUri(QStringLiteral(""));
    }
    EngineCall::request(CR::RequestSelectRemoteShare, record);
}

void TRQClientInEvent::ClientAsyncRequestLogOut()
{
    EngineCall::event(CR::EventSignOut);
}

void TRQClientInEvent::ClientAsyncRequestLeaveRoom()
{
    EngineCall::event(CR::EventLeave);
}

QList<std::shared_ptr<Particants>> TRQClientInEvent::ClientSyncRequestGetCurrentContacts()
{
    namespace P = CR::Participants;
    QByteArray list = CR::zeroed(P::ListSize);
    EngineCall::request(CR::RequestParticipants, list);
    const int32_t count = std::max(0, CR::readI32(list, P::Count));
    const auto user = AppUser::defaultUser();
    QList<std::shared_ptr<Particants>> participants;
    QByteArray record = CR::zeroed(P::Size);
    for (int32_t i = 0; i < count && i < 1000; ++i) {
        CR::writeI32(record, P::Index, i);
        EngineCall::request(CR::RequestParticipant, record);
        auto participant = std::make_shared<Particants>();
        participant->uri = CR::readText(record, P::Uri, CR::TextWidth);
        participant->userName = CR::readText(record, P::DisplayName, P::DisplayNameWidth);
        participant->participantID = CR::readText(record, P::ParticipantId, P::ParticipantIdWidth);
        participant->entityID = CR::readText(record, P::EntityId, P::EntityIdWidth);
        participant->participantRole = CR::readI32(record, P::Role);
        participant->lineType = 0;
        if (!user->displayName.isEmpty() && participant->userName == user->displayName) {
            const QString tail = participant->uri.mid(participant->uri.lastIndexOf(u'-') + 1);
            user->uri = tail.section(u';', 0, 0);
        }
        participants.append(participant);
    }
    return participants;
}

void TRQClientInEvent::ClientSyncRequestAcceptIncomeCall(bool accept)
{
    EngineCall::event(accept ? CR::EventAcceptCall : CR::EventDeclineCall);
}

void TRQClientInEvent::ClientSyncRequestConferenceDetails()
{
    QByteArray record = CR::zeroed(CR::TextCommand::Size);
    CR::writeText(record, 0, CR::TextCommand::Size,
                  QString::fromLatin1(CR::TextCommand::ConferenceDetails));
    EngineCall::event(CR::EventTextCommand, record);
}

void TRQClientInEvent::ClientSyncRequestSetVideoArea(const QRect &area)
{
    QByteArray record = CR::zeroed(CR::VideoArea::Size);
    CR::writeI32(record, 0, area.x());
    CR::writeI32(record, 4, area.y());
    CR::writeI32(record, 8, area.width());
    CR::writeI32(record, 12, area.height());
    EngineCall::request(CR::RequestVideoArea, record);
    EngineCall::event(CR::EventVideoArea, record);
}
