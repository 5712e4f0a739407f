#include "engine/CameraFeed.h"
#include "engine/EngineState.h"

#include <QMutexLocker>
#include <QTest>

/// The local camera follows the engine's state without ever asking for devices under the
/// engine's lock: a device query may call back into code that takes that lock.
class TestCameraFeed : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void devicesAreQueriedOutsideTheLock_data();
    void devicesAreQueriedOutsideTheLock();
};

void TestCameraFeed::devicesAreQueriedOutsideTheLock_data()
{
    QTest::addColumn<bool>("inConference");
    QTest::addColumn<bool>("cameraOff");
    QTest::newRow("call starts") << true << false;
    QTest::newRow("camera switched off") << true << true;
    QTest::newRow("call ends") << false << false;
}

void TestCameraFeed::devicesAreQueriedOutsideTheLock()
{
    QFETCH(bool, inConference);
    QFETCH(bool, cameraOff);
    EngineState state;
    int queries = 0;
    int underLock = 0;
    state.videoInputs = [&] {
        ++queries;
        // What a change signal emitted from inside the query would meet.
        if (state.mutex.tryLock())
            state.mutex.unlock();
        else
            ++underLock;
        return QList<QCameraDevice>();
    };
    CameraFeed feed(state, nullptr);
    std::function<void()> follow;
    {
        QMutexLocker lock(&state.mutex);
        state.inConference = inConference;
        state.cameraPrivacy = cameraOff;
        state.testCamera = true;
        follow = state.cameraChanged;
    }
    QVERIFY(follow);
    follow();
    QCoreApplication::sendPostedEvents(); // the feed follows from its event loop
    // Devices are asked for only when the picture is shown: the first query loads Qt
    // Multimedia's GStreamer backend, which a client outside a call does not pay for.
    QCOMPARE(queries > 0, inConference && !cameraOff);
    QCOMPARE(underLock, 0);
    // The generated picture stands in for a camera during a call with the camera on.
    QMutexLocker lock(&state.mutex);
    QCOMPARE(!state.cameraFrame.latest().image.isNull(), inConference && !cameraOff);
}

QTEST_MAIN(TestCameraFeed)
#include "tst_camerafeed.moc"
