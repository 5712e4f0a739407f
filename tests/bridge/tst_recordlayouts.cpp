// Every record the client exchanges with the conferencing library, checked field by field at
// the byte offsets, widths and sizes of the library's published layouts. The numbers are written
// out here on purpose and the bytes are read and built without the client's record helpers, so
// that a wrong offset, width or size among the client's record definitions shows up as a wrong
// field rather than being read back through the same mistake.

#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "bridge/TRQClientOnOutEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/MessageModel.h"
#include "model/Preferences.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/RecordingDelegate.h"
#include "tests/support/TestHome.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTest>
#include <QtEndian>

#include <cstring>

namespace {

QByteArray le32(qint64 value)
{
    QByteArray bytes(4, '\0');
    const quint32 little = qToLittleEndian(static_cast<quint32>(value));
    std::memcpy(bytes.data(), &little, 4);
    return bytes;
}

qint32 i32At(const QByteArray &record, int offset)
{
    quint32 little = 0;
    if (offset + 4 <= record.size())
        std::memcpy(&little, record.constData() + offset, 4);
    return static_cast<qint32>(qFromLittleEndian(little));
}

/// A text field as it must appear: the bytes cut to `width - 1`, then NULs up to `width`.
QByteArray text(const QByteArray &utf8, int width)
{
    const QByteArray cut = utf8.left(width - 1);
    return cut + QByteArray(width - cut.size(), '\0');
}

struct Field
{
    int offset;
    QByteArray bytes;
};

QByteArray record(int size, std::initializer_list<Field> fields)
{
    QByteArray r(size, '\0');
    for (const Field &f : fields)
        r.replace(f.offset, f.bytes.size(), f.bytes);
    return r;
}

QByteArray rect(qint64 x, qint64 y, qint64 w, qint64 h)
{
    return le32(x) + le32(y) + le32(w) + le32(h);
}

QString describe(const ConfRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.xPos).arg(r.yPos).arg(r.width).arg(r.height);
}

// The remote share record (20836 bytes) the library answers in every test here: two shares,
// numbered from 1, the first one shown. Entry 0 is never used and holds decoys.
QByteArray remoteShares()
{
    return record(20836, {{4, "uri-0"},
                          {4 + 257, "share-a"},
                          {4 + 2 * 257, "share-b"},
                          {10284, "name-0"},
                          {10284 + 257, "Alice 的屏幕"},
                          {10284 + 2 * 257, "Bob"},
                          {20564, le32(2)},
                          {20568, le32(1)},
                          {20832, le32(0)}});
}

QByteArray longText(char c, int length)
{
    return QByteArray(length, c);
}

} // namespace

class TestRecordLayouts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void logParameters();
    void writtenFields_data();
    void writtenFields();
    void answeredFields_data();
    void answeredFields();
    void outEventFields_data();
    void outEventFields();

private:
    void send(const QString &action);
    QMap<QString, QString> readBack(const QString &action);
    QString observe(const QString &kind, const QString &expected);
    void fire(uint32_t event, const QByteArray &record = {});

    std::unique_ptr<TestHome> m_home;
    RecordingDelegate m_delegate;
    FakeEngine &engine = FakeEngine::instance();
};

static QStringList capturedLog;
static QtMessageHandler previousHandler = nullptr;

static void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    capturedLog.append(message);
    if (previousHandler)
        previousHandler(type, context, message);
}

void TestRecordLayouts::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    QCoreApplication::setApplicationName(QStringLiteral("orvale"));
    // Some fields are only logged; the rows that check them read the log.
    QLoggingCategory::setFilterRules(QStringLiteral("orvale.info=true"));
    TRQClientInEvent::ClientSyncRequestInit(&m_delegate, nullptr, QRect());
}

void TestRecordLayouts::init()
{
    engine.reset();
    m_delegate.calls.clear();
    m_delegate.mainVisible = true;
    AppUser::delUser();
    AppStatus::shareStatus()->setIsSignIn(false);
    AppStatus::shareStatus()->setIsChangePassword(false);
    AppStatus::shareStatus()->setCurrentRometeUri(QStringLiteral("share-b"));
    OutEventState::setFlag(0);
    capturedLog.clear();
    previousHandler = qInstallMessageHandler(captureLog);
}

void TestRecordLayouts::cleanup()
{
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

void TestRecordLayouts::logParameters()
{
    // The engine writes its log files beside the user record, in a folder that exists.
    const QString folder = m_home->path() + QStringLiteral("/.local/share/Orvale/orvale/");
    const QByteArrayList texts = engine.logParams();
    QCOMPARE(texts.size(), 3);
    QCOMPARE(texts[0], QByteArray("fatal error warning info@App info@AppGui info@AppClient "
                                  "info@AppMedia info@AppVideoPace info@AppWebProxy"));
    QCOMPARE(QString::fromUtf8(texts[1]), folder);
    QCOMPARE(texts[2], QByteArray("TRQClient_"));
    QVERIFY(QFileInfo(folder).isDir());
    QVERIFY(!QFileInfo::exists(m_home->path() + QStringLiteral("/Documents")));
}

void TestRecordLayouts::fire(uint32_t event, const QByteArray &record)
{
    engine.fire(event, record);
    QCoreApplication::processEvents(); // the work the dispatcher queues to the main thread
}

// Records the client writes: sends through the real API, then reads the bytes the library got.
void TestRecordLayouts::send(const QString &action)
{
    using In = TRQClientInEvent;
    if (action == u"start-up configuration") {
        engine.setAnswer(100100, QByteArray(22816, '\x5a'));
        In::ClientSyncRequestInitConfiguration();
    } else if (action == u"user configuration") {
        Preferences prefs;
        prefs.setEnableEchoCancellation(0);
        prefs.setEnableAudioAGC(0);
        prefs.setVideoPreferences(3);
        prefs.setSelectedMicDeviceNumber(2);
        prefs.setSelectedSpeakerDeviceNumber(4);
        prefs.setSelectedCameraDeviceNumber(5);
        prefs.setAlwaysUseProxy(1);
        engine.setAnswer(100100, QByteArray(22816, '\x5a'));
        In::ClientSyncRequestSetConfiguration();
    } else if (action == u"self name") {
        In::ClientSyncRequestSetUserName(QString::fromLatin1(longText('n', 40)));
    } else if (action == u"sign in") {
        In::ClientAsyncRequestLoginWithUserName(QString::fromLatin1(longText('u', 200)),
                                                QString::fromLatin1(longText('p', 300)),
                                                QString::fromLatin1(longText('h', 300)));
    } else if (action == u"guest join") {
        In::ClientAsyncRequestGuestLoginWithPortal(
            QString::fromLatin1(longText('h', 300)), QString::fromLatin1(longText('k', 200)),
            QString::fromLatin1(longText('d', 200)), QStringLiteral("1234567890123456789"));
    } else if (action == u"pin") {
        In::ClientSyncRequestSetSomeOnePin(QString::fromLatin1(longText('s', 300)));
    } else if (action == u"release pin") {
        In::ClientSyncRequestReleasePin(QStringLiteral("conf1-p1;ws"));
    } else if (action == u"preview") {
        In::ClientSyncRequestSetPreview(2);
    } else if (action == u"participant limit") {
        In::ClientSyncRequestSetParticpantsLimit(16);
    } else if (action == u"mute microphone") {
        In::ClientSyncRequestMuteMic(true);
    } else if (action == u"live speaker") {
        In::ClientSyncRequestMuteSpeaker(false);
    } else if (action == u"camera privacy") {
        In::ClientSyncRequestMuteCamera(true);
    } else if (action == u"share screen" || action == u"share window" || action == u"stop share") {
        auto source = std::make_shared<ScreenSourseModel>();
        source->appName = action == u"share screen" ? QStringLiteral("共享屏幕")
                          : action == u"stop share" ? QStringLiteral("取消")
                                                    : QStringLiteral("Files");
        source->appWindowId = action == u"share screen" ? 4294967301 : 0x3a00007;
        source->confRect.xPos = -10;
        source->confRect.yPos = 20;
        source->confRect.width = 1920;
        source->confRect.height = 1080;
        In::ClientSyncRequestSetShareWithShareArray({source}, 0);
    } else if (action == u"video area") {
        // The library may adjust the area; the in-event carries the record as it leaves it.
        engine.setAnswer(101900, [](QByteArray &r) {
            r.replace(8, 4, le32(99));
            return 0u;
        });
        In::ClientSyncRequestSetVideoArea(QRect(5, 6, 640, 360));
    } else if (action == u"command reply") {
        AppUser::defaultUser()->uri = QStringLiteral("u1002");
        MessageModel message;
        message.uri = QString::fromLatin1(longText('c', 300));
        In::ClientAsyncRequestReply(message, 3);
    } else if (action == u"choose remote share") {
        engine.setAnswer(100500, remoteShares());
        In::ClientSyncRequestSetShareInRoom(1);
    } else if (action == u"participants") {
        engine.setAnswer(101503, record(7712, {{7704, le32(2)}}));
        In::ClientSyncRequestGetCurrentContacts();
    } else if (action == u"devices") {
        In::ClientSyncRequestGetDevice();
    } else if (action == u"share sources") {
        In::ClientSyncRequestGetShareList();
    } else if (action == u"participant limit read") {
        In::ClientSyncRequestGetParticpantsLimit();
    } else if (action == u"out 200") {
        fire(200);
    } else if (action == u"out 300") {
        fire(300, record(16, {}));
    } else if (action == u"out 1300") {
        fire(1300, QByteArray("Alice"));
    } else if (action == u"out 1600" || action == u"out 1601") {
        engine.setAnswer(100500, remoteShares());
        fire(action == u"out 1600" ? 1600 : 1601, QByteArray("share-b"));
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown action ") + action));
    }
}

void TestRecordLayouts::writtenFields_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<uint>("id");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("field"); // expected bytes at offset; empty checks the size only

    auto row = [](const char *name, const char *action, uint id, int size, int offset,
                  const QByteArray &field) {
        QTest::newRow(name) << QString::fromUtf8(action) << id << size << offset << field;
    };
    const QByteArray z = QByteArray(4, '\x5a'); // left as the library answered
    row("100100 read, 22816", "start-up configuration", 100100, 22816, 0, {});
    row("100101 at 22768 = 1", "start-up configuration", 100101, 22816, 22768, le32(1));
    row("100101 at 22776 = 0", "start-up configuration", 100101, 22816, 22776, le32(0));
    row("100101 at 22792 = 1", "start-up configuration", 100101, 22816, 22792, le32(1));
    row("100101 at 22804 = 2", "start-up configuration", 100101, 22816, 22804, le32(2));
    row("100101 byte 20368", "start-up configuration", 100101, 22816, 20368, "\x01");
    row("100101 byte 20432", "start-up configuration", 100101, 22816, 20432, "\x01");
    row("100101 byte 20496", "start-up configuration", 100101, 22816, 20496, "\x01");
    row("100101 byte 21676", "start-up configuration", 100101, 22816, 21676, "\x01");
    row("100101 untouched 22772", "start-up configuration", 100101, 22816, 22772, z);
    row("100101 echo at 22744", "user configuration", 100101, 22816, 22744, le32(0));
    row("100101 AGC at 22756", "user configuration", 100101, 22816, 22756, le32(0));
    row("100101 video at 22716", "user configuration", 100101, 22816, 22716, le32(3));
    row("100101 microphone at 7716", "user configuration", 100101, 22816, 7716, le32(2));
    row("100101 speaker at 15404", "user configuration", 100101, 22816, 15404, le32(4));
    row("100101 camera at 19252", "user configuration", 100101, 22816, 19252, le32(5));
    row("100101 proxy at 22712", "user configuration", 100101, 22816, 22712, le32(4097));
    row("100101 untouched count 7712", "user configuration", 100101, 22816, 7712, z);

    row("100600 0 at 0", "self name", 100600, 40, 0, le32(0));
    row("100600 name at 4, 33", "self name", 100600, 40, 4, text(longText('n', 40), 33));

    row("1600 portal at 0, 257", "sign in", 1600, 648, 0, text(longText('h', 300), 257));
    row("1600 user at 257, 128", "sign in", 1600, 648, 257, text(longText('u', 200), 128));
    row("1600 password at 385, 257", "sign in", 1600, 648, 385, text(longText('p', 300), 257));

    row("1604 portal at 0, 257", "guest join", 1604, 604, 0, text(longText('h', 300), 257));
    row("1604 room at 257, 128", "guest join", 1604, 604, 257, text(longText('k', 200), 128));
    row("1604 name at 385, 128", "guest join", 1604, 604, 385, text(longText('d', 200), 128));
    row("1604 PIN at 513, 17", "guest join", 1604, 604, 513, text("1234567890123456789", 17));
    row("1604 0 at 532", "guest join", 1604, 604, 532, le32(0));
    row("1604 bytes 600-602", "guest join", 1604, 604, 600, QByteArray(3, '\0'));

    row("1401 100 at 0", "pin", 1401, 268, 0, le32(100));
    row("1401 URI at 4, 257", "pin", 1401, 268, 4, text(longText('s', 300), 257));
    row("1401 pin 2 at 264", "pin", 1401, 268, 264, le32(2));
    row("1401 release 1 at 264", "release pin", 1401, 268, 264, le32(1));
    row("1401 release URI at 4", "release pin", 1401, 268, 4, text("conf1-p1;ws", 257));

    row("400 mode at 0", "preview", 400, 8, 0, le32(2));
    row("400 0 at 4", "preview", 400, 8, 4, le32(0));
    row("900 limit at 0", "participant limit", 900, 4, 0, le32(16));
    row("101502 read, 12", "participant limit read", 101502, 12, 0, {});
    row("500 muted", "mute microphone", 500, 1, 0, "\x01");
    row("501 live", "live speaker", 501, 1, 0, QByteArray(1, '\0'));
    row("502 privacy", "camera privacy", 502, 1, 0, "\x01");

    row("600 screen kind 2 at 0", "share screen", 600, 152, 0, le32(2));
    row("600 screen value 1 at 4", "share screen", 600, 152, 4, le32(1));
    row("600 screen id at 8, 128", "share screen", 600, 152, 8, text("4294967301", 128));
    row("600 screen rect at 136", "share screen", 600, 152, 136, rect(-10, 20, 1920, 1080));
    row("600 window kind 1 at 0", "share window", 600, 152, 0, le32(1));
    row("600 window id at 4", "share window", 600, 152, 4, le32(0x3a00007));
    row("600 window text at 8 empty", "share window", 600, 152, 8, QByteArray(128, '\0'));
    row("600 window rect at 136", "share window", 600, 152, 136, rect(-10, 20, 1920, 1080));
    row("601 without record", "stop share", 601, 0, 0, {});

    row("101900 x, y at 0, 4", "video area", 101900, 16, 0, le32(5) + le32(6));
    row("101900 width, height at 8, 12", "video area", 101900, 16, 8, le32(640) + le32(360));
    row("800 as the request left it", "video area", 800, 16, 0, rect(5, 6, 99, 360));

    const QByteArray reply = "#TRQCOMMAND#u1002#3&BlockSpeakerStateOK";
    row("2001 destination at 0, 257", "command reply", 2001, 1282, 0,
        text(longText('c', 300), 257));
    row("2001 message at 257, 1025", "command reply", 2001, 1282, 257, text(reply, 1025));

    row("100500 read, 20836", "choose remote share", 100500, 20836, 0, {});
    row("100501 mode 1 at 0", "choose remote share", 100501, 20836, 0, le32(1));
    row("100501 current at 20568", "choose remote share", 100501, 20836, 20568, le32(2));
    row("100501 wanted at 20832", "choose remote share", 100501, 20836, 20832, le32(2));
    row("100501 count kept at 20564", "choose remote share", 100501, 20836, 20564, le32(2));

    row("101503 read, 7712", "participants", 101503, 7712, 0, {});
    row("101614 index at 0", "participants", 101614, 660, 0, le32(1));
    row("100100 devices read, 22816", "devices", 100100, 22816, 0, {});
    row("102200 read, 75228", "share sources", 102200, 75228, 0, {});

    const QByteArray path = OutEventState::systemResourcePath().toUtf8();
    row("1705 path at 0, 256", "out 200", 1705, 256, 0, text(path, 256));
    row("1602 without record", "out 300", 1602, 0, 0, {});
    row("1801 the byte 0", "out 1300", 1801, 1, 0, QByteArray(1, '\0'));
    row("100501 on 1600: mode 1", "out 1600", 100501, 20836, 0, le32(1));
    row("100501 on 1600: current", "out 1600", 100501, 20836, 20568, le32(2));
    row("100501 on 1600: wanted", "out 1600", 100501, 20836, 20832, le32(2));
    row("100501 on 1601: mode 2", "out 1601", 100501, 20836, 0, le32(2));
}

void TestRecordLayouts::writtenFields()
{
    QFETCH(QString, action);
    QFETCH(uint, id);
    QFETCH(int, size);
    QFETCH(int, offset);
    QFETCH(QByteArray, field);
    send(action);
    const QList<FakeEngine::Call> calls = engine.calls(id);
    QVERIFY2(!calls.isEmpty(), "nothing was sent with this id");
    const QByteArray bytes = calls.last().bytes;
    QCOMPARE(bytes.size(), size);
    QCOMPARE(bytes.mid(offset, field.size()).toHex(' '), field.toHex(' '));
}

// Records the library fills: answers built at the published offsets, read through the real API.
QMap<QString, QString> TestRecordLayouts::readBack(const QString &action)
{
    using In = TRQClientInEvent;
    QMap<QString, QString> seen;
    if (action == u"devices") {
        // Neighbouring fields hold values that would show if a count were read elsewhere.
        engine.setAnswer(100100, record(22816, {{0, "Mic A"},
                                                {128, "内建输入"},
                                                {256, "Mic C"},
                                                {7712, le32(3)},
                                                {7716, le32(7)},
                                                {7720, "Spk A"},
                                                {7720 + 128, "Spk B"},
                                                {15400, le32(2)},
                                                {15404, le32(7)},
                                                {15408, "Cam A"},
                                                {15408 + 128, "Cam B"},
                                                {19248, le32(2)},
                                                {19252, le32(7)}}));
        const QList<QStringList> devices = In::ClientSyncRequestGetDevice();
        seen[QStringLiteral("microphones")] = devices.value(0).join(u',');
        seen[QStringLiteral("speakers")] = devices.value(1).join(u',');
        seen[QStringLiteral("cameras")] = devices.value(2).join(u',');
    } else if (action == u"share sources") {
        engine.setAnswer(102200, record(75228, {{0, le32(2)},
                                                {4, "Title 1"},
                                                {4 + 257, "Title 2"},
                                                {32900, "Files"},
                                                {32900 + 257, "Editor"},
                                                {65796, le32(0x1200003)},
                                                {65796 + 4, le32(0x1400005)},
                                                {66308, rect(1, 2, 300, 200)},
                                                {66308 + 16, rect(-5, 6, 3000000000, 600)},
                                                {68356, le32(2)},
                                                {72472, "0"},
                                                {72472 + 128, "1"},
                                                {74776, rect(0, 0, 1920, 1080)},
                                                {74776 + 16, rect(1920, -8, 1280, 1024)}}));
        QStringList screens, windows;
        for (const auto &s : In::ClientSyncRequestGetShareList()) {
            const QString line = QStringLiteral("%1/%2/%3/%4")
                                     .arg(s->appName, s->appWindowName,
                                          QString::number(s->appWindowId), describe(s->confRect));
            (s->appName == u"共享屏幕" ? screens : windows).append(line);
        }
        seen[QStringLiteral("screens")] = screens.join(u';');
        seen[QStringLiteral("windows")] = windows.join(u';');
    } else if (action == u"remote shares") {
        engine.setAnswer(100500, remoteShares());
        QStringList names;
        for (const auto &share : In::ClientSyncRequestGetShareInRoom())
            names.append(share->remoteAppName);
        seen[QStringLiteral("names")] = names.join(u',');
        In::ClientSyncRequestSetShareInRoom(0);
        seen[QStringLiteral("chosen")] = AppStatus::shareStatus()->currentRometeUri();
    } else if (action == u"participants") {
        engine.setAnswer(101503, record(7712, {{7700, le32(9)}, {7704, le32(2)}, {7708, le32(9)}}));
        engine.setAnswer(101614, [](QByteArray &r) {
            const qint32 index = i32At(r, 0);
            const QByteArray i = QByteArray::number(index);
            auto put = [&r](int offset, const QByteArray &value) {
                r.replace(offset, value.size() + 1, QByteArray(value).append('\0'));
            };
            put(4, "conf1-p" + i + ";ws");
            put(261, "Name" + i);
            put(389, "pid" + i);
            put(518, "eid" + i);
            r.replace(652, 4, le32(10 + index));
            return 0u;
        });
        QStringList uris, names, ids, entities, roles;
        for (const auto &p : In::ClientSyncRequestGetCurrentContacts()) {
            uris.append(p->uri);
            names.append(p->userName);
            ids.append(p->participantID);
            entities.append(p->entityID);
            roles.append(QString::number(p->participantRole));
        }
        seen[QStringLiteral("uris")] = uris.join(u',');
        seen[QStringLiteral("names")] = names.join(u',');
        seen[QStringLiteral("ids")] = ids.join(u',');
        seen[QStringLiteral("entities")] = entities.join(u',');
        seen[QStringLiteral("roles")] = roles.join(u',');
    } else if (action == u"participant limit") {
        engine.setAnswer(101502, record(12, {{4, le32(5)}, {8, le32(33)}}));
        seen[QStringLiteral("limit")] = QString::number(In::ClientSyncRequestGetParticpantsLimit());
    }
    return seen;
}

void TestRecordLayouts::answeredFields_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    auto row = [](const char *name, const char *action, const char *field, const char *expected) {
        QTest::newRow(name) << QString::fromUtf8(action) << QString::fromUtf8(field)
                            << QString::fromUtf8(expected);
    };
    row("100100 microphones at 0 by 128, count at 7712", "devices", "microphones", "Mic A,Mic C");
    row("100100 speakers at 7720 by 128, count at 15400", "devices", "speakers", "Spk A,Spk B");
    row("100100 cameras at 15408 by 128, count at 19248", "devices", "cameras", "Cam A,Cam B");
    row("102200 screens: count 68356, ids 72472 by 128, rects 74776 by 16", "share sources",
        "screens", "共享屏幕/全屏/0/0,0 1920x1080;共享屏幕/全屏/1/1920,-8 1280x1024");
    row("102200 windows: count 0, titles 4, apps 32900, ids 65796, rects 66308", "share sources",
        "windows",
        "Files/Title 1/18874371/1,2 300x200;Editor/Title 2/20971525/-5,6 3000000000x600;"
        "取消/屏幕共享/0/0,0 0x0");
    row("100500 names at 10284 by 257 from 1, count at 20564", "remote shares", "names",
        "Alice 的屏幕,Bob,停止接受远程共享");
    row("100500 URIs at 4 by 257 from 1", "remote shares", "chosen", "share-a");
    row("101503 count at 7704; 101614 URI at 4", "participants", "uris", "conf1-p0;ws,conf1-p1;ws");
    row("101614 display name at 261", "participants", "names", "Name0,Name1");
    row("101614 participant id at 389", "participants", "ids", "pid0,pid1");
    row("101614 entity id at 518", "participants", "entities", "eid0,eid1");
    row("101614 role at 652", "participants", "roles", "10,11");
    row("101502 limit at 8", "participant limit", "limit", "33");
}

void TestRecordLayouts::answeredFields()
{
    QFETCH(QString, action);
    QFETCH(QString, field);
    const QMap<QString, QString> seen = readBack(action);
    QVERIFY(seen.contains(field));
    QTEST(seen.value(field), "expected");
}

// Out-events: raw records built at the published offsets, fired through the library's thread.
QString TestRecordLayouts::observe(const QString &kind, const QString &expected)
{
    if (kind == u"sent") {
        QStringList ids;
        for (const uint32_t id : engine.ids())
            ids.append(QString::number(id));
        return ids.join(u',');
    }
    if (kind == u"calls")
        return m_delegate.calls.join(u',');
    if (kind == u"caller")
        return OutEventState::incommingcallName();
    if (kind == u"watched")
        return AppStatus::shareStatus()->currentRometeUri();
    if (kind == u"log")
        return capturedLog.contains(expected) ? expected : capturedLog.join(u'\n');
    return QStringLiteral("unknown kind ") + kind;
}

void TestRecordLayouts::outEventFields_data()
{
    QTest::addColumn<uint>("event");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    auto row = [](const char *name, uint event, const QByteArray &record, const char *kind,
                  const char *expected) {
        QTest::newRow(name) << event << record << QString::fromUtf8(kind)
                            << QString::fromUtf8(expected);
    };
    const QByteArray ones(16, '\xff');
    QByteArray active0 = ones;
    active0.replace(0, 4, le32(0));
    active0[12] = '\x01';
    row("300 value 0 at 0", 300, active0, "sent", "1602");
    row("300 byte at 12", 300, active0, "log", "activeEid=0,signinSecured=Yes");
    row("300 value 7 at 0", 300, record(16, {{0, le32(7)}, {13, "\x01"}}), "log",
        "activeEid=7,signinSecured=No");
    row("1300 caller at 0", 1300, record(257, {{0, "Alice 王丽"}}), "caller", "Alice 王丽");
    row("1503 byte 1 at 0", 1503, "\x01", "muted", "true");
    row("1503 byte 0 at 0", 1503, QByteArray("\x00\x01", 2), "muted", "false");
    row("1600 URI at 0", 1600, record(257, {{0, "share-a"}}), "watched", "share-a");
    row("1601 URI at 0, then current index at 20568", 1601, record(257, {{0, "share-b"}}),
        "watched", "share-a");
    row("1700 width at 0, height at 4", 1700, record(8, {{0, le32(1280)}, {4, le32(720)}}), "log",
        "outwidth 1280 height 720 joinwidth 640.000000 joinHeight 360.000000");
    row("2300 code at 0", 2300, record(8, {{0, le32(401)}, {4, le32(2004)}}), "calls",
        "error:用户名密码错误");
    row("2301 five fields", 2301,
        record(20, {{0, le32(11)}, {4, le32(22)}, {8, "\x21"}, {12, le32(44)}, {16, le32(55)}}),
        "log", "11 22 33 55 44");
    row("2304 reason at 0", 2304, record(12, {{0, le32(2)}, {4, le32(1)}, {9, "\x01"}}), "calls",
        "closeAll,alert:账号在别处登陆");
    row("2304 cause 1 at 8", 2304, record(12, {{0, le32(2)}, {8, "\x01"}}), "calls", "");
    row("2305 result at 0", 2305, record(8, {{0, le32(1021)}, {4, le32(1007)}}), "room link",
        "当前房间的并发数已满,无法入会");
    row("2305 result 0 at 0", 2305, record(8, {{4, le32(1021)}}), "room link", "");
    const QByteArray chat =
        record(1410, {{0, "conf-u1002"}, {257, "Alice"}, {385, "#TRQCOMMAND#u1002#1&x"}});
    row("2600 URI 0, name 257, message 385", 2600, chat, "chat",
        "conf-u1002|Alice|#TRQCOMMAND#u1002#1&x|GroupChat");
    row("2601 URI 0, name 257, message 385", 2601, chat, "chat",
        "conf-u1002|Alice|#TRQCOMMAND#u1002#1&x|PrivateChat");
}

void TestRecordLayouts::outEventFields()
{
    QFETCH(uint, event);
    QFETCH(QByteArray, record);
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    engine.setAnswer(100500, remoteShares());
    QString notified;
    QObject context;
    auto *center = NotificationCenter::defaultCenter();
    center->addObserver(NotificationCenter::changeMicFormNet, &context, [&](const Notification &n) {
        notified = n.userInfo.value(QStringLiteral("isMuted")).toBool() ? QStringLiteral("true")
                                                                        : QStringLiteral("false");
    });
    center->addObserver(NotificationCenter::roomLinkError, &context, [&](const Notification &n) {
        notified = n.object.toMap().value(QStringLiteral("reason")).toString();
    });
    center->addObserver(
        NotificationCenter::changeSpeakerFormNet, &context, [&](const Notification &n) {
            const auto m = n.object.value<std::shared_ptr<MessageModel>>();
            notified = QStringList{m->uri, m->userName, m->msg, m->msgType}.join(u'|');
        });
    fire(event, record);
    const bool byNotification = kind == u"muted" || kind == u"room link" || kind == u"chat";
    QCOMPARE(byNotification ? notified : observe(kind, expected), expected);
}

QTEST_GUILESS_MAIN(TestRecordLayouts)
#include "tst_recordlayouts.moc"
