#pragma once

#include "model/MessageModel.h"
#include "model/Particants.h"
#include "model/ScreenSourseModel.h"
#include "model/ShareListInRoomModel.h"

#include <QList>
#include <QRect>
#include <QStringList>

#include <functional>
#include <memory>

class ConfClientDelegate;
class QObject;

/// Every request and in-event the client sends to the conferencing library. Sync requests
/// complete before they return; async ones are answered by out-events.
class TRQClientInEvent final
{
public:
    TRQClientInEvent() = delete;

    /// Starts the library drawing into `videoView` (a QWidget, or null) at `viewRect`.
    static void ClientSyncRequestInit(ConfClientDelegate *delegate, void *videoView,
                                      const QRect &viewRect);
    static void ClientSyncRequestInitConfiguration();
    static void ClientSyncRequestSetConfiguration();
    static void ClientSyncRequestSetUserName(const QString &name);
    static void ClientAsyncRequestLoginWithUserName(const QString &userName,
                                                    const QString &password, const QString &portal);
    static void ClientAsyncRequestGuestLoginWithPortal(const QString &portal,
                                                       const QString &roomKey, const QString &name,
                                                       const QString &pin);
    static void ClientSyncRequestCancelEnterConference();
    static void ClientSyncRequestSetSomeOnePin(const QString &uri);
    static void ClientSyncRequestReleasePin(const QString &uri);
    /// Sends the preview mode; 0 or less steps to the next mode.
    static void ClientSyncRequestSetPreview(qint64 mode);
    static int32_t ClientSyncRequestGetParticpantsLimit();
    static void ClientSyncRequestSetParticpantsLimit(int32_t limit);
    /// `block` gets the portal's answer unless `context` is gone by then.
    static void ClientAsyncRequestMuteAudioWithParticantID(const QString &participantId,
                                                           const QObject *context,
                                                           std::function<void(bool)> block);
    /// Microphones, speakers and cameras.
    static QList<QStringList> ClientSyncRequestGetDevice();
    static QList<std::shared_ptr<ScreenSourseModel>> ClientSyncRequestGetShareList();
    static void ClientSyncRequestSetShareWithShareArray(
        const QList<std::shared_ptr<ScreenSourseModel>> &sources, qsizetype row);
    static void ClientSyncRequestMuteSpeaker(bool muted);
    static void ClientSyncRequestMuteMic(bool muted);
    static void ClientSyncRequestMuteCamera(bool privacy);
    static void ClientAsyncRequestReply(const MessageModel &message, int command);
    static QList<std::shared_ptr<ShareListInRoomModel>> ClientSyncRequestGetShareInRoom();
    static void ClientSyncRequestSetShareInRoom(qsizetype row);
    static void ClientAsyncRequestLogOut();
    static void ClientAsyncRequestLeaveRoom();
    static QList<std::shared_ptr<Particants>> ClientSyncRequestGetCurrentContacts();
    static void ClientSyncRequestAcceptIncomeCall(bool accept);
    /// Asks the library to log the conference's diagnostics (text command 5000).
    static void ClientSyncRequestConferenceDetails();
    /// Reports the video area (request 101900, then in-event 800).
    static void ClientSyncRequestSetVideoArea(const QRect &area);

    /// The last row of the remote-share list, which stops watching.
    static QString stopWatchingLabel();
};
