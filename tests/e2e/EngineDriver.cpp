// A second conference participant for end-to-end tests: the client's bridge over the real
// engine, without windows, driven by one command per line on standard input. Everything the
// bridge reports is written to standard output, one line each. With --view the engine draws
// the call into an offscreen video view, as in the client's conference window.
//
//   login <user> <password> <portal>    accept <0|1>    participants    shares
//   watch <row>    chat <uri> <text>    mute <participant id>    leave    logout    logout-quit
//   settings <engine settings file>    join <conference id> [PIN]    mic <0|1>    camera <0|1>
//   trust <CA certificates (PEM)>  (the client's own requests trust them too)
//   share <X window id> <x> <y> <width> <height>    unshare
//   choose <mic|speaker|camera|video|echo|gain> <n>  (stored as the settings windows store it,
//   and pushed to the engine during a call)    devices    details    configuration

#include "bridge/ConfClientDelegate.h"
#include "bridge/ConfigurationPusher.h"
#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "bridge/shared/ConfClient.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/MessageModel.h"
#include "model/Preferences.h"
#include "model/ScreenSourseModel.h"
#include "net/LoginRequest.h"
#include "tests/support/InProcessCaller.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QSslConfiguration>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::fputs((line + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

class PrintingDelegate final : public ConfClientDelegate
{
public:
    QObject *context() override { return &m_context; }
    void errorWithText(const QString &text) override { say(QStringLiteral("error:") + text); }
    void loginSuccess() override { say(QStringLiteral("loginSuccess")); }
    void endConference() override { say(QStringLiteral("endConference")); }
    void showAlertWithMessage(const QString &m) override { say(QStringLiteral("alert:") + m); }
    bool isMainWindowVisible() const override { return true; }
    void acceptIncomeCallWithName(const QString &c) override { say(QStringLiteral("call:") + c); }
    void incomeCallTimeOut() override { say(QStringLiteral("callTimeout")); }
    void addControllView() override { say(QStringLiteral("conference")); }
    void closeConferenceWindow() override {}
    void getContactsInConference() override
    {
        say(QStringLiteral("participants:%1")
                .arg(TRQClientInEvent::ClientSyncRequestGetCurrentContacts().size()));
    }
    QSize conferenceVideoSize() const override { return {}; }
    void arrangeWindowsForConference() override {}
    void closeAllWindowsForSignOut() override { say(QStringLiteral("signedOut")); }

private:
    QObject m_context;
};

void chat(const QString &uri, const QString &text)
{
    namespace CR = ConfRecords;
    QByteArray record = CR::zeroed(CR::Chat::Size);
    CR::writeText(record, CR::Chat::Destination, CR::TextWidth, uri);
    CR::writeText(record, CR::Chat::Message, CR::Chat::MessageWidth, text);
    ConfClientSendEvent(CR::EventChat, record.data(), CR::Chat::Size);
}

/// Stores a choice under the key the settings windows use; a call in progress follows it.
void choose(const QString &what, int value)
{
    Preferences prefs;
    if (what == u"mic")
        prefs.setSelectedMicDeviceNumber(uint(value));
    else if (what == u"speaker")
        prefs.setSelectedSpeakerDeviceNumber(uint(value));
    else if (what == u"camera")
        prefs.setSelectedCameraDeviceNumber(uint(value));
    else if (what == u"video")
        prefs.setVideoPreferences(value);
    else if (what == u"echo")
        prefs.setEnableEchoCancellation(value);
    else if (what == u"gain")
        prefs.setEnableAudioAGC(value);
    prefs.sync();
    if (AppStatus::shareStatus()->isInConference())
        ConfigurationPusher::push();
}

/// Set on the engine's thread once the client has answered the engine's start with its own
/// settings file: the client logs each event it receives, and the engine asks for the stored
/// configuration right after it has announced its start.
std::atomic_bool engineStarted = false;

/// The conference details the engine logs, caught and said on standard output.
QtMessageHandler previousHandler = nullptr;
void sayDetails(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QString applyConfiguration =
        QStringLiteral("Mac端Received event=%1").arg(ConfRecords::OutApplyConfiguration);
    if (message == applyConfiguration)
        engineStarted = true;
    if (message.startsWith(u"conference details: "))
        say(QStringLiteral("details:") + message);
    else if (previousHandler)
        previousHandler(type, context, message);
}

/// Waits for the engine's start to be answered: a settings file handed over before would be
/// replaced by the client's own, and the engine would go on without the caller's settings.
void waitForEngineStart()
{
    QDeadlineTimer deadline(15000);
    while (!engineStarted && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5); // leaves the engine's thread the processor on a loaded machine
    }
    if (!engineStarted)
        qWarning("engine driver: the engine's start went unanswered");
}

void configuration()
{
    namespace CR = ConfRecords;
    QByteArray config(CR::Config::Size, '\xff'); // what the engine leaves out stays 0xff
    ConfClientSendRequest(CR::RequestGetConfiguration, config.data(), CR::Config::Size);
    say(QStringLiteral("configuration:mic=%1 startup=%2,%3")
            .arg(CR::readU32(config, CR::Config::SelectedMicrophone))
            .arg(CR::readU32(config, CR::Config::StartupOne))
            .arg(CR::readU32(config, CR::Config::StartupTwo)));
}

void run(const QStringList &words)
{
    const QString command = words.value(0);
    if (command == u"login") {
        const auto user = AppUser::defaultUser();
        user->httpPortal = words.value(3);
        user->auth = LoginRequest::authorization(words.value(1), words.value(2));
        TRQClientInEvent::ClientAsyncRequestLoginWithUserName(words.value(1), words.value(2),
                                                              words.value(3));
    } else if (command == u"entity") {
        AppUser::defaultUser()->entityID = words.value(1);
    } else if (command == u"accept") {
        TRQClientInEvent::ClientSyncRequestAcceptIncomeCall(words.value(1) == u"1");
    } else if (command == u"participants") {
        QStringList names;
        for (const auto &p : TRQClientInEvent::ClientSyncRequestGetCurrentContacts())
            names.append(p->userName + u'=' + p->uri);
        say(QStringLiteral("people:") + names.join(u'|'));
    } else if (command == u"shares") {
        QStringList names;
        for (const auto &s : TRQClientInEvent::ClientSyncRequestGetShareInRoom())
            names.append(s->remoteAppName);
        say(QStringLiteral("shares:") + names.join(u'|'));
    } else if (command == u"watch") {
        TRQClientInEvent::ClientSyncRequestSetShareInRoom(words.value(1).toInt());
        say(QStringLiteral("watching:") + AppStatus::shareStatus()->currentRometeUri());
    } else if (command == u"chat") {
        chat(words.value(1), words.mid(2).join(u' '));
    } else if (command == u"mute") {
        TRQClientInEvent::ClientAsyncRequestMuteAudioWithParticantID(
            words.value(1), qApp, [](bool ok) { say(QStringLiteral("muted:%1").arg(ok)); });
    } else if (command == u"trust") { // the client's own requests trust this authority too
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(words.value(1));
        QSslConfiguration::setDefaultConfiguration(ssl);
        say(QStringLiteral("trusting"));
    } else if (command == u"settings") {
        InProcessCaller::useSettings(words.value(1));
    } else if (command == u"join") {
        InProcessCaller::requestJoin(AppUser::defaultUser()->httpPortal, words.value(1).toInt(),
                                     words.value(2));
    } else if (command == u"mic") {
        TRQClientInEvent::ClientSyncRequestMuteMic(words.value(1) == u"1");
    } else if (command == u"camera") {
        TRQClientInEvent::ClientSyncRequestMuteCamera(words.value(1) == u"1");
    } else if (command == u"share") {
        // A window by its X id and geometry, as a row of the share menu: the menu itself leaves
        // out this program's windows and those of the test's.
        auto window = std::make_shared<ScreenSourseModel>();
        window->appName = QStringLiteral("test");
        window->appWindowId = words.value(1).toLongLong();
        window->confRect = {words.value(2).toInt(), words.value(3).toInt(), words.value(4).toUInt(),
                            words.value(5).toUInt()};
        TRQClientInEvent::ClientSyncRequestSetShareWithShareArray({window}, 0);
        say(QStringLiteral("sharing:%1").arg(window->appWindowId));
    } else if (command == u"sharerow") {
        // A row of the share menu as the engine lists the sources.
        const auto sources = TRQClientInEvent::ClientSyncRequestGetShareList();
        QStringList rows;
        for (const auto &source : sources)
            rows.append(source->appName + u'-' + source->appWindowName);
        say(QStringLiteral("sharelist:") + rows.join(u'|'));
        TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(sources, words.value(1).toInt());
    } else if (command == u"unshare") {
        const auto sources = TRQClientInEvent::ClientSyncRequestGetShareList();
        TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(sources, sources.size() - 1);
        say(QStringLiteral("sharing:"));
    } else if (command == u"choose") {
        choose(words.value(1), words.value(2).toInt());
    } else if (command == u"devices") {
        QStringList lists;
        for (const QStringList &names : TRQClientInEvent::ClientSyncRequestGetDevice())
            lists.append(names.join(u'|'));
        say(QStringLiteral("devices:") + lists.join(u';'));
    } else if (command == u"details") {
        TRQClientInEvent::ClientSyncRequestConferenceDetails();
    } else if (command == u"configuration") {
        configuration();
    } else if (command == u"leave") {
        TRQClientInEvent::ClientAsyncRequestLeaveRoom();
    } else if (command == u"logout") {
        TRQClientInEvent::ClientAsyncRequestLogOut();
    } else if (command == u"logout-quit") { // the host quits right after asking to sign out
        TRQClientInEvent::ClientAsyncRequestLogOut();
        QCoreApplication::quit();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PrintingDelegate delegate;
    previousHandler = qInstallMessageHandler(sayDetails);
    auto *center = NotificationCenter::defaultCenter();
    center->addObserver(NotificationCenter::changeSpeakerFormNet, &app, [](const Notification &n) {
        if (const auto message = n.object.value<std::shared_ptr<MessageModel>>())
            say(QStringLiteral("command:") + message->msg);
    });
    center->addObserver(NotificationCenter::changeMicFormNet, &app, [](const Notification &n) {
        say(QStringLiteral("mic:%1").arg(n.userInfo.value(QStringLiteral("isMuted")).toBool()));
    });
    std::unique_ptr<QWidget> view;
    if (app.arguments().contains(QStringLiteral("--view"))) {
        view = std::make_unique<QWidget>();
        view->resize(960, 540);
        view->show();
    }
    TRQClientInEvent::ClientSyncRequestInit(&delegate, view.get(), view ? view->rect() : QRect());
    waitForEngineStart();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &pending] {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            app.quit();
            return;
        }
        pending.append(chunk, got);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            run(line.split(u' ', Qt::SkipEmptyParts));
        }
    });
    say(QStringLiteral("ready"));
    return QApplication::exec();
}
