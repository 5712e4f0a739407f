#pragma once

// The conference service's JSON messages: every message is an object whose "type" is one of
// these names. Shared by the reference engine and the reference deployment.

#include <QLatin1String>

namespace ConferenceMessages {

inline constexpr QLatin1String Type{"type"};

// From the engine to the service
inline constexpr QLatin1String SignIn{"signIn"};
inline constexpr QLatin1String GuestJoin{"guestJoin"};
inline constexpr QLatin1String SignOut{"signOut"};
inline constexpr QLatin1String Leave{"leave"};
inline constexpr QLatin1String Answer{"answer"};
inline constexpr QLatin1String Mute{"mute"};
inline constexpr QLatin1String Share{"share"};
inline constexpr QLatin1String StopShare{"stopShare"};
inline constexpr QLatin1String Chat{"chat"};

// From the service to the engine ("chat" too)
inline constexpr QLatin1String SignedIn{"signedIn"};
inline constexpr QLatin1String SignInFailed{"signInFailed"};
inline constexpr QLatin1String SignedOut{"signedOut"};
inline constexpr QLatin1String RoomLink{"roomLink"};
inline constexpr QLatin1String Conference{"conference"};
inline constexpr QLatin1String Participants{"participants"};
inline constexpr QLatin1String ConferenceEnded{"conferenceEnded"};
inline constexpr QLatin1String Media{"media"};
inline constexpr QLatin1String FarEndMute{"farEndMute"};
inline constexpr QLatin1String IncomingCall{"incomingCall"};
inline constexpr QLatin1String CallTimeout{"callTimeout"};
inline constexpr QLatin1String ShareStarted{"shareStarted"};
inline constexpr QLatin1String ShareEnded{"shareEnded"};
inline constexpr QLatin1String Error{"error"};

} // namespace ConferenceMessages
