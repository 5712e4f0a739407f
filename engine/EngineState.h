#pragma once

#include <QByteArray>
#include <QCameraDevice>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMediaDevices>
#include <QMutex>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

#include "bridge/shared/ConfClient.h"
#include "engine/FrameSlot.h"
#include "engine/SpeakerStage.h"

#include <memory>

/// What the engine knows, shared between the client's calling thread (synchronous requests)
/// and the engine's worker thread (the service connection). Guarded by `mutex`, except the
/// pictures: each stream writes into a frame slot of its own (see FrameSlot), so that no
/// streaming thread ever takes `mutex`. Nothing is called while `mutex` is held: the callbacks
/// below are copied under it and called once it is released. Their owners hand them out through
/// OwnedCallback, so that a copy called after its owner went does nothing.
struct EngineState
{
    struct Participant
    {
        QString uri;
        QString name;
        QString participantId;
        QString entityId;
        int role = 0;
        bool micMuted = false;
    };
    struct Share
    {
        QString uri;
        QString name;
    };
    struct Screen
    {
        QString id;
        int x = 0, y = 0, width = 0, height = 0;
    };

    QMutex mutex;
    ConfClientOutEventCallback callback = nullptr;
    void *userData = nullptr;
    QByteArray configuration;
    QList<Participant> participants;
    /// The roster as the last participant count (101503) saw it: the rows (101614) are read from
    /// this copy, so that a roster change between the count and the rows cannot blank a row.
    QList<Participant> listedParticipants;
    QList<Share> shares;
    int shownShare = 0; ///< 1-based index of the watched remote share, 0 for none
    /// The watched share fills its area even beyond its own size; else it is drawn pixel for
    /// pixel where it fits. The viewer switches with a double click on it.
    bool shareFilled = false;
    QList<Screen> screens;
    struct Window
    {
        quint32 id = 0;
        QString title, application;
        int x = 0, y = 0, width = 0, height = 0;
    };
    QList<Window> windows;
    // What opens each device listed in the configuration record, index for index: the sound
    // server's names of the microphones and speakers, the cameras' V4L2 nodes ("" for the
    // generated picture).
    QStringList microphoneIds, speakerIds, cameraNodes;
    /// The sound server's default input and output, which an index past the lists means.
    QString defaultMicrophoneId, defaultSpeakerId;
    QString selfName;
    QString settingsPath;
    QString selfUri;     ///< this engine's own participant URI in the current room
    QString pinnedUri;   ///< the participant shown large, or empty
    int previewMode = 0; ///< 0 grid, 1 large with a strip below, 2 large with a strip beside
    bool inConference = false;
    bool speakerMuted = false;
    bool cameraPrivacy = false; ///< in-event 502: the local camera is switched off
    bool testCamera = false;    ///< the settings file asks for a generated camera picture
    bool mediaCamera = false;   ///< the call's media reads the camera and feeds the own tile
    bool noCameraSent = false;  ///< the chosen camera is gone and the call sends no pictures
    FrameSlot cameraFrame;      ///< the latest local camera picture, shown on the own tile
    /// Asks the video view to draw again, from any thread. Set by the view's renderer while it
    /// lives.
    std::function<void()> repaint;
    std::function<void()> cameraChanged;  ///< asks the camera feed to follow the state, any thread
    std::function<void()> devicesChanged; ///< reads the device list again and reports 601

    // The call's received pictures, a slot per subscription: the maps change on the engine's
    // worker, the slots' pictures on GStreamer threads.
    using Frames = std::shared_ptr<FrameSlot>;
    QHash<QString, Frames> remoteVideo; ///< the latest decoded picture per participant URI
    QHash<QString, Frames> shareVideo;  ///< the latest picture of each share, by sharer URI
    /// The remote participants whose tiles are on screen now, by URI, each with the size (the
    /// view's pixels) of the box its picture is fitted into: one not in it has no place and needs
    /// no video. The renderer writes it when the layout changes, not for each picture.
    QHash<QString, QSize> shownVideo;
    /// Told, on the view's thread with no lock held, that `shownVideo` changed: the media
    /// follows it from there (on its own thread).
    std::function<void()> shownChanged;
    /// Who speaks, by participant URI as the relay reports it, and who has the stage unpinned.
    SpeakerStage speakers;
    /// The participants whose connection is poor (much loss, a long round trip), by URI; the
    /// own URI for what this participant sends.
    QSet<QString> poorLinks;
    /// The share of sent video packets (percent) the publisher drops as a lossy link would,
    /// from the settings file (`testSendLoss`), for tests; -1 drops none and adds no probe.
    std::atomic<int> testSendLoss{-1};
    /// Said on every tile when the call carries no media, else empty: one of the notes below,
    /// untranslated; the renderer shows it in the client's language.
    QString mediaNote;
    /// The participants (by URI, this one's own included) whose media stopped in the running
    /// call while the engine restores them: their tiles say mediaLostNote.
    QSet<QString> interruptedMedia;
    static constexpr const char *noMediaNote = QT_TRANSLATE_NOOP("CallRenderer", "无音视频");
    static constexpr const char *mediaLostNote = QT_TRANSLATE_NOOP("CallRenderer", "音视频已中断");
    /// Where the cameras are read from. Device queries may emit change signals synchronously, so
    /// this is never called with `mutex` held. Set before the engine starts, never changed after.
    std::function<QList<QCameraDevice>()> videoInputs = [] { return QMediaDevices::videoInputs(); };
};
