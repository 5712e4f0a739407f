#include "bridge/ConfigurationPusher.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "services/ServiceDatabase.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/TestHost.h"
#include "tests/ui/UiHarness.h"
#include "ui/settings/AboutUsWidowController.h"
#include "ui/settings/AllSetsWindowController.h"
#include "ui/settings/ChangePasswordViewController.h"
#include "ui/settings/DevicePreview.h"
#include "ui/settings/DeviceViewController.h"
#include "ui/settings/GeneralSetsViewController.h"
#include "ui/settings/VideoQualityViewController.h"
#include "ui/widgets/ToastView.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QThread>

namespace CR = ConfRecords;

/// The settings window: its tabs, the device, quality and general pages, and the password
/// change against the reference portal.
class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void applicationMenu();
    void signedOutTabs();
    void devices_data();
    void devices();
    void deviceChoice_data();
    void deviceChoice();
    void deviceChange();
    void shownRowChosen();
    void quickMovesPushInOrder();
    void callFollowsQualityAndVoice_data();
    void callFollowsQualityAndVoice();
    void levelMeter_data();
    void levelMeter();
    void videoQuality_data();
    void videoQuality();
    void qualityButtons();
    void generalBoxes_data();
    void generalBoxes();
    void signedInTabs();
    void passwordRules_data();
    void passwordRules();
    void passwordChecks_data();
    void passwordChecks();
    void passwordChangeFails();
    void passwordChangeSucceeds();
    void passwordAlertGoesWithTheWindow();

private:
    AppDelegate *app() const { return m_app->delegate(); }
    AllSetsWindowController *open(int tab)
    {
        app()->showConfigPanel();
        AllSetsWindowController *settings = app()->allSets();
        settings->tabView()->setCurrentIndex(tab);
        return settings;
    }
    template <typename Page> Page *page(int tab)
    {
        return qobject_cast<Page *>(open(tab)->pageAt(tab));
    }
    static QByteArray deviceRecord(const QStringList &mics, const QStringList &speakers,
                                   const QStringList &cameras)
    {
        namespace C = CR::Config;
        QByteArray config = CR::zeroed(C::Size);
        const auto write = [&config](const QStringList &names, uint32_t at, uint32_t count) {
            for (int i = 0; i < names.size(); ++i)
                CR::writeText(config, at + uint32_t(i) * C::NameWidth, C::NameWidth, names[i]);
            CR::writeU32(config, count, uint32_t(names.size()));
        };
        write(mics, C::Microphones, C::MicrophoneCount);
        write(speakers, C::Speakers, C::SpeakerCount);
        write(cameras, C::Cameras, C::CameraCount);
        return config;
    }
    static void clickRow(QListWidget *table, int row)
    {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(row)).center());
    }
    static QMessageBox *sheetOn(QWidget *window)
    {
        for (QMessageBox *box : window->findChildren<QMessageBox *>())
            if (box->isVisible())
                return box;
        return nullptr;
    }
    static void setStored(int mic, int speaker, int camera)
    {
        Preferences prefs;
        prefs.setSelectedMicDeviceNumber(uint(mic));
        prefs.setSelectedSpeakerDeviceNumber(uint(speaker));
        prefs.setSelectedCameraDeviceNumber(uint(camera));
    }

    std::unique_ptr<UiHarness> m_app;
};

void TestSettings::initTestCase()
{
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
}

void TestSettings::init()
{
    m_app->launch();
    // The password pages belong to a signed-in user.
    if (QByteArray(QTest::currentTestFunction()).startsWith("password"))
        QVERIFY(m_app->signInAsDemo());
}

void TestSettings::cleanup()
{
    QVERIFY(m_app->quit());
}

void TestSettings::applicationMenu()
{
    const QList<QMenu *> menus = app()->window()->menuBar()->findChildren<QMenu *>();
    QVERIFY(!menus.isEmpty());
    QStringList items;
    for (const QAction *action : menus.first()->actions())
        if (!action->isSeparator() && action->isVisible())
            items.append(action->text());
    QCOMPARE(items, (QStringList{"关于 Orvale", "设置…", "关闭窗口", "退出 Orvale"}));

    menus.first()->actions()[1]->trigger();
    AllSetsWindowController *first = app()->allSets();
    QVERIFY(first && first->isVisible());
    menus.first()->actions()[1]->trigger();
    QVERIFY(app()->allSets() != first); // made anew each time
    menus.first()->actions()[0]->trigger();
    QVERIFY(app()->aboutUs() && app()->aboutUs()->isVisible());
    app()->aboutUs()->close();
}

void TestSettings::signedOutTabs()
{
    QVERIFY(!AppStatus::shareStatus()->isSignIn());
    AllSetsWindowController *settings = open(0);
    QCOMPARE(settings->tabView()->count(), 3);
    QVERIFY(qobject_cast<DeviceViewController *>(settings->pageAt(0)));
    QVERIFY(qobject_cast<VideoQualityViewController *>(settings->pageAt(1)));
    QVERIFY(qobject_cast<GeneralSetsViewController *>(settings->pageAt(2)));
    QVERIFY(settings->findChildren<ChangePasswordViewController *>().isEmpty());
}

void TestSettings::devices_data()
{
    QTest::addColumn<QList<int>>("stored");
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<int>>("selected");
    QTest::newRow("stored choices")
        << QList<int>{1, 2, 0} << QList<int>{3, 3, 2} << QList<int>{1, 2, 0};
    QTest::newRow("last of each") << QList<int>{2, 2, 1} << QList<int>{3, 3, 2}
                                  << QList<int>{2, 2, 1};
    QTest::newRow("microphone unplugged")
        << QList<int>{3, 0, 1} << QList<int>{3, 3, 2} << QList<int>{0, 0, 1};
    QTest::newRow("all beyond") << QList<int>{9, 9, 9} << QList<int>{1, 2, 1}
                                << QList<int>{0, 0, 0};
    QTest::newRow("no camera") << QList<int>{0, 1, 0} << QList<int>{1, 2, 0}
                               << QList<int>{0, 1, -1};
}

void TestSettings::devices()
{
    QFETCH(QList<int>, stored);
    QFETCH(QList<int>, counts);
    QFETCH(QList<int>, selected);
    const auto names = [](const QString &stem, int count) {
        QStringList list;
        for (int i = 0; i < count; ++i)
            list.append(QStringLiteral("%1 %2").arg(stem).arg(i));
        return list;
    };
    FakeEngine::instance().setAnswer(CR::RequestGetConfiguration,
                                     deviceRecord(names("麦克风", counts[0]),
                                                  names("扬声器", counts[1]),
                                                  names("Camera", counts[2])));
    setStored(stored[0], stored[1], stored[2]);
    auto *devices = page<DeviceViewController>(0);
    QVERIFY(devices);
    const QList<QListWidget *> tables{devices->micsTable(), devices->speakersTable(),
                                      devices->cameraTable()};
    const QStringList stems{"麦克风", "扬声器", "Camera"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(tables[i]->count(), counts[i]);
        QCOMPARE(tables[i]->currentRow(), selected[i]);
        if (counts[i] > 0)
            QCOMPARE(tables[i]->item(counts[i] - 1)->text(),
                     QStringLiteral("%1 %2").arg(stems[i]).arg(counts[i] - 1));
    }
    QCOMPARE(devices->micArray().size(), counts[0]);
    // Showing the lists stores nothing.
    QCOMPARE(int(Preferences().selectedMicDeviceNumber()), stored[0]);
}

void TestSettings::deviceChoice_data()
{
    QTest::addColumn<int>("table");
    QTest::addColumn<bool>("inConference");
    QTest::newRow("microphone") << 0 << false;
    QTest::newRow("speaker") << 1 << false;
    QTest::newRow("camera") << 2 << false;
    QTest::newRow("microphone in a call") << 0 << true;
    QTest::newRow("speaker in a call") << 1 << true;
    QTest::newRow("camera in a call") << 2 << true;
}

void TestSettings::deviceChoice()
{
    QFETCH(int, table);
    QFETCH(bool, inConference);
    FakeEngine &engine = FakeEngine::instance();
    engine.setAnswer(CR::RequestGetConfiguration,
                     deviceRecord({"m0", "m1", "m2"}, {"s0", "s1", "s2"}, {"c0", "c1", "c2"}));
    setStored(0, 0, 0);
    auto *devices = page<DeviceViewController>(0);
    AppStatus::shareStatus()->setIsInConference(inConference);
    const qsizetype pushes = engine.calls(CR::RequestSetConfiguration).size();

    const QList<QListWidget *> tables{devices->micsTable(), devices->speakersTable(),
                                      devices->cameraTable()};
    clickRow(tables[table], 2);
    const Preferences prefs;
    const QList<uint> storedNow{prefs.selectedMicDeviceNumber(),
                                prefs.selectedSpeakerDeviceNumber(),
                                prefs.selectedCameraDeviceNumber()};
    for (int i = 0; i < 3; ++i)
        QCOMPARE(storedNow[i], i == table ? 2u : 0u);

    QVERIFY(ConfigurationPusher::waitForDone(5000));
    AppStatus::shareStatus()->setIsInConference(false);
    const auto calls = engine.calls(CR::RequestSetConfiguration);
    QCOMPARE(calls.size(), pushes + (inConference ? 1 : 0));
    if (inConference) {
        const uint32_t offsets[] = {CR::Config::SelectedMicrophone, CR::Config::SelectedSpeaker,
                                    CR::Config::SelectedCamera};
        QCOMPARE(CR::readU32(calls.last().bytes, offsets[table]), 2u);
    }
}

void TestSettings::deviceChange()
{
    FakeEngine &engine = FakeEngine::instance();
    engine.setAnswer(CR::RequestGetConfiguration, deviceRecord({"m0", "m1"}, {"s0"}, {"c0", "c1"}));
    setStored(1, 0, 1);
    auto *devices = page<DeviceViewController>(0);
    QCOMPARE(devices->micsTable()->currentRow(), 1);

    // The chosen microphone and camera are unplugged, a speaker arrives.
    engine.setAnswer(CR::RequestGetConfiguration, deviceRecord({"m0"}, {"s0", "USB"}, {"c0"}));
    engine.fire(CR::OutDevicesChanged);
    QTRY_COMPARE(devices->speakersTable()->count(), 2);
    QCOMPARE(devices->speakersTable()->item(1)->text(), QStringLiteral("USB"));
    QCOMPARE(devices->micsTable()->count(), 1);
    QCOMPARE(devices->micsTable()->currentRow(), 0);
    QCOMPARE(devices->cameraTable()->currentRow(), 0);
}

void TestSettings::shownRowChosen()
{
    FakeEngine &engine = FakeEngine::instance();
    engine.setAnswer(CR::RequestGetConfiguration, deviceRecord({"m0", "m1"}, {"s0"}, {"c0"}));
    setStored(5, 0, 0); // a microphone since unplugged
    auto *devices = page<DeviceViewController>(0);
    QCOMPARE(devices->micsTable()->currentRow(), 0);
    AppStatus::shareStatus()->setIsInConference(true);
    const qsizetype pushes = engine.calls(CR::RequestSetConfiguration).size();
    clickRow(devices->micsTable(), 0); // the row shown is the one wanted
    QCOMPARE(Preferences().selectedMicDeviceNumber(), 0u);
    QVERIFY(ConfigurationPusher::waitForDone(5000));
    AppStatus::shareStatus()->setIsInConference(false);
    const auto calls = engine.calls(CR::RequestSetConfiguration);
    QCOMPARE(calls.size(), pushes + 1);
    QCOMPARE(CR::readU32(calls.last().bytes, CR::Config::SelectedMicrophone), 0u);
}

void TestSettings::quickMovesPushInOrder()
{
    FakeEngine &engine = FakeEngine::instance();
    engine.setAnswer(CR::RequestGetConfiguration,
                     deviceRecord({"m0", "m1", "m2", "m3"}, {"s0"}, {"c0"}));
    // An engine that takes its time to reopen a device; pushes that overlap are seen.
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    engine.setAnswer(CR::RequestSetConfiguration, [&](QByteArray &) {
        overlapped = overlapped || inside.fetch_add(1) > 0;
        QThread::msleep(40);
        inside.fetch_sub(1);
        return 0u;
    });
    setStored(0, 0, 0);
    auto *devices = page<DeviceViewController>(0);
    AppStatus::shareStatus()->setIsInConference(true);
    const qsizetype pushes = engine.calls(CR::RequestSetConfiguration).size();
    devices->micsTable()->setFocus();
    for (int i = 0; i < 3; ++i) // faster than the engine answers
        QTest::keyClick(devices->micsTable(), Qt::Key_Down);
    QVERIFY(ConfigurationPusher::waitForDone(5000));
    AppStatus::shareStatus()->setIsInConference(false);
    engine.setAnswer(CR::RequestSetConfiguration, QByteArray());
    QVERIFY(!overlapped);
    const auto calls = engine.calls(CR::RequestSetConfiguration).mid(pushes);
    QVERIFY(!calls.isEmpty());
    uint32_t previous = 0;
    for (const FakeEngine::Call &call : calls) {
        const uint32_t mic = CR::readU32(call.bytes, CR::Config::SelectedMicrophone);
        QVERIFY(mic >= previous);
        previous = mic;
    }
    QCOMPARE(previous, 3u); // the last move arrives last
}

void TestSettings::callFollowsQualityAndVoice_data()
{
    QTest::addColumn<bool>("inConference");
    QTest::newRow("in a call") << true;
    QTest::newRow("outside a call") << false;
}

void TestSettings::callFollowsQualityAndVoice()
{
    QFETCH(bool, inConference);
    FakeEngine &engine = FakeEngine::instance();
    Preferences().setVideoPreferences(0);
    AppStatus::shareStatus()->setIsInConference(inConference);
    const qsizetype pushes = engine.calls(CR::RequestSetConfiguration).size();
    auto *quality = page<VideoQualityViewController>(1);
    QTest::mouseClick(quality->buttonWithTag(102), Qt::LeftButton);
    QVERIFY(ConfigurationPusher::waitForDone(5000));
    auto calls = engine.calls(CR::RequestSetConfiguration);
    QCOMPARE(calls.size(), pushes + (inConference ? 1 : 0));
    if (inConference)
        QCOMPARE(CR::readU32(calls.last().bytes, CR::Config::VideoPreference), 2u);
    auto *general = page<GeneralSetsViewController>(2);
    QTest::mouseClick(general->autoSpeaker(), Qt::LeftButton, {},
                      QPoint(8, general->autoSpeaker()->height() / 2));
    QVERIFY(ConfigurationPusher::waitForDone(5000));
    AppStatus::shareStatus()->setIsInConference(false);
    calls = engine.calls(CR::RequestSetConfiguration);
    QCOMPARE(calls.size(), pushes + (inConference ? 2 : 0));
    if (inConference)
        QCOMPARE(CR::readU32(calls.last().bytes, CR::Config::EchoCancellation), 0u);
    Preferences().setEnableEchoCancellation(1);
    Preferences().setVideoPreferences(0);
}

void TestSettings::levelMeter_data()
{
    QTest::addColumn<QList<qint16>>("samples");
    QTest::addColumn<int>("level");
    QTest::newRow("silence") << QList<qint16>{0, 0, 0} << 0;
    QTest::newRow("full positive") << QList<qint16>{0, 32767, 5} << 100;
    QTest::newRow("full negative") << QList<qint16>{-32768, 0} << 100;
    QTest::newRow("half") << QList<qint16>{100, -16384, 200} << 50;
    QTest::newRow("nothing") << QList<qint16>{} << 0;
}

void TestSettings::levelMeter()
{
    QFETCH(QList<qint16>, samples);
    QFETCH(int, level);
    const QByteArray bytes(reinterpret_cast<const char *>(samples.constData()),
                           samples.size() * qsizetype(sizeof(qint16)));
    QCOMPARE(DevicePreview::peakLevel(bytes), level);
    QCOMPARE(DevicePreview::peakLevel(bytes + "x"), level); // a half sample is left out
}

void TestSettings::videoQuality_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("mainTag");
    QTest::addColumn<int>("specialTag");
    QTest::newRow("absent") << QVariant() << 100 << 0;
    QTest::newRow("0") << QVariant(0) << 100 << 0;
    QTest::newRow("1") << QVariant(1) << 101 << 0;
    QTest::newRow("2") << QVariant(2) << 102 << 0;
    QTest::newRow("3") << QVariant(3) << 103 << 0;
    QTest::newRow("4") << QVariant(4) << 99 << 104;
    QTest::newRow("5") << QVariant(5) << 99 << 105;
}

void TestSettings::videoQuality()
{
    QFETCH(QVariant, stored);
    QFETCH(int, mainTag);
    QFETCH(int, specialTag);
    QSettings settings(QStringLiteral("Orvale"), QStringLiteral("orvale"));
    if (stored.isValid())
        settings.setValue(QStringLiteral("videoPreferences"), stored);
    else
        settings.remove(QStringLiteral("videoPreferences"));
    auto *quality = page<VideoQualityViewController>(1);
    QVERIFY(quality);
    for (const int tag : {99, 100, 101, 102, 103, 104, 105})
        QCOMPARE(quality->buttonWithTag(tag)->isChecked(), tag == mainTag || tag == specialTag);
    QCOMPARE(quality->specialView()->isVisible(), specialTag != 0);
    // Opening the page stores nothing new.
    QCOMPARE(Preferences().videoPreferences(), stored.toInt());
}

void TestSettings::qualityButtons()
{
    Preferences().setVideoPreferences(1);
    auto *quality = page<VideoQualityViewController>(1);
    QVERIFY(!quality->specialView()->isVisible());
    QTest::mouseClick(quality->buttonWithTag(99), Qt::LeftButton);
    QVERIFY(quality->specialView()->isVisible());
    QCOMPARE(Preferences().videoPreferences(), 1); // the "more" button alone stores nothing
    QTest::mouseClick(quality->buttonWithTag(105), Qt::LeftButton);
    QCOMPARE(Preferences().videoPreferences(), 5);
    QTest::mouseClick(quality->buttonWithTag(104), Qt::LeftButton);
    QCOMPARE(Preferences().videoPreferences(), 4);
    QTest::mouseClick(quality->buttonWithTag(103), Qt::LeftButton);
    QCOMPARE(Preferences().videoPreferences(), 3);
    QVERIFY(!quality->specialView()->isVisible());
    QTest::mouseClick(quality->buttonWithTag(100), Qt::LeftButton);
    QCOMPARE(Preferences().videoPreferences(), 0);
}

void TestSettings::generalBoxes_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("byDefault");
    QTest::newRow("echo cancellation") << 0 << "enableEchoCancellation" << true;
    QTest::newRow("automatic gain") << 1 << "enableAudioAGC" << true;
    QTest::newRow("outside search") << 2 << "searchOutsideRoom" << false;
    QTest::newRow("auto-answer") << 3 << "autoAnswer" << false;
    QTest::newRow("proxy") << 4 << "AlwaysUseProxy" << false;
}

void TestSettings::generalBoxes()
{
    QFETCH(int, box);
    QFETCH(QString, key);
    QFETCH(bool, byDefault);
    QSettings settings(QStringLiteral("Orvale"), QStringLiteral("orvale"));
    settings.remove(key);
    auto *general = page<GeneralSetsViewController>(2);
    const QList<QCheckBox *> boxes{general->autoSpeaker(), general->autoMic(),
                                   general->searchOutsideRoom(), general->autoAnswer(),
                                   general->useProxy()};
    QCOMPARE(boxes[box]->isChecked(), byDefault);
    QVERIFY(!settings.contains(key)); // nothing is written before a click

    QTest::mouseClick(boxes[box], Qt::LeftButton, {}, QPoint(8, boxes[box]->height() / 2));
    settings.sync();
    QCOMPARE(settings.value(key).toInt(), byDefault ? 0 : 1);
    QTest::mouseClick(boxes[box], Qt::LeftButton, {}, QPoint(8, boxes[box]->height() / 2));
    settings.sync();
    QCOMPARE(settings.value(key).toInt(), byDefault ? 1 : 0);

    // A fresh window reads the stored state.
    settings.setValue(key, byDefault ? 0 : 1);
    general = page<GeneralSetsViewController>(2);
    const QList<QCheckBox *> again{general->autoSpeaker(), general->autoMic(),
                                   general->searchOutsideRoom(), general->autoAnswer(),
                                   general->useProxy()};
    QCOMPARE(again[box]->isChecked(), !byDefault);
    settings.remove(key);
}

void TestSettings::signedInTabs()
{
    QVERIFY(m_app->signInAsDemo());
    AllSetsWindowController *settings = open(3);
    QCOMPARE(settings->tabView()->count(), 4);
    QVERIFY(qobject_cast<ChangePasswordViewController *>(settings->pageAt(3)));
    QVERIFY(qobject_cast<DeviceViewController *>(settings->pageAt(0)));
}

void TestSettings::passwordRules_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    for (const int field : {1, 2}) {
        const QString which = field == 1 ? QStringLiteral("new ") : QStringLiteral("confirmation ");
        QTest::newRow(qPrintable(which + "5")) << field << "abc12" << false;
        QTest::newRow(qPrintable(which + "6")) << field << "abc123" << true;
        QTest::newRow(qPrintable(which + "12")) << field << "ABCdef123456" << true;
        QTest::newRow(qPrintable(which + "13")) << field << "ABCdef1234567" << false;
        QTest::newRow(qPrintable(which + "blank")) << field << "abc 123" << false;
        QTest::newRow(qPrintable(which + "punctuation")) << field << "abc.123" << false;
        QTest::newRow(qPrintable(which + "not latin")) << field << "密码密码密码" << false;
        QTest::newRow(qPrintable(which + "empty")) << field << "" << true;
    }
    QTest::newRow("old password is not checked") << 0 << "a b" << true;
}

void TestSettings::passwordRules()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    auto *password = page<ChangePasswordViewController>(3);
    password->window()->activateWindow();
    const QList<QLineEdit *> fields{password->oldPass(), password->chagePass(),
                                    password->confirmPass()};
    m_app->takeToasts();
    fields[(field + 1) % 3]->setFocus(); // the refused field takes the focus back
    fields[field]->insert(text);         // typed; key events cannot carry the Chinese row
    QTest::keyClick(fields[field], Qt::Key_Return); // ends the editing, as leaving it does
    if (accepted) {
        QCOMPARE(fields[field]->text(), text);
        QVERIFY(m_app->takeToasts().isEmpty());
        return;
    }
    QCOMPARE(fields[field]->text(), QString());
    QCOMPARE(m_app->takeToasts(), QStringList{"请输入6-12位数字或字母"});
    QCOMPARE(password->window()->focusWidget(), fields[field]);
}

void TestSettings::passwordChecks_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("toast");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("empty old") << QStringList{"", "abc123", "abc123"} << ""
                               << QStringList{"", "abc123", "abc123"};
    QTest::newRow("empty confirmation")
        << QStringList{"demo1234", "abc123", ""} << "" << QStringList{"demo1234", "abc123", ""};
    QTest::newRow("wrong old") << QStringList{"demo12345", "abc123", "abc123"} << "原密码错误"
                               << QStringList{"", "abc123", "abc123"};
    QTest::newRow("mismatch") << QStringList{"demo1234", "abc123", "abc124"} << "两次新密码不一致"
                              << QStringList{"demo1234", "", ""};
    QTest::newRow("too short, typed without leaving the field")
        << QStringList{"demo1234", "abc", "abc"} << "请输入6-12位数字或字母"
        << QStringList{"demo1234", "", "abc"};
}

void TestSettings::passwordChecks()
{
    QFETCH(QStringList, texts);
    QFETCH(QString, toast);
    QFETCH(QStringList, after);
    auto *password = page<ChangePasswordViewController>(3);
    const QList<QLineEdit *> fields{password->oldPass(), password->chagePass(),
                                    password->confirmPass()};
    for (int i = 0; i < 3; ++i)
        fields[i]->setText(texts[i]);
    m_app->takeToasts();
    password->updatePass();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(fields[i]->text(), after[i]);
    QCOMPARE(m_app->takeToasts(), toast.isEmpty() ? QStringList() : QStringList{toast});
    QVERIFY(!AppStatus::shareStatus()->isChangePassword()); // nothing was sent
    QVERIFY(!sheetOn(password->window()));
}

void TestSettings::passwordChangeFails()
{
    auto *password = page<ChangePasswordViewController>(3);
    const auto user = AppUser::defaultUser();
    const QString portal = user->httpPortal;
    user->httpPortal = QStringLiteral("http://%1:1").arg(testHost()); // nothing listens there
    password->oldPass()->setText(QStringLiteral("demo1234"));
    password->chagePass()->setText(QStringLiteral("abc123"));
    password->confirmPass()->setText(QStringLiteral("abc123"));
    m_app->takeToasts();
    password->updatePass();
    QVERIFY(AppStatus::shareStatus()->isChangePassword());
    QTRY_COMPARE(m_app->toasts(), QStringList{"发生了一些错误,修改密码失败."});
    user->httpPortal = portal;
    QVERIFY(!AppStatus::shareStatus()->isChangePassword());
    QCOMPARE(password->chagePass()->text(), QStringLiteral("abc123")); // kept
    QVERIFY(!sheetOn(password->window()));
    QVERIFY(FakeEngine::instance().calls(CR::EventSignOut).isEmpty());
}

void TestSettings::passwordChangeSucceeds()
{
    auto *password = page<ChangePasswordViewController>(3);
    password->oldPass()->setText(QStringLiteral("demo1234"));
    password->chagePass()->setText(QStringLiteral("Neu12345"));
    password->confirmPass()->setText(QStringLiteral("Neu12345"));
    password->updatePass();
    QTRY_VERIFY(sheetOn(password->window()));
    QMessageBox *alert = sheetOn(password->window());
    QCOMPARE(alert->informativeText(), QStringLiteral("修改成功,您需要使用新密码登录!"));
    // Signed out only once the alert is dismissed.
    QVERIFY(AppStatus::shareStatus()->isChangePassword());
    QVERIFY(FakeEngine::instance().calls(CR::EventSignOut).isEmpty());
    alert->buttons().first()->click();
    QTRY_COMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);
    QVERIFY(!AppStatus::shareStatus()->isChangePassword());
    // The portal has the new password.
    ServiceDatabase &db = m_app->services()->database();
    QVERIFY(db.authenticate(QStringLiteral("demo"), QStringLiteral("Neu12345")));
    QVERIFY(!db.authenticate(QStringLiteral("demo"), QStringLiteral("demo1234")));
    QVERIFY(db.setPassword(QStringLiteral("demo"), QStringLiteral("demo1234")));
}

void TestSettings::passwordAlertGoesWithTheWindow()
{
    auto *password = page<ChangePasswordViewController>(3);
    password->oldPass()->setText(QStringLiteral("demo1234"));
    password->chagePass()->setText(QStringLiteral("Neu12345"));
    password->confirmPass()->setText(QStringLiteral("Neu12345"));
    password->updatePass();
    QTRY_VERIFY(sheetOn(password->window()));
    // Opening the settings again replaces the window, and the alert on it, unanswered.
    app()->showConfigPanel();
    QTRY_COMPARE(FakeEngine::instance().calls(CR::EventSignOut).size(), 1);
    QVERIFY(!AppStatus::shareStatus()->isChangePassword());
    QVERIFY(m_app->services()->database().setPassword(QStringLiteral("demo"),
                                                      QStringLiteral("demo1234")));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
