#pragma once

// Identifiers, sizes and field offsets of the conferencing library's records, and the few
// helpers that fill and read them. Records are plain little-endian byte blocks.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace ConfRecords {

// Requests (ConfClientSendRequest)
inline constexpr uint32_t RequestGetConfiguration = 100100;
inline constexpr uint32_t RequestSetConfiguration = 100101;
inline constexpr uint32_t RequestGetRemoteShares = 100500;
inline constexpr uint32_t RequestSelectRemoteShare = 100501;
inline constexpr uint32_t RequestSelfName = 100600;
inline constexpr uint32_t RequestParticipantLimit = 101502;
inline constexpr uint32_t RequestParticipants = 101503;
inline constexpr uint32_t RequestParticipant = 101614;
inline constexpr uint32_t RequestVideoArea = 101900;
inline constexpr uint32_t RequestShareSources = 102200;

// In-events (ConfClientSendEvent)
inline constexpr uint32_t EventCancelJoin = 200;
inline constexpr uint32_t EventLeave = 201;
inline constexpr uint32_t EventAcceptCall = 300;
inline constexpr uint32_t EventDeclineCall = 301;
inline constexpr uint32_t EventPreviewMode = 400;
inline constexpr uint32_t EventMuteMicrophone = 500;
inline constexpr uint32_t EventMuteSpeaker = 501;
inline constexpr uint32_t EventMuteCamera = 502;
inline constexpr uint32_t EventShare = 600;
inline constexpr uint32_t EventStopShare = 601;
inline constexpr uint32_t EventVideoArea = 800;
inline constexpr uint32_t EventParticipantLimit = 900;
inline constexpr uint32_t EventPin = 1401;
inline constexpr uint32_t EventSignIn = 1600;
inline constexpr uint32_t EventSignInContinue = 1602;
inline constexpr uint32_t EventSignOut = 1603;
inline constexpr uint32_t EventGuestJoin = 1604;
inline constexpr uint32_t EventFilePath = 1705;
inline constexpr uint32_t EventRinging = 1801;
inline constexpr uint32_t EventChat = 2001;
inline constexpr uint32_t EventTextCommand = 5000;

// Out-events (callback)
inline constexpr uint32_t OutStarted = 200;
inline constexpr uint32_t OutSignInState = 300;
inline constexpr uint32_t OutDevicesChanged = 601;
inline constexpr uint32_t OutApplyConfiguration = 900;
inline constexpr uint32_t OutConferenceActive = 1200;
inline constexpr uint32_t OutConferenceEnded = 1201;
inline constexpr uint32_t OutParticipantsChanged = 1202;
inline constexpr uint32_t OutIncomingCall = 1300;
inline constexpr uint32_t OutIncomingCallTimeout = 1301;
inline constexpr uint32_t OutFarEndMute = 1503;
inline constexpr uint32_t OutRemoteShareStarted = 1600;
inline constexpr uint32_t OutRemoteShareEnded = 1601;
inline constexpr uint32_t OutVideoSize = 1700;
inline constexpr uint32_t OutSignInFailed = 2300;
inline constexpr uint32_t OutServerFull = 2301;
inline constexpr uint32_t OutSignedIn = 2303;
inline constexpr uint32_t OutSignedOut = 2304;
inline constexpr uint32_t OutRoomLink = 2305;
inline constexpr uint32_t OutGroupChat = 2600;
inline constexpr uint32_t OutPrivateChat = 2601;

inline constexpr uint32_t TextWidth = 257; // the common URI and name field

// Result and reason codes in out-event records (sign-in failed 2300, room link 2305,
// signed out 2304)
namespace Code {
inline constexpr int32_t Unreachable = 1;       // sign-in: no conference service answered
inline constexpr int32_t WrongPassword = 401;   // sign-in: user name or password refused
inline constexpr int32_t NotAPortal = 2004;     // sign-in: the address answers but is no portal
inline constexpr int32_t RoomRefused = 1007;    // room link: no such room, locked, or wrong PIN
inline constexpr int32_t RoomFull = 1021;       // room link: the room or the lines are full
inline constexpr int32_t SignedInElsewhere = 2; // signed out: the account signed in elsewhere
inline constexpr uint8_t CauseOwnSignOut = 1;   // signed out: the client asked for it

// sign-in: the service's certificate failed verification
inline constexpr int32_t UntrustedCertificate = 495;
} // namespace Code

// Remote commands carried in chat messages ("#TRQCOMMAND#<mark>#<type>&<text>")
namespace Command {
inline constexpr int MuteSpeaker = 1;
inline constexpr int UnmuteSpeaker = 2;
inline constexpr int SpeakerMuted = 3;   // the answer to MuteSpeaker
inline constexpr int SpeakerUnmuted = 4; // the answer to UnmuteSpeaker
} // namespace Command

// Configuration record (100100, 100101)
namespace Config {
inline constexpr uint32_t Size = 22816;
inline constexpr uint32_t NameWidth = 128;
inline constexpr uint32_t Microphones = 0;
inline constexpr uint32_t MicrophoneCount = 7712;
inline constexpr uint32_t SelectedMicrophone = 7716;
inline constexpr uint32_t Speakers = 7720;
inline constexpr uint32_t SpeakerCount = 15400;
inline constexpr uint32_t SelectedSpeaker = 15404;
inline constexpr uint32_t Cameras = 15408;
inline constexpr uint32_t CameraCount = 19248;
inline constexpr uint32_t SelectedCamera = 19252;
inline constexpr uint32_t MaxMicrophones = (MicrophoneCount - Microphones) / NameWidth;
inline constexpr uint32_t MaxSpeakers = (SpeakerCount - Speakers) / NameWidth;
inline constexpr uint32_t MaxCameras = (CameraCount - Cameras) / NameWidth;
inline constexpr uint32_t Switches[] = {20368, 20432, 20496, 21676};
inline constexpr uint32_t ProxyMode = 22712;
inline constexpr uint32_t ProxyAlways = 0x1001;
inline constexpr uint32_t VideoPreference = 22716;
inline constexpr uint32_t EchoCancellation = 22744;
inline constexpr uint32_t AutomaticGain = 22756;
inline constexpr uint32_t StartupOne = 22768;
inline constexpr uint32_t StartupZero = 22776;
inline constexpr uint32_t StartupOneAgain = 22792;
inline constexpr uint32_t StartupTwo = 22804;
static_assert(MaxMicrophones == 60 && MaxSpeakers == 60 && MaxCameras == 30);
static_assert(StartupTwo + 4 <= Size);
} // namespace Config

// Remote share record (100500, 100501)
namespace RemoteShare {
inline constexpr uint32_t Size = 20836;
inline constexpr uint32_t Mode = 0;
inline constexpr uint32_t MaxShares = 40;
inline constexpr uint32_t Uris = 4;
inline constexpr uint32_t Names = 10284;
inline constexpr uint32_t Count = 20564;
inline constexpr uint32_t CurrentIndex = 20568;
inline constexpr uint32_t WantedIndex = 20832;
inline constexpr uint32_t ModeShow = 1;
inline constexpr uint32_t ModeRemoved = 2;
static_assert(Uris + MaxShares * TextWidth == Names);
static_assert(Names + MaxShares * TextWidth == Count);
static_assert(WantedIndex + 4 == Size);
} // namespace RemoteShare

// Share source record (102200)
namespace ShareSources {
inline constexpr uint32_t Size = 75228;
inline constexpr uint32_t WindowCount = 0;
inline constexpr uint32_t MaxWindows = 128;
inline constexpr uint32_t Titles = 4;
inline constexpr uint32_t AppNames = 32900;
inline constexpr uint32_t WindowIds = 65796;
inline constexpr uint32_t WindowRects = 66308;
inline constexpr uint32_t ScreenCount = 68356;
inline constexpr uint32_t ScreenIds = 72472;
inline constexpr uint32_t ScreenIdWidth = 128;
inline constexpr uint32_t ScreenRects = 74776;
inline constexpr uint32_t MaxScreens = (ScreenRects - ScreenIds) / ScreenIdWidth;
inline constexpr uint32_t RectSize = 16;
static_assert(Titles + MaxWindows * TextWidth == AppNames);
static_assert(AppNames + MaxWindows * TextWidth == WindowIds);
static_assert(WindowIds + MaxWindows * 4 == WindowRects);
static_assert(WindowRects + MaxWindows * RectSize == ScreenCount);
static_assert(ScreenRects + MaxScreens * RectSize <= Size);
} // namespace ShareSources

// Share command (600)
namespace ShareCommand {
inline constexpr uint32_t Size = 152;
inline constexpr uint32_t Kind = 0;
inline constexpr uint32_t Id = 4;
inline constexpr uint32_t ScreenId = 8;
inline constexpr uint32_t ScreenIdWidth = 128;
inline constexpr uint32_t Rect = 136;
inline constexpr uint32_t KindWindow = 1;
inline constexpr uint32_t KindScreen = 2;
static_assert(Rect + 16 == Size);
} // namespace ShareCommand

// Participants (101503, 101614)
namespace Participants {
inline constexpr uint32_t ListSize = 7712;
inline constexpr uint32_t Count = 7704;
inline constexpr uint32_t Size = 660;
inline constexpr uint32_t Index = 0;
inline constexpr uint32_t Uri = 4;
inline constexpr uint32_t DisplayName = 261;
inline constexpr uint32_t DisplayNameWidth = 128;
inline constexpr uint32_t ParticipantId = 389;
inline constexpr uint32_t ParticipantIdWidth = 129;
inline constexpr uint32_t EntityId = 518;
inline constexpr uint32_t EntityIdWidth = 134;
inline constexpr uint32_t Role = 652;
static_assert(Uri + TextWidth == DisplayName && DisplayName + DisplayNameWidth == ParticipantId);
static_assert(ParticipantId + ParticipantIdWidth == EntityId && EntityId + EntityIdWidth == Role);
} // namespace Participants

namespace SelfName {
inline constexpr uint32_t Size = 40;
inline constexpr uint32_t Name = 4;
inline constexpr uint32_t NameWidth = 33;
} // namespace SelfName

namespace ParticipantLimit {
inline constexpr uint32_t RequestSize = 12;
inline constexpr uint32_t Limit = 8;
inline constexpr uint32_t EventSize = 4;
} // namespace ParticipantLimit

namespace VideoArea {
inline constexpr uint32_t Size = 16;
}

namespace Preview {
inline constexpr uint32_t Size = 8;
}

namespace Pin {
inline constexpr uint32_t Size = 268;
inline constexpr uint32_t Marker = 0;
inline constexpr uint32_t MarkerValue = 100;
inline constexpr uint32_t Uri = 4;
inline constexpr uint32_t Action = 264;
inline constexpr uint32_t ActionPin = 2;
inline constexpr uint32_t ActionRelease = 1;
} // namespace Pin

namespace SignIn {
inline constexpr uint32_t Size = 648;
inline constexpr uint32_t Portal = 0;
inline constexpr uint32_t UserName = 257;
inline constexpr uint32_t UserNameWidth = 128;
inline constexpr uint32_t Password = 385;
static_assert(Password + TextWidth + 6 == Size);
} // namespace SignIn

namespace GuestJoin {
inline constexpr uint32_t Size = 604;
inline constexpr uint32_t Portal = 0;
inline constexpr uint32_t RoomKey = 257;
inline constexpr uint32_t RoomKeyWidth = 128;
inline constexpr uint32_t DisplayName = 385;
inline constexpr uint32_t DisplayNameWidth = 128;
inline constexpr uint32_t Pin = 513;
inline constexpr uint32_t PinWidth = 17;
inline constexpr uint32_t Zero = 532;
} // namespace GuestJoin

namespace FilePath {
inline constexpr uint32_t Size = 256;
}

namespace Chat {
inline constexpr uint32_t Size = 1282;
inline constexpr uint32_t Destination = 0;
inline constexpr uint32_t Message = 257;
inline constexpr uint32_t MessageWidth = 1025;
static_assert(Message + MessageWidth == Size);
} // namespace Chat

namespace TextCommand {
inline constexpr uint32_t Size = 4096;
/// Asks the library to log the conference's details.
inline constexpr char ConferenceDetails[] =
    "#CONF_API% Request <id> Status Conference.ClientDetailsRequest";
/// The last word of that command, which names what is asked for.
inline constexpr char ConferenceDetailsName[] = "Conference.ClientDetailsRequest";
} // namespace TextCommand

// Out-event records as far as the client reads them
namespace Out {
inline constexpr uint32_t ChatSize = 1410;
inline constexpr uint32_t ChatSenderUri = 0;
inline constexpr uint32_t ChatSenderName = 257;
inline constexpr uint32_t ChatSenderNameWidth = 128;
inline constexpr uint32_t ChatMessage = 385;
inline constexpr uint32_t ChatMessageWidth = 1025;
inline constexpr uint32_t SignOutReason = 0;
inline constexpr uint32_t SignOutCause = 8;
inline constexpr uint32_t SignOutSize = 12;
inline constexpr uint32_t SignInStateSize = 16;
inline constexpr uint32_t CallerNameWidth = 257;
} // namespace Out

/// A zeroed record of `size` bytes.
QByteArray zeroed(uint32_t size);
/// Writes `text` as UTF-8 at `offset`, NUL-terminated, cut to `width` bytes (NUL included)
/// without splitting a UTF-8 sequence. Out-of-range writes are ignored.
void writeText(QByteArray &record, uint32_t offset, uint32_t width, const QString &text);
void writeText(void *record, uint32_t size, uint32_t offset, uint32_t width, const QString &text);
/// The NUL-terminated UTF-8 text at `offset`, read at most `width` bytes far.
QString readText(const void *record, uint32_t size, uint32_t offset, uint32_t width);
QString readText(const QByteArray &record, uint32_t offset, uint32_t width);
/// Little-endian integers; reads outside the record give 0.
uint32_t readU32(const void *record, uint32_t size, uint32_t offset);
inline int32_t readI32(const void *record, uint32_t size, uint32_t offset)
{
    return static_cast<int32_t>(readU32(record, size, offset));
}
uint32_t readU32(const QByteArray &record, uint32_t offset);
inline int32_t readI32(const QByteArray &record, uint32_t offset)
{
    return static_cast<int32_t>(readU32(record, offset));
}
void writeU32(QByteArray &record, uint32_t offset, uint32_t value);
void writeU32(void *record, uint32_t size, uint32_t offset, uint32_t value);
inline void writeI32(QByteArray &record, uint32_t offset, int32_t value)
{
    writeU32(record, offset, static_cast<uint32_t>(value));
}
uint8_t readByte(const void *record, uint32_t size, uint32_t offset);

} // namespace ConfRecords
