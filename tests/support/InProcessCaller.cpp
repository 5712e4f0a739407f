#include "tests/support/InProcessCaller.h"

#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfClient.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppUser.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QWidget>

void InProcessCaller::start(QWidget *view)
{
    TRQClientInEvent::ClientSyncRequestInit(&delegate, view, view ? view->rect() : QRect());
    m_started = true;
}

bool InProcessCaller::signIn(const QString &portal, const QString &user, QWidget *view)
{
    if (!m_started)
        start(view);
    m_user = user;
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(user, user + QStringLiteral("1234"),
                                                          portal);
    return QTest::qWaitFor([this] { return count("loginSuccess") > 0; }, 15000);
}

void InProcessCaller::writeSettings(const QString &path, const QByteArray &lines)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("[engine]\n" + lines);
}

void InProcessCaller::useSettings(const QString &path)
{
    namespace CR = ConfRecords;
    QByteArray record = CR::zeroed(CR::FilePath::Size);
    CR::writeText(record, 0, CR::FilePath::Size, path);
    ConfClientSendEvent(CR::EventFilePath, record.data(), CR::FilePath::Size);
}

bool InProcessCaller::join(const QString &portal, qint64 conference)
{
    const auto user = AppUser::defaultUser();
    user->auth = LoginRequest::authorization(m_user, m_user + QStringLiteral("1234"));
    user->httpPortal = portal;
    user->entityID = QString::number(conference);
    const qsizetype joined = count("addControllView");
    requestJoin(portal, conference);
    return QTest::qWaitFor([&] { return count("addControllView") > joined; }, 15000);
}

void InProcessCaller::requestJoin(const QString &portal, qint64 conference, const QString &pin)
{
    NetWork::initWithUrlString(
        portal + QStringLiteral("/services/v1_1/PortalUserService"),
        QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>%1</ns1:conferenceID>%2"
                       "</ns1:JoinConferenceRequest>")
            .arg(conference)
            .arg(pin.isEmpty() ? QString()
                               : QStringLiteral("<ns1:PIN>%1</ns1:PIN>").arg(pin.toHtmlEscaped())),
        QStringLiteral("JoinConferenceRequest"))
        ->startRequest();
}

bool InProcessCaller::stop()
{
    if (!m_started)
        return true;
    m_started = false;
    // Nothing may reach the delegate or a view once they are gone: the engine's thread ends as
    // it does when the client quits.
    const qsizetype closed = count("closeConference");
    const bool inCall = count("addControllView") > closed;
    if (inCall)
        TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    const bool left =
        QTest::qWaitFor([&] { return !inCall || count("closeConference") > closed; }, 5000);
    const bool signedIn = count("loginSuccess") > 0;
    if (signedIn)
        TRQClientInEvent::ClientAsyncRequestLogOut();
    const bool signedOut =
        QTest::qWaitFor([&] { return !signedIn || count("closeAll") > 0; }, 5000);
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec(); // its aboutToQuit stops the engine
    return left && signedOut;
}
