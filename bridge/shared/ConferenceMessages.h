#pragma once

// The conference service's JSON messages: every message is an object whose "type" is one of
// these names, with the fields named in Field. Shared by the reference engine and the reference
// deployment; services/ConferenceProtocol.md says which message carries which field.

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
inline constexpr QLatin1String PublisherTaken{"publisherTaken"}; // the relay refused an own id

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
inline constexpr QLatin1String IceServers{"iceServers"}; // renewed TURN credentials of a call
inline constexpr QLatin1String RelayToken{"relayToken"}; // a renewed token for the relay's API
inline constexpr QLatin1String Feeds{"feeds"}; // whose the relay's publisher ids in the room are
inline constexpr QLatin1String Error{"error"};

namespace Field {

// From the engine to the service
inline constexpr QLatin1String User{"user"};         // signIn
inline constexpr QLatin1String Password{"password"}; // signIn
inline constexpr QLatin1String RoomKey{"roomKey"};   // guestJoin
inline constexpr QLatin1String Pin{"pin"};           // guestJoin
inline constexpr QLatin1String Accept{"accept"};     // answer
inline constexpr QLatin1String To{"to"};             // chat: a participant URI, or empty for all

// Both ways
inline constexpr QLatin1String Name{"name"};   // guestJoin, share, conference, chat, roster
inline constexpr QLatin1String Text{"text"};   // chat
inline constexpr QLatin1String Muted{"muted"}; // mute, farEndMute

// From the service to the engine
inline constexpr QLatin1String Uri{"uri"}; // signedIn, conference, roster, shareStarted, shareEnded
inline constexpr QLatin1String DisplayName{"displayName"};     // signedIn
inline constexpr QLatin1String EntityId{"entityID"};           // signedIn, roster
inline constexpr QLatin1String Code{"code"};                   // signInFailed
inline constexpr QLatin1String Reason{"reason"};               // signedOut
inline constexpr QLatin1String Result{"result"};               // roomLink
inline constexpr QLatin1String RoomId{"roomID"};               // conference
inline constexpr QLatin1String Participants{"participants"};   // participants: the roster
inline constexpr QLatin1String ParticipantId{"participantID"}; // roster
inline constexpr QLatin1String Role{"role"};                   // roster
inline constexpr QLatin1String MicMuted{"micMuted"};           // roster
inline constexpr QLatin1String Sharing{"sharing"};             // roster
inline constexpr QLatin1String Caller{"caller"};               // incomingCall
inline constexpr QLatin1String From{"from"};                   // chat
inline constexpr QLatin1String Private{"private"};             // chat
inline constexpr QLatin1String Available{"available"};         // media
inline constexpr QLatin1String Url{"url"};                     // media: the Janus HTTP API
inline constexpr QLatin1String Room{"room"};                   // media: the VideoRoom room
inline constexpr QLatin1String Token{"token"};                 // media
inline constexpr QLatin1String Id{"id"};                       // media: the publisher id
inline constexpr QLatin1String RelayToken{"relayToken"};       // media: signs relay requests
inline constexpr QLatin1String IceServers{"iceServers"};       // media, iceServers
inline constexpr QLatin1String Urls{"urls"};                   // an ICE server's
inline constexpr QLatin1String UserName{"username"};           // a TURN server's
inline constexpr QLatin1String Credential{"credential"};       // a TURN server's
inline constexpr QLatin1String Message{"message"};             // error

// The relay's publisher ids: who may publish under which, and whose a received stream is.
inline constexpr QLatin1String ShareId{"shareId"}; // media, feeds: the share's ("id": the camera's)
inline constexpr QLatin1String Feeds{"feeds"};     // media, feeds: each participant's ids

} // namespace Field

} // namespace ConferenceMessages
