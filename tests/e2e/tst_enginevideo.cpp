#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "tests/support/RecordingDelegate.h"
#include "tests/support/TestDeployment.h"
#include "tests/support/TestHome.h"

#include "bridge/shared/ConfClient.h"
#include "bridge/shared/ConfRecords.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <QWidget>

/// The reference engine drawing a real call into a video view.
class TestEngineVideo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void tilesFollowTheCall();
    void cameraAndMicrophoneOnOwnTile();

private:
    void joinOwnRoom();
    /// A guest joins room 1001 through the conference service, as a browser does.
    bool guestJoins(QWebSocket &guest);
    /// Whether some pixel of `part` is the red of a closed microphone.
    bool showsMutedMicrophone(const QRect &part)
    {
        const QImage image = m_view.grab().toImage().copy(part);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 140 && c.blue() < 140)
                    return true;
            }
        return false;
    }
    QColor centre(const QRect &part) { return m_view.grab().toImage().pixelColor(part.center()); }

    std::unique_ptr<TestHome> m_home;
    /// A room's key: the deployment makes them at random.
    QString keyOf(qint64 room) const { return m_host->database().entry(room)->roomKey; }

    std::unique_ptr<TestDeployment> m_deployment;
    ServiceHost *m_host = nullptr;
    RecordingDelegate m_delegate;
    QWidget m_view;
};

void TestEngineVideo::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    m_deployment = std::make_unique<TestDeployment>();
    m_host = m_deployment->host();
    QVERIFY(m_host);
    m_view.resize(640, 360);
    m_view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_view));
    TRQClientInEvent::ClientSyncRequestInit(&m_delegate, &m_view, m_view.rect());
}

void TestEngineVideo::tilesFollowTheCall()
{
    const QColor background(0x1e, 0x20, 0x24), tile(0x33, 0x36, 0x3d), large(0x2b, 0x3a, 0x4f);
    QCOMPARE(centre(m_view.rect()), background); // no call: nothing but the background

    const QString portal = m_host->config().portalBase();
    TRQClientInEvent::ClientAsyncRequestLoginWithUserName(QStringLiteral("demo"),
                                                          QStringLiteral("demo1234"), portal);
    QTRY_VERIFY(m_delegate.calls.contains(QStringLiteral("loginSuccess")));
    AppUser::defaultUser()->auth =
        LoginRequest::authorization(QStringLiteral("demo"), QStringLiteral("demo1234"));
    joinOwnRoom();
    QTRY_VERIFY(m_delegate.calls.contains(QStringLiteral("addControllView")));
    QTRY_COMPARE(centre(m_view.rect()), large); // joining shows the stage layout

    QWebSocket guest;
    QVERIFY(guestJoins(guest));
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 2);
    // Two people: the other fills the area, the own tile sits in the top right corner over it
    // (in every preview mode and with a pin alike, as the renderer's own tests show).
    QTRY_COMPARE(centre(QRect(472, 36, 160, 90)), tile);
    QCOMPARE(centre(QRect(0, 0, 460, 360)), large);
    m_view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-engine-video.png")));

    TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    QTRY_COMPARE(centre(m_view.rect()), background);
}

void TestEngineVideo::joinOwnRoom()
{
    NetWork::initWithUrlString(m_host->config().portalBase() +
                                   QStringLiteral("/services/v1_1/PortalUserService"),
                               QStringLiteral("<ns1:JoinConferenceRequest><ns1:conferenceID>1001</"
                                              "ns1:conferenceID></ns1:JoinConferenceRequest>"),
                               QStringLiteral("JoinConferenceRequest"))
        ->startRequest();
}

bool TestEngineVideo::guestJoins(QWebSocket &guest)
{
    guest.open(
        QUrl(QStringLiteral("ws://127.0.0.1:%1/conference").arg(m_host->config().portalPort)));
    if (!QTest::qWaitFor([&guest] { return guest.state() == QAbstractSocket::ConnectedState; }))
        return false;
    guest.sendTextMessage(
        QStringLiteral(R"({"type":"guestJoin","roomKey":"%1","name":"访客"})").arg(keyOf(1001)));
    return true;
}

void TestEngineVideo::cameraAndMicrophoneOnOwnTile()
{
    // A settings file that asks for the generated camera picture.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("System.ecf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[engine]\ntestCamera=true\n");
    file.close();
    QByteArray record = ConfRecords::zeroed(ConfRecords::FilePath::Size);
    ConfRecords::writeText(record, 0, ConfRecords::FilePath::Size, path);
    ConfClientSendEvent(ConfRecords::EventFilePath, record.data(), ConfRecords::FilePath::Size);
    QTRY_VERIFY(TRQClientInEvent::ClientSyncRequestGetDevice().value(2).contains(
        QStringLiteral("Orvale 测试图像")));

    const QColor teal(0x1f, 0x8a, 0x70);
    const QRect upper(0, 100, 640, 200); // below the name strip
    joinOwnRoom();
    QTRY_COMPARE(centre(upper), teal); // the camera fills the own tile
    QVERIFY(!showsMutedMicrophone(QRect(0, 0, 640, 40)));

    TRQClientInEvent::ClientSyncRequestMuteMic(true);
    QTRY_VERIFY(showsMutedMicrophone(QRect(0, 0, 640, 40)));
    TRQClientInEvent::ClientSyncRequestMuteCamera(true);
    QTRY_VERIFY(centre(upper) != teal);
    TRQClientInEvent::ClientSyncRequestMuteCamera(false);
    QTRY_COMPARE(centre(upper), teal);
    m_view.grab().save(QDir::temp().filePath(QStringLiteral("orvale-engine-camera.png")));

    // Someone else joins: the area goes to them, the own picture to the top right corner.
    QWebSocket guest;
    QVERIFY(guestJoins(guest));
    QTRY_COMPARE(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size(), 2);
    QTRY_COMPARE(centre(QRect(472, 60, 160, 66)), teal);
    QVERIFY(centre(QRect(0, 100, 300, 200)) != teal);
    TRQClientInEvent::ClientSyncRequestMuteMic(false);
    TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    QTRY_VERIFY(centre(upper) != teal); // the camera stops with the call
}

QTEST_MAIN(TestEngineVideo)
#include "tst_enginevideo.moc"
