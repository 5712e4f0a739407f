#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class QJsonArray;
class QJsonObject;
class QObject;
struct EngineState;

/// The call's audio and video as the engine drives them. The implementation lives in a module
/// of its own (libconfmedia.so, beside libconfclient.so) that is loaded with the first call, so
/// that a client which never calls never loads GStreamer.
class MediaEngine
{
public:
    /// What a local share shows: a window by its X id, a region of the X screen, or the stream
    /// the desktop's screen-cast portal handed over.
    struct ShareSource
    {
        quint32 window = 0; ///< the window's X id, or 0 for the screen region
        int x = 0, y = 0, width = 0, height = 0;
        int pipeWireRemote = -1; ///< the portal's PipeWire connection, kept open by the engine
        quint32 pipeWireNode = 0;
    };

    virtual ~MediaEngine() = default;

    /// The service's media message for the current call: join the relay, or say why not.
    virtual void start(const QJsonObject &media) = 0;
    /// Leaves the relay and tears down every pipeline; the relay session closes meanwhile.
    virtual void stop() = 0;
    /// The service's fresh STUN and TURN credentials for the running call (`iceServers`).
    virtual void renewIceServers(const QJsonArray &servers) = 0;
    /// The service's fresh token for the relay's API, for the call's requests from now on.
    virtual void renewRelayToken(const QString &token) = 0;
    /// The service's word on whose the relay's publisher ids in the call's room are now
    /// (`feeds`): a received stream is shown only as the participant its id was given to.
    virtual void setFeeds(const QJsonArray &feeds) = 0;
    /// Calls `done` on the engine's thread once every relay session left has closed, or was
    /// given up after about a second.
    virtual void whenClosed(std::function<void()> done) = 0;
    virtual void setMicrophoneMuted(bool muted) = 0;
    /// Follows the speaker mute and the camera switch of the engine state.
    virtual void follow() = 0;
    /// Publishes the screen region or window as a video stream of its own.
    virtual void startShare(const ShareSource &source) = 0;
    virtual void stopShare() = 0;
    /// The configuration record changed: a running call follows the devices, the voice
    /// processing and the video level it now names.
    virtual void reconfigure() = 0;
    /// What the call sends from and plays into, for the log; empty outside a call.
    virtual QString describe() const = 0;

    /// Called on the engine's thread when the local share has ended by itself: its window closed.
    std::function<void()> shareLost;
    /// Called on the engine's thread when the relay says one of the participant's own publisher
    /// ids is taken: the service removes whoever holds it, and the engine tries again.
    std::function<void(qint64 id)> publisherTaken;
};

/// The one symbol the media module exports, under the name `orvaleCreateMediaEngine`. The
/// engine made lives on the calling thread, as a child of `parent`.
using CreateMediaEngine = MediaEngine *(*)(EngineState &state, QObject *parent);
