#include "bridge/TRQClientOnOutEvent.h"

#include "bridge/ConfClientDelegate.h"
#include "bridge/EngineCall.h"
#include "bridge/Helper.h"
#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "model/MessageModel.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

#include <atomic>

namespace CR = ConfRecords;

namespace {

std::atomic<int32_t> roomLinkFlag = 0;
QMutex callerMutex;
QString callerName;
QMutex delegatesMutex;
QSet<ConfClientDelegate *> attachedDelegates;

/// Runs `work` on the main thread after everything queued before it, unless the delegate is
/// detached now or its context object is gone by then.
template <class F> void onMain(ConfClientDelegate *delegate, F &&work)
{
    // Held while queueing, so that a delegate detaching waits until its context is done with.
    QMutexLocker lock(&delegatesMutex);
    if (!attachedDelegates.contains(delegate))
        return;
    if (QObject *context = delegate->context())
        QMetaObject::invokeMethod(context, std::forward<F>(work), Qt::QueuedConnection);
}

void post(const QString &name, const QVariant &object = {}, const QVariantMap &info = {})
{
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app,
            [name, object, info] {
                NotificationCenter::defaultCenter()->postNotificationName(name, object, info);
            },
            Qt::QueuedConnection);
}

void sendFilePath()
{
    const QString path = OutEventState::systemResourcePath();
    qCInfo(lcOrvale).noquote() << path;
    QByteArray record = CR::zeroed(CR::FilePath::Size);
    CR::writeText(record, 0, CR::FilePath::Size, path);
    EngineCall::event(CR::EventFilePath, record);
}

void signInState(const void *record, uint32_t size)
{
    const int32_t active = CR::readI32(record, size, 0);
    qCInfo(lcOrvale, "activeEid=%d,signinSecured=%s", active,
           CR::readByte(record, size, 12) ? "Yes" : "No");
    if (active == 0)
        EngineCall::event(CR::EventSignInContinue);
}

void conferenceActive(ConfClientDelegate *delegate)
{
    TRQClientInEvent::ClientSyncRequestSetUserName(
        QCoreApplication::translate("TRQClientOnOutEvent", "我"));
    TRQClientInEvent::ClientSyncRequestSetPreview(2);
    onMain(delegate, [delegate] {
        delegate->addControllView();
        AppStatus::shareStatus()->setIsInConference(true);
        delegate->arrangeWindowsForConference();
        NotificationCenter::defaultCenter()->postNotificationName(
            NotificationCenter::joinConferenceSuccess);
    });
}

void conferenceEnded(ConfClientDelegate *delegate)
{
    roomLinkFlag = 0;
    onMain(delegate, [delegate] {
        delegate->closeConferenceWindow();
        AppStatus::shareStatus()->setIsInConference(false);
        delegate->endConference();
    });
}

void incomingCall(ConfClientDelegate *delegate, const void *record, uint32_t size)
{
    QByteArray ringing(1, '\0');
    EngineCall::event(CR::EventRinging, ringing);
    const QString name = CR::readText(record, size, 0, CR::Out::CallerNameWidth);
    {
        QMutexLocker lock(&callerMutex);
        callerName = name;
    }
    onMain(delegate,
           [delegate] { delegate->acceptIncomeCallWithName(OutEventState::incommingcallName()); });
}

void remoteShareStarted(const void *event, uint32_t size)
{
    namespace R = CR::RemoteShare;
    const QString uri = CR::readText(event, size, 0, CR::TextWidth);
    QByteArray record = CR::zeroed(R::Size);
    if (EngineCall::request(CR::RequestGetRemoteShares, record) != 0)
        return;
    const int32_t count = std::min<int32_t>(CR::readI32(record, R::Count), R::MaxShares - 1);
    for (int32_t k = 1; k <= count; ++k) {
        if (CR::readText(record, R::Uris + k * CR::TextWidth, CR::TextWidth) != uri)
            continue;
        CR::writeU32(record, R::Mode, R::ModeShow);
        CR::writeI32(record, R::CurrentIndex, k);
        CR::writeI32(record, R::WantedIndex, k);
        EngineCall::request(CR::RequestSelectRemoteShare, record);
        AppStatus::shareStatus()->setCurrentRometeUri(uri);
        return;
    }
}

void remoteShareEnded(const void *event, uint32_t size)
{
    namespace R = CR::RemoteShare;
    const QString uri = CR::readText(event, size, 0, CR::TextWidth);
    AppStatus *status = AppStatus::shareStatus();
    if (uri != status->currentRometeUri())
        return;
    QByteArray record = CR::zeroed(R::Size);
    EngineCall::request(CR::RequestGetRemoteShares, record);
    const int32_t count = std::min<int32_t>(CR::readI32(record, R::Count), R::MaxShares - 1);
    if (count < 1) {
        status->setCurrentRometeUri(QStringLiteral(""));
        return;
    }
    CR::writeU32(record, R::Mode, R::ModeRemoved);
    EngineCall::request(CR::RequestSelectRemoteShare, record);
    const int32_t current =
        std::clamp<int32_t>(CR::readI32(record, R::CurrentIndex), 0, R::MaxShares - 1);
    const QString shown = CR::readText(record, R::Uris + current * CR::TextWidth, CR::TextWidth);
    status->setCurrentRometeUri(shown);
    qCInfo(lcOrvale).noquote() << QStringLiteral("现在在播的uri %1 %2").arg(current).arg(shown);
    for (int32_t k = 1; k <= count; ++k)
        qCInfo(lcOrvale).noquote()
            << QStringLiteral("现存的URI %1  %2")
                   .arg(k)
                   .arg(CR::readText(record, R::Uris + k * CR::TextWidth, CR::TextWidth));
    qCInfo(lcOrvale).noquote() << QStringLiteral("被移除的uri %1").arg(uri);
}

void signInFailed(ConfClientDelegate *delegate, const void *record, uint32_t size)
{
    const int32_t code = CR::readI32(record, size, 0);
    qCInfo(lcOrvale, "error %d", code);
    onMain(delegate, [delegate, code] {
        if (code == 0 || !delegate->isMainWindowVisible())
            return;
        // In the context of localString(), with which the login view recognises the first.
        delegate->errorWithText(code == CR::Code::WrongPassword
                                    ? QCoreApplication::translate("Orvale", "用户名密码错误")
                                : code == CR::Code::NotAPortal
                                    ? QCoreApplication::translate("Orvale", "登录地址错误")
                                : code == CR::Code::UntrustedCertificate
                                    ? QCoreApplication::translate("Orvale", "服务器证书不可信")
                                    : QCoreApplication::translate("Orvale", "连接不到服务器"));
    });
}

void signedIn(ConfClientDelegate *delegate)
{
    onMain(delegate, [delegate] {
        AppStatus *status = AppStatus::shareStatus();
        if (status->isSignIn() || roomLinkFlag == OutEventState::RoomLinkPending)
            return;
        status->setIsSignIn(true);
        delegate->loginSuccess();
    });
}

void signedOut(ConfClientDelegate *delegate, const void *record, uint32_t size)
{
    const int32_t reason = CR::readI32(record, size, CR::Out::SignOutReason);
    const uint8_t cause = CR::readByte(record, size, CR::Out::SignOutCause);
    qCInfo(lcOrvale, "eventSignOut->cause %d", cause);
    if (cause == CR::Code::CauseOwnSignOut || AppStatus::shareStatus()->isChangePassword())
        return;
    onMain(delegate, [delegate] {
        delegate->closeAllWindowsForSignOut();
        AppStatus::shareStatus()->setIsSignIn(false);
        AppUser::delUser();
    });
    if (reason == CR::Code::SignedInElsewhere)
        onMain(delegate, [delegate] {
            delegate->showAlertWithMessage(
                QCoreApplication::translate("TRQClientOnOutEvent", "账号在别处登陆"));
        });
}

void roomLink(const void *record, uint32_t size)
{
    roomLinkFlag = OutEventState::RoomLinkPending;
    const int32_t result = CR::readI32(record, size, 0);
    qCInfo(lcOrvale, "ConfClientOutEventRoomLink %d", result);
    if (result == 0)
        return;
    roomLinkFlag = 0;
    const QString reason =
        result == CR::Code::RoomFull
            ? QCoreApplication::translate("TRQClientOnOutEvent", "当前房间的并发数已满,无法入会")
            : QCoreApplication::translate("TRQClientOnOutEvent", "入会失败,请检查入会链接");
    post(NotificationCenter::roomLinkError, QVariantMap{{QStringLiteral("reason"), reason}});
}

void chat(const void *record, uint32_t size, bool isPrivate)
{
    namespace O = CR::Out;
    auto message = std::make_shared<MessageModel>();
    message->uri = CR::readText(record, size, O::ChatSenderUri, CR::TextWidth);
    message->userName = CR::readText(record, size, O::ChatSenderName, O::ChatSenderNameWidth);
    message->ownName = message->userName;
    message->msg = CR::readText(record, size, O::ChatMessage, O::ChatMessageWidth);
    message->type = 1;
    message->readType = 1;
    message->msgType = isPrivate ? QStringLiteral("PrivateChat") : QStringLiteral("GroupChat");
    if (!Helper::isCommandString(message->msg, message->uri))
        return;
    // From here on the model belongs to the main thread, where its observers read it.
    if (auto *app = QCoreApplication::instance())
        message->moveToThread(app->thread());
    post(NotificationCenter::changeSpeakerFormNet, QVariant::fromValue(message));
}

} // namespace

namespace OutEventState {

void attach(ConfClientDelegate *delegate)
{
    QMutexLocker lock(&delegatesMutex);
    if (delegate)
        attachedDelegates.insert(delegate);
}

void detach(ConfClientDelegate *delegate)
{
    QMutexLocker lock(&delegatesMutex);
    attachedDelegates.remove(delegate);
}

int32_t flag()
{
    return roomLinkFlag;
}

void setFlag(int32_t value)
{
    roomLinkFlag = value;
}

QString incommingcallName()
{
    QMutexLocker lock(&callerMutex);
    return callerName;
}

QString systemResourcePath()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate :
         {QString(dir + QStringLiteral("/System.ecf")),
          QString(dir + QStringLiteral("/../share/orvale/System.ecf"))}) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return dir + QStringLiteral("/System.ecf");
}

} // namespace OutEventState

extern "C" void TRQClientOnOutEvent(uint32_t event, void *record, uint32_t size, void *userData)
{
    qCInfo(lcOrvale, "Mac端Received event=%u", event);
    if (event < 99 || event > 99999)
        return;
    auto *delegate = static_cast<ConfClientDelegate *>(userData);
    switch (event) {
    case CR::OutStarted:
        sendFilePath();
        break;
    case CR::OutSignInState:
        signInState(record, size);
        break;
    case CR::OutDevicesChanged:
        post(NotificationCenter::deviceChange);
        break;
    case CR::OutApplyConfiguration:
        TRQClientInEvent::ClientSyncRequestSetConfiguration();
        break;
    case CR::OutConferenceActive:
        conferenceActive(delegate);
        break;
    case CR::OutConferenceEnded:
        conferenceEnded(delegate);
        break;
    case CR::OutParticipantsChanged:
        onMain(delegate, [delegate] { delegate->getContactsInConference(); });
        break;
    case CR::OutIncomingCall:
        incomingCall(delegate, record, size);
        break;
    case CR::OutIncomingCallTimeout:
        onMain(delegate, [delegate] { delegate->incomeCallTimeOut(); });
        break;
    case CR::OutFarEndMute:
        post(NotificationCenter::changeMicFormNet, {},
             {{QStringLiteral("isMuted"), CR::readByte(record, size, 0) == 1}});
        break;
    case CR::OutRemoteShareStarted:
        remoteShareStarted(record, size);
        break;
    case CR::OutRemoteShareEnded:
        remoteShareEnded(record, size);
        break;
    case CR::OutVideoSize: {
        const int32_t width = CR::readI32(record, size, 0);
        const int32_t height = CR::readI32(record, size, 4);
        onMain(delegate, [delegate, width, height] {
            const QSize view = delegate->conferenceVideoSize();
            qCInfo(lcOrvale, "outwidth %d height %d joinwidth %f joinHeight %f", width, height,
                   double(view.width()), double(view.height()));
        });
        break;
    }
    case CR::OutSignInFailed:
        signInFailed(delegate, record, size);
        break;
    case CR::OutServerFull:
        qCInfo(lcOrvale, "%d %d %d %d %d", CR::readI32(record, size, 0),
               CR::readI32(record, size, 4), CR::readByte(record, size, 8),
               CR::readI32(record, size, 16), CR::readI32(record, size, 12));
        break;
    case CR::OutSignedIn:
        signedIn(delegate);
        break;
    case CR::OutSignedOut:
        signedOut(delegate, record, size);
        break;
    case CR::OutRoomLink:
        roomLink(record, size);
        break;
    case CR::OutGroupChat:
        chat(record, size, false);
        break;
    case CR::OutPrivateChat:
        chat(record, size, true);
        break;
    default:
        break;
    }
}
