// The conferencing library interface of the reference engine.

// The five functions are all this library exports; everything else stays hidden.
#pragma GCC visibility push(default)
#include "bridge/shared/ConfClient.h"
#pragma GCC visibility pop

#include "bridge/shared/ConfRecords.h"
#include "engine/CallRenderer.h"
#include "engine/CameraFeed.h"
#include "engine/EngineCore.h"
#include "engine/EngineState.h"
#include "engine/OwnedCallback.h"
#include "engine/PortalShare.h"
#include "engine/VideoDevices.h"
#include "engine/X11Windows.h"

#include <QApplication>
#include <QAudioDevice>
#include <QCameraDevice>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QMutexLocker>
#include <QScreen>
#include <QThread>

namespace CR = ConfRecords;

namespace {

EngineState state;
QThread *worker = nullptr;
EngineCore *core = nullptr;
bool consoleLog = false;

void writeNames(QByteArray &config, uint32_t offset, uint32_t countOffset, uint32_t max,
                const QStringList &names)
{
    const uint32_t count = std::min<uint32_t>(uint32_t(names.size()), max);
    for (uint32_t i = 0; i < count; ++i)
        CR::writeText(config, offset + i * CR::Config::NameWidth, CR::Config::NameWidth, names[i]);
    CR::writeU32(config, countOffset, count);
}

/// The device lists, their counts and the chosen indices lie before this offset.
constexpr uint32_t listsEnd = CR::Config::SelectedCamera + 4;

/// Puts `lists` (a record's first `listsEnd` bytes) into `config`, keeping its chosen indices.
void replaceLists(QByteArray &config, const QByteArray &lists)
{
    const QByteArray chosen[] = {config.mid(CR::Config::SelectedMicrophone, 4),
                                 config.mid(CR::Config::SelectedSpeaker, 4),
                                 config.mid(CR::Config::SelectedCamera, 4)};
    config.replace(0, listsEnd, lists.left(listsEnd));
    config.replace(CR::Config::SelectedMicrophone, 4, chosen[0]);
    config.replace(CR::Config::SelectedSpeaker, 4, chosen[1]);
    config.replace(CR::Config::SelectedCamera, 4, chosen[2]);
}

/// The machine's devices, read on the caller's (the application's) thread.
void readDevices()
{
    QStringList microphones, speakers, cameras, microphoneIds, speakerIds, cameraNodes;
    for (const QAudioDevice &d : QMediaDevices::audioInputs()) {
        microphones.append(d.description());
        microphoneIds.append(QString::fromUtf8(d.id()));
    }
    for (const QAudioDevice &d : QMediaDevices::audioOutputs()) {
        speakers.append(d.description());
        speakerIds.append(QString::fromUtf8(d.id()));
    }
    for (const VideoDevices::Camera &c : VideoDevices::list()) {
        cameras.append(c.name);
        cameraNodes.append(c.node);
    }
    const QString defaultMicrophone = QString::fromUtf8(QMediaDevices::defaultAudioInput().id());
    const QString defaultSpeaker = QString::fromUtf8(QMediaDevices::defaultAudioOutput().id());
    QMutexLocker lock(&state.mutex);
    state.defaultMicrophoneId = defaultMicrophone;
    state.defaultSpeakerId = defaultSpeaker;
    if (state.testCamera) {
        cameras.append(CameraFeed::testCameraName());
        cameraNodes.append(QString());
    }
    state.microphoneIds = microphoneIds;
    state.speakerIds = speakerIds;
    state.cameraNodes = cameraNodes;
    QByteArray &c = state.configuration;
    c.resize(CR::Config::Size, '\0');
    // The lists and their counts are rewritten; the chosen indices and the rest stay in place.
    replaceLists(c, CR::zeroed(listsEnd));
    writeNames(c, CR::Config::Microphones, CR::Config::MicrophoneCount, CR::Config::MaxMicrophones,
               microphones);
    writeNames(c, CR::Config::Speakers, CR::Config::SpeakerCount, CR::Config::MaxSpeakers,
               speakers);
    writeNames(c, CR::Config::Cameras, CR::Config::CameraCount, CR::Config::MaxCameras, cameras);
}

void readScreens()
{
    QList<EngineState::Screen> screens;
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        int n = 1;
        for (QScreen *s : QGuiApplication::screens()) {
            const QRect g = s->geometry();
            screens.append({QString::number(n++), g.x(), g.y(), g.width(), g.height()});
        }
    }
    QList<EngineState::Window> windows;
    for (const X11Windows::Window &w : X11Windows::list(int(CR::ShareSources::MaxWindows)))
        windows.append({w.id, w.title, w.application, w.geometry.x(), w.geometry.y(),
                        w.geometry.width(), w.geometry.height()});
    // A Wayland session shows a program neither: the desktop's portal offers the sources, as
    // the engine last heard from it (never asked here: its answer may take seconds).
    if (const uint portal = PortalShare::offered()) {
        screens = PortalShare::screens(portal);
        windows = PortalShare::windows(portal);
    }
    QMutexLocker lock(&state.mutex);
    state.screens = screens;
    state.windows = windows;
}

void participantAnswer(QByteArray &r)
{
    namespace P = CR::Participants;
    const int32_t index = CR::readI32(r, P::Index);
    QMutexLocker lock(&state.mutex);
    if (index < 0 || index >= state.listedParticipants.size())
        return;
    const EngineState::Participant &p = state.listedParticipants[index];
    CR::writeText(r, P::Uri, CR::TextWidth, p.uri);
    CR::writeText(r, P::DisplayName, P::DisplayNameWidth, p.name);
    CR::writeText(r, P::ParticipantId, P::ParticipantIdWidth, p.participantId);
    CR::writeText(r, P::EntityId, P::EntityIdWidth, p.entityId);
    CR::writeI32(r, P::Role, p.role);
}

void remoteShareAnswer(QByteArray &r)
{
    namespace R = CR::RemoteShare;
    QMutexLocker lock(&state.mutex);
    const qsizetype count = std::min<qsizetype>(state.shares.size(), R::MaxShares - 1);
    for (qsizetype k = 1; k <= count; ++k) {
        CR::writeText(r, R::Uris + uint32_t(k) * CR::TextWidth, CR::TextWidth,
                      state.shares[k - 1].uri);
        CR::writeText(r, R::Names + uint32_t(k) * CR::TextWidth, CR::TextWidth,
                      state.shares[k - 1].name);
    }
    CR::writeI32(r, R::Count, int32_t(count));
    CR::writeI32(r, R::CurrentIndex, state.shownShare);
    CR::writeI32(r, R::WantedIndex, state.shownShare);
}

void selectRemoteShare(QByteArray &r)
{
    namespace R = CR::RemoteShare;
    QMutexLocker lock(&state.mutex);
    if (CR::readU32(r, R::Mode) == R::ModeShow) {
        const int32_t wanted = CR::readI32(r, R::WantedIndex);
        state.shownShare = wanted >= 0 && wanted <= state.shares.size() ? wanted : 0;
    } else if (state.shownShare > state.shares.size()) {
        state.shownShare = state.shares.isEmpty() ? 0 : 1;
    }
    CR::writeI32(r, R::CurrentIndex, state.shownShare); // the record tells the share now shown
}

void shareSourcesAnswer(QByteArray &r)
{
    namespace S = CR::ShareSources;
    QMutexLocker lock(&state.mutex);
    const qsizetype count = std::min<qsizetype>(state.screens.size(), S::MaxScreens);
    for (qsizetype i = 0; i < count; ++i) {
        const auto &s = state.screens[i];
        CR::writeText(r, S::ScreenIds + uint32_t(i) * S::ScreenIdWidth, S::ScreenIdWidth, s.id);
        const uint32_t rect = S::ScreenRects + uint32_t(i) * S::RectSize;
        CR::writeI32(r, rect, s.x);
        CR::writeI32(r, rect + 4, s.y);
        CR::writeU32(r, rect + 8, uint32_t(s.width));
        CR::writeU32(r, rect + 12, uint32_t(s.height));
    }
    CR::writeU32(r, S::ScreenCount, uint32_t(count));
    const qsizetype windows = std::min<qsizetype>(state.windows.size(), S::MaxWindows);
    for (qsizetype i = 0; i < windows; ++i) {
        const auto &w = state.windows[i];
        CR::writeText(r, S::Titles + uint32_t(i) * CR::TextWidth, CR::TextWidth, w.title);
        CR::writeText(r, S::AppNames + uint32_t(i) * CR::TextWidth, CR::TextWidth, w.application);
        CR::writeU32(r, S::WindowIds + uint32_t(i) * 4, w.id);
        const uint32_t rect = S::WindowRects + uint32_t(i) * S::RectSize;
        CR::writeI32(r, rect, w.x);
        CR::writeI32(r, rect + 4, w.y);
        CR::writeU32(r, rect + 8, uint32_t(w.width));
        CR::writeU32(r, rect + 12, uint32_t(w.height));
    }
    CR::writeU32(r, S::WindowCount, uint32_t(windows));
}

uint32_t answer(uint32_t id, QByteArray &r)
{
    switch (id) {
    case CR::RequestGetConfiguration: {
        QMutexLocker lock(&state.mutex);
        if (!state.configuration.isEmpty())
            r = state.configuration.left(r.size());
        return 0;
    }
    case CR::RequestSetConfiguration: {
        QMutexLocker lock(&state.mutex);
        // The device lists are the engine's: a record read before the devices changed must
        // not bring the old lists back.
        const QByteArray lists = state.configuration.left(listsEnd);
        state.configuration = r;
        state.configuration.resize(CR::Config::Size, '\0'); // a shorter record changes no size
        if (lists.size() == int(listsEnd))
            replaceLists(state.configuration, lists);
        const std::function<void()> cameraChanged = state.cameraChanged;
        lock.unlock();
        // A newly chosen camera replaces the running one at once.
        if (cameraChanged)
            cameraChanged();
        // So does a running call's media, on the engine's thread.
        if (EngineCore *c = core)
            QMetaObject::invokeMethod(
                c, [c] { c->configurationChanged(); }, Qt::QueuedConnection);
        return 0;
    }
    case CR::RequestGetRemoteShares:
        remoteShareAnswer(r);
        return 0;
    case CR::RequestSelectRemoteShare:
        selectRemoteShare(r);
        return 0;
    case CR::RequestSelfName: {
        QMutexLocker lock(&state.mutex);
        state.selfName = CR::readText(r, CR::SelfName::Name, CR::SelfName::NameWidth);
        return 0;
    }
    case CR::RequestParticipantLimit:
        CR::writeI32(r, CR::ParticipantLimit::Limit, 16);
        return 0;
    case CR::RequestParticipants: {
        QMutexLocker lock(&state.mutex);
        state.listedParticipants = state.participants;
        CR::writeI32(r, CR::Participants::Count, int32_t(state.listedParticipants.size()));
        return 0;
    }
    case CR::RequestParticipant:
        participantAnswer(r);
        return 0;
    case CR::RequestVideoArea:
        return 0;
    case CR::RequestShareSources:
        readScreens();
        shareSourcesAnswer(r);
        return 0;
    default:
        return 1;
    }
}

/// Lets the worker deliver what it still owes the service (a sign-out just asked for), within a
/// bound, before its thread ends.
void stopWorker()
{
    if (!core)
        return;
    QMetaObject::invokeMethod(
        core, [stopping = core] { stopping->shutdown(); }, Qt::QueuedConnection);
    if (!worker->wait(4000)) {
        worker->quit();
        worker->wait(1000);
    }
    // The core is deleted as its thread finishes: calls after this one find no engine.
    core = nullptr;
}

/// Device changes are handled from the event loop, never inside the signal: a device query may
/// emit them synchronously, and the handler takes the engine's lock.
void watchDevices(QCoreApplication *app)
{
    auto *devices = new QMediaDevices(app);
    const auto devicesChanged = [] {
        readDevices();
        if (core)
            QMetaObject::invokeMethod(
                core, [] { core->announceDevicesChanged(); }, Qt::QueuedConnection);
    };
    auto *reread = new OwnedCallback([devices, devicesChanged] {
        QMetaObject::invokeMethod(devices, devicesChanged, Qt::QueuedConnection);
    });
    {
        QMutexLocker lock(&state.mutex);
        state.devicesChanged = reread->function();
    }
    // The engine's thread may still hold a copy when the application goes.
    QObject::connect(devices, &QObject::destroyed, devices, [reread] {
        {
            QMutexLocker lock(&state.mutex);
            state.devicesChanged = nullptr;
        }
        delete reread;
    });
    QObject::connect(devices, &QMediaDevices::audioInputsChanged, app, devicesChanged,
                     Qt::QueuedConnection);
    QObject::connect(devices, &QMediaDevices::audioOutputsChanged, app, devicesChanged,
                     Qt::QueuedConnection);
    QObject::connect(devices, &QMediaDevices::videoInputsChanged, app, devicesChanged,
                     Qt::QueuedConnection);
}

} // namespace

extern "C" {

bool ConfClientConsoleLogConfigure(int enable)
{
    consoleLog = enable != 0;
    return true;
}

bool ConfClientInitialize(ConfClientOutEventCallback callback, void *userData,
                          const ConfClientLogParams *)
{
    QMutexLocker lock(&state.mutex);
    state.callback = callback;
    state.userData = userData;
    return true;
}

bool ConfClientStart(ConfClientOutEventCallback callback, void *userData,
                     const ConfClientLogParams *, void *videoView, const ConfClientRect *, void *,
                     const uint8_t[80], int)
{
    // The host may be a QCoreApplication or QGuiApplication as well as a QApplication.
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || worker)
        return false;
    {
        QMutexLocker lock(&state.mutex);
        state.callback = callback;
        state.userData = userData;
    }
    readDevices();
    readScreens();
    // The client hands its video view as a QWidget; without one nothing is drawn.
    if (videoView && qobject_cast<QApplication *>(app)) {
        auto *view = static_cast<QWidget *>(videoView);
        new CallRenderer(view, state);
        new CameraFeed(state, view);
    }
    worker = new QThread;
    worker->setObjectName(QStringLiteral("confclient"));
    core = new EngineCore(state);
    core->moveToThread(worker);
    QObject::connect(worker, &QThread::finished, core, &QObject::deleteLater);
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, stopWorker);
    watchDevices(app);
    worker->start();
    QMetaObject::invokeMethod(
        core, [] { core->announceStart(); }, Qt::QueuedConnection);
    return true;
}

uint32_t ConfClientSendRequest(uint32_t id, void *record, uint32_t size)
{
    if (!record)
        return 1;
    QByteArray bytes(static_cast<const char *>(record), size);
    const uint32_t result = answer(id, bytes);
    std::memcpy(record, bytes.constData(), std::min<size_t>(size, size_t(bytes.size())));
    return result;
}

bool ConfClientSendEvent(uint32_t id, void *record, uint32_t size)
{
    if (!core)
        return false;
    const QByteArray bytes =
        record ? QByteArray(static_cast<const char *>(record), size) : QByteArray();
    QMetaObject::invokeMethod(
        core, [id, bytes] { core->handleEvent(id, bytes); }, Qt::QueuedConnection);
    return true;
}

} // extern "C"
