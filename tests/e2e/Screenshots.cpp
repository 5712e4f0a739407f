// Walks through the client as a user would, against a running deployment, and writes a
// screenshot of the whole screen at each step. Run by scripts/screenshots under Xvfb:
//   orvale-screenshots <server address> <portal address> <output folder>
// Or one side of a two-person call for scripts/call-screenshot: signs in as <user>, calls the
// contact named <callee> or accepts the call that comes, places the conference window (at its
// smallest) at x, y and says "ready" once the pictures of <peer> (a part of its URI, "u1002")
// arrive:
//   orvale-screenshots --call <server address> <user> <peer> <x> <y> [<callee>]

#include "app/AppDelegate.h"
#include "app/AppLanguage.h"
#include "bridge/TRQClientInEvent.h"
#include "model/LiveModel.h"
#include "model/Preferences.h"
#include "tests/support/ConferenceDetails.h"
#include "tests/support/MediaMeasures.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/conference/ScreenSouseViewController.h"
#include "ui/conference/ShareListInRoom.h"
#include "ui/invite/QRCodeWindowController.h"
#include "ui/invite/QRCodec.h"
#include "ui/invite/QRImageView.h"
#include "ui/invite/ShareQRCodeWindowController.h"
#include "ui/live/DirectLiveCellView.h"
#include "ui/live/DirectLiveList.h"
#include "ui/live/LiveVideoLayer.h"
#include "ui/live/PlayDirectLive.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/EnterByURLWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/settings/AboutUsWidowController.h"
#include "ui/settings/AllSetsWindowController.h"
#include "ui/widgets/BardgeButton.h"
#include "ui/widgets/Popover.h"
#include "ui/widgets/SliderCell.h"

#include <QLabel>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <cstdio>
#include <limits>

namespace {

QString outputDir;
int failures = 0;

void shoot(const QString &name)
{
    QTest::qWait(600); // let windows map and paint
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!QGuiApplication::primaryScreen()->grabWindow(0).save(path))
        ++failures;
    std::printf("%s\n", qPrintable(path));
}

/// A picture of one window as it draws itself.
void shootWindow(const QString &name, QWidget *window)
{
    QTest::qWait(400);
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!window->grab().save(path))
        ++failures;
    std::printf("%s\n", qPrintable(path));
}

bool waitFor(const std::function<bool()> &condition, const char *what)
{
    if (QTest::qWaitFor(condition, 15000))
        return true;
    std::fprintf(stderr, "screenshots: gave up waiting for %s\n", what);
    ++failures;
    return false;
}

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

/// One side of a call, as its user would take part: see the top of this file.
int takePartInCall(const QStringList &args)
{
    const QString user = args.value(1), peer = args.value(2), callee = args.value(5);
    ConferenceDetails::catchFromLog();
    Preferences().setSystemTime(std::numeric_limits<qint64>::max()); // no release prompt
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    LoginViewController *login = delegate.loginVc();
    login->ipField()->setText(args.value(0));
    login->nameField()->setText(user);
    login->passField()->setText(user + QStringLiteral("1234"));
    login->loginButton()->click();
    ContactWindowController *main = nullptr;
    if (!waitFor([&] { return (main = login->contactWindowController()) && main->isVisible(); },
                 "the main window"))
        return 1;
    ContactListViewController *list = main->contactList();
    if (!waitFor([&] { return list->tableView()->count() > 0; }, "the contact list"))
        return 1;
    say("signed in");
    if (!callee.isEmpty()) {
        for (int row = 0; row < list->rows().size(); ++row)
            if (list->rows()[row]->displayName == callee)
                list->proposeSelection(row);
        list->contactDetailVc()->joinConferenceButton()->click();
    } else {
        QMessageBox *ring = nullptr;
        if (!waitFor(
                [&] {
                    for (QWidget *widget : QApplication::topLevelWidgets())
                        if (auto *box = qobject_cast<QMessageBox *>(widget);
                            box && box->isVisible())
                            ring = box;
                    return ring != nullptr;
                },
                "the incoming call"))
            return 1;
        ring->buttons().value(0)->click(); // 接受
    }
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    if (!waitFor([&] { return conference->isVisible(); }, "the conference"))
        return 1;
    conference->resize(conference->minimumSize());
    conference->move(args.value(3).toInt(), args.value(4).toInt());
    // Without Janus or an address for ICE the tiles say that the pictures cannot come.
    if (mediaUnavailable().isEmpty()) {
        const auto flowing = ConferenceDetails::picturesFlow(
            [] { TRQClientInEvent::ClientSyncRequestConferenceDetails(); }, peer, true);
        if (!QTest::qWaitFor(flowing, 30000))
            std::fprintf(stderr, "screenshots: no pictures of %s\n", qPrintable(peer));
    }
    say("ready");
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvale"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvale"));
    QApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));
    AppLanguage language;
    language.use(AppLanguage::systemLanguage());
    const QStringList args = QApplication::arguments().mid(1);
    if (args.value(0) == u"--call" && args.size() >= 6)
        return takePartInCall(args.mid(1));
    if (argc < 4) {
        std::fprintf(stderr, "usage: orvale-screenshots <server> <portal> <folder>\n");
        return 2;
    }
    const QString server = QString::fromLocal8Bit(argv[1]);
    const QString portal = QString::fromLocal8Bit(argv[2]);
    outputDir = QString::fromLocal8Bit(argv[3]);
    QDir().mkpath(outputDir);
    Preferences().setSearchOutsideRoom(1);

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QMainWindow *login = delegate.window();
    login->move(60, 60);
    LoginViewController *view = delegate.loginVc();
    shoot(QStringLiteral("01-login"));

    view->ipField()->setText(server);
    view->nameField()->setText(QStringLiteral("demo"));
    view->loginButton()->click(); // no password: the toast
    shoot(QStringLiteral("02-login-toast"));

    view->passField()->setText(QStringLiteral("demo1234"));
    QTest::qWait(1600);
    view->loginButton()->click();
    if (!waitFor(
            [&] {
                return view->contactWindowController() &&
                       view->contactWindowController()->isVisible();
            },
            "the main window"))
        return 1;
    ContactWindowController *main = view->contactWindowController();
    main->move(60, 60);
    ContactListViewController *list = main->contactList();
    waitFor([&] { return list->tableView()->count() > 0; }, "the contact list");
    shoot(QStringLiteral("03-main-window"));

    int alice = 0;
    for (int row = 0; row < list->rows().size(); ++row)
        if (list->rows()[row]->displayName == u"Alice 王丽")
            alice = row;
    list->proposeSelection(alice);
    shoot(QStringLiteral("04-details-popover"));
    list->dismissCurrentViewController();

    // The invitation of the own room, from its details; its card is kept for the join-by-QR window.
    QTemporaryDir cards;
    const QString card = cards.filePath(QStringLiteral("二维码.png"));
    list->proposeSelection(0);
    list->contactDetailVc()->deleteContactButton()->click();
    ShareQRCodeWindowController *invitation = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<ShareQRCodeWindowController *>(widget))
            invitation = window;
    if (invitation && waitFor([&] { return invitation->isVisible(); }, "the invitation")) {
        invitation->move(500, 80);
        shootWindow(QStringLiteral("invitation"), invitation);
        if (QRCodec::decode(invitation->grab().toImage()) != invitation->codeStr() ||
            !invitation->savePhotoTo(card)) {
            std::fprintf(stderr, "screenshots: the invitation's code does not read back\n");
            ++failures;
        }
        invitation->close();
    }
    list->dismissCurrentViewController();

    list->searchField()->setText(QStringLiteral("a"));
    list->searchWhenEnter();
    waitFor([&] { return list->isSearchIng() && !list->currentSearchStr().isEmpty(); },
            "the search");
    shoot(QStringLiteral("05-search-with-outside-contact"));
    list->clearSearchBar();

    // The settings and the About window, signed in.
    delegate.showConfigPanel();
    AllSetsWindowController *settings = delegate.allSets();
    settings->move(120, 80);
    const QStringList tabs{"10-settings-devices", "11-settings-video-quality",
                           "12-settings-general", "13-settings-password"};
    for (int i = 0; i < settings->tabView()->count(); ++i) {
        settings->tabView()->setCurrentIndex(i);
        shoot(tabs.value(i));
    }
    settings->close();
    delegate.showAboutPanel();
    shoot(QStringLiteral("14-about"));
    delegate.aboutUs()->close();

    // A second participant who shares a screen, so that the remote list has something.
    QWebSocket peer;
    peer.open(QUrl(QString(portal).replace(QStringLiteral("http://"), QStringLiteral("ws://")) +
                   QStringLiteral("/conference")));
    waitFor([&] { return peer.state() == QAbstractSocket::ConnectedState; }, "the peer");
    const auto send = [&peer](const QJsonObject &m) {
        peer.sendTextMessage(QString::fromUtf8(QJsonDocument(m).toJson(QJsonDocument::Compact)));
    };
    send({{"type", "guestJoin"}, {"roomKey", "Member1001Key"}, {"name", "访客 王"}});

    list->proposeSelection(0); // the own room
    list->contactDetailVc()->joinConferenceButton()->click();
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    if (!waitFor([&] { return conference->isVisible() && conference->controlWindowVc(); },
                 "the conference"))
        return 1;
    conference->resize(1100, 680);
    conference->move(80, 60);
    send({{"type", "share"}, {"name", "访客的屏幕"}});
    QTest::qWait(800);
    shoot(QStringLiteral("06-conference"));

    ControlWindowController *bar = conference->controlWindowVc();
    bar->micButton()->click();
    bar->shareButton()->click();
    shoot(QStringLiteral("07-share-sources"));
    bar->sharePopover()->close();
    bar->shareListButton()->click();
    shoot(QStringLiteral("08-remote-shares"));
    bar->sharePopover()->close();

    bar->leaveButton()->click();
    waitFor([&] { return main->isVisible(); }, "the main window after the call");
    EnterByURLWindowController enter;
    enter.move(200, 200);
    enter.show();
    shoot(QStringLiteral("09-guest-dialog"));
    enter.hide();

    auto *byQr = new QRCodeWindowController;
    byQr->move(200, 120);
    byQr->show();
    byQr->qrImage()->setImageFile(card);
    if (waitFor([&] { return byQr->nameView()->isVisible(); }, "the accepted code")) {
        byQr->userName()->setText(QStringLiteral("访客 李"));
        shootWindow(QStringLiteral("join-by-qr"), byQr);
    }
    delete byQr;

    // The live broadcasts: the list, the running one playing, the coming one counting down.
    main->contactList()->directLiveButton()->click();
    auto *live = qobject_cast<DirectLiveList *>(main->viewControllers().value(1));
    const auto liveCell = [live](int row) {
        return qobject_cast<DirectLiveCellView *>(
            live->tableView()->itemWidget(live->tableView()->item(row)));
    };
    if (!live || !waitFor([&] { return live->tableView()->count() == 2; }, "the live list"))
        return 1;
    waitFor(
        [&] { return !liveCell(0)->shownImage().isNull() && !liveCell(1)->shownImage().isNull(); },
        "the cover pictures");
    shoot(QStringLiteral("10-live-list"));
    liveCell(0)->playButton()->click();
    PlayDirectLive *player = live->playWindow();
    player->resize(960, 540);
    player->move(300, 120);
    waitFor([&] { return player->playerLayer()->frameCount() > 25; }, "the live video");
    // The pointer rests on the volume slider: the controls stay while it is there.
    QCursor::setPos(player->slider()->mapToGlobal(player->slider()->rect().center()));
    shoot(QStringLiteral("11-live-player"));
    liveCell(1)->playButton()->click();
    player = live->playWindow();
    player->resize(960, 540);
    player->move(300, 120);
    waitFor([&] { return !player->waitLabel()->text().isEmpty(); }, "the countdown");
    shoot(QStringLiteral("12-live-countdown"));
    player->close();
    return failures == 0 ? 0 : 1;
}
