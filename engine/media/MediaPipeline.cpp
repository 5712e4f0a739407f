#include "engine/media/MediaPipeline.h"

#include "engine/media/CameraFormat.h"

#include <QSize>

namespace {

/// A share is captured at the pace of moving content; still content is sent slower (SharePace).
constexpr int shareFps = MediaPipeline::shareFps;
/// Wider pictures are scaled down: beyond full HD, small text costs more than it gains.
constexpr QSize shareLimit(1920, 1920);

/// A property value for a launch line, quoted so that spaces and quotes in it are harmless.
QString quoted(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + value + u'"';
}

/// Sound server names of ALSA's kind ("hw:1,0", "plughw:CARD=x", "default") are opened through
/// ALSA, every other through PulseAudio (PipeWire serves both).
bool isAlsaName(const QString &device)
{
    return device.startsWith(QLatin1String("hw:")) || device.startsWith(QLatin1String("plughw:")) ||
           device.startsWith(QLatin1String("sysdefault")) || device == u"default";
}

/// webrtcbin offers transport-wide congestion feedback unless the caps say otherwise; nothing
/// here would use it (the video's rate follows the receiver reports and the relay's word), and
/// without its header extension the offer would be a promise that cannot be kept.
QString noCongestionFeedback()
{
    return QStringLiteral("rtcp-fb-transport-cc=(boolean)false");
}

QString vp8Encoder(int bitrate, int keyframeDistance)
{
    return QStringLiteral("vp8enc name=videoenc deadline=1 cpu-used=8 target-bitrate=%1 "
                          "keyframe-max-dist=%2 error-resilient=partitions "
                          "! rtpvp8pay name=videopay pt=96 picture-id-mode=15-bit "
                          "! application/x-rtp,media=video,encoding-name=VP8,payload=96,"
                          "clock-rate=90000,%3 ! webrtc. ")
        .arg(bitrate)
        .arg(keyframeDistance)
        .arg(noCongestionFeedback());
}

/// A part of the launch line in a bin of its own, so that it can be replaced while the rest
/// plays.
QString inBin(const char *name, const QString &description)
{
    return QStringLiteral("bin.( name=%1 %2 ) ").arg(QLatin1String(name), description);
}

/// The RTP header extension that tells the relay how loud each packet is (RFC 6464), as caps
/// of the payloader's output: the payloader adds the extension, webrtcbin offers it. The level
/// is measured after the microphone's mute, so that a muted participant counts as silent.
QString audioLevelExtension()
{
    return QStringLiteral(
        "extmap-1=(string)<\"\",urn:ietf:params:rtp-hdrext:ssrc-audio-level,\"vad=on\">");
}

} // namespace

MediaPipeline::VideoFormat MediaPipeline::videoFormat(int level)
{
    switch (level) {
    case 1:
        return {480, 270, 30, 400000};
    case 2:
        return {960, 540, 10, 700000};
    case 3:
        return {1280, 720, 15, 1000000};
    case 4:
        return {1280, 720, 30, 1500000};
    case 5:
        return {1920, 1080, 30, 2500000};
    default:
        return {};
    }
}

QString MediaPipeline::chosenDevice(const QStringList &ids, quint32 index, const QString &fallback)
{
    return index < quint32(ids.size()) ? ids[qsizetype(index)] : fallback;
}

QString MediaPipeline::videoCaps(const Sending &sending)
{
    const VideoFormat format = videoFormat(sending.videoLevel);
    return videoCaps(sending, format.width, format.height, format.fps);
}

QString MediaPipeline::videoCaps(const Sending &sending, int width, int height, int fps)
{
    // Generated pictures are planar 4:2:0, as the encoder takes them (and as benchmark stamps
    // are written); cameras offer their own formats, converted later.
    return QStringLiteral("video/x-raw,width=%1,height=%2,framerate=%3/1,%4")
        .arg(width)
        .arg(height)
        .arg(fps)
        .arg(sending.camera.isEmpty() ? QStringLiteral("format=I420")
                                      : QStringLiteral("pixel-aspect-ratio=1/1"));
}

QString MediaPipeline::cameraSource(const Sending &sending)
{
    if (sending.camera.isEmpty())
        return QStringLiteral("videotestsrc is-live=true pattern=solid-color "
                              "foreground-color=0x%1 ! ")
            .arg(sending.colour.rgba(), 8, 16, QLatin1Char('0'));
    const VideoFormat format = videoFormat(sending.videoLevel);
    return QStringLiteral("v4l2src device=%1 ! ").arg(quoted(sending.camera)) +
           CameraFormat::choose(sending.cameraCaps, QSize(format.width, format.height), format.fps)
               .launch();
}

QString MediaPipeline::videoInput(const Sending &sending)
{
    const QString caps =
        QStringLiteral("capsfilter name=videoformat caps=\"%1\" ").arg(videoCaps(sending));
    if (sending.camera.isEmpty())
        return cameraSource(sending) + caps;
    // Cameras offer their own sizes and rates: scaled and paced to the chosen ones.
    return cameraSource(sending) + QStringLiteral("videoconvert ! videoscale ! videorate ! ") +
           caps;
}

QString MediaPipeline::audioInput(const Sending &sending)
{
    if (sending.microphone.isEmpty()) // a tone has no echo and no level to correct
        return QStringLiteral("audiotestsrc is-live=true wave=sine freq=%1 volume=0.3 "
                              "! audioconvert ! audioresample ")
            .arg(sending.toneHz);
    QString source = echoReference(sending) +
                     QStringLiteral("%1 device=%2 ! audioconvert ! audioresample ")
                         .arg(isAlsaName(sending.microphone) ? QStringLiteral("alsasrc")
                                                             : QStringLiteral("pulsesrc"),
                              quoted(sending.microphone));
    if (sending.echoCancellation || sending.automaticGain) {
        // The voice processor works on 48 kHz 16-bit frames of 10 ms.
        source +=
            QStringLiteral("! capsfilter caps=audio/x-raw,format=S16LE,rate=48000,channels=1 "
                           "! webrtcdsp name=dsp echo-cancel=%1 gain-control=%2 "
                           "noise-suppression=true")
                .arg(sending.echoCancellation ? QStringLiteral("true") : QStringLiteral("false"),
                     sending.automaticGain ? QStringLiteral("true") : QStringLiteral("false"));
        // What the speaker plays reaches the probe with a delay of its own: let it be found.
        if (sending.echoCancellation)
            source += QStringLiteral(" probe=%1 delay-agnostic=true").arg(echoProbeName());
        source += QStringLiteral(" ! audioconvert ! audioresample ");
    }
    return source;
}

/// The echo canceller's probe hears what the speaker plays; it lives here, so that it exists
/// before the microphone's voice processor starts, and silence stands in until sound arrives.
QString MediaPipeline::echoReference(const Sending &sending)
{
    if (!sending.echoCancellation || sending.microphone.isEmpty())
        return {};
    return QStringLiteral("interaudiosrc channel=%1 ! audioconvert ! audioresample "
                          "! audio/x-raw,format=S16LE,rate=48000,channels=1 "
                          "! webrtcechoprobe name=%2 ! fakesink sync=false async=false ")
        .arg(echoChannel(), echoProbeName());
}

QString MediaPipeline::publisher(const Sending &sending)
{
    const VideoFormat format = videoFormat(sending.videoLevel);
    // A camera can be opened once, and the own tile should show what the others see: it gets
    // its pictures from here, generated or not. Scaled and converted on a thread of its own,
    // behind a queue that keeps only the newest picture: the camera's thread, which also feeds
    // the encoder, never waits for the own tile.
    const QString selfView =
        QStringLiteral("local. ! queue name=selfqueue max-size-buffers=1 max-size-bytes=0 "
                       "max-size-time=0 leaky=downstream "
                       "! videoscale name=selffit ! capsfilter name=selfsize ! videoconvert "
                       "! video/x-raw,format=BGRx "
                       "! appsink name=selfview sync=false max-buffers=1 drop=true ");
    return QStringLiteral("webrtcbin name=webrtc bundle-policy=max-bundle ") +
           inBin("videoinput", videoInput(sending)) +
           QStringLiteral("! tee name=local ! queue ! valve name=camera ! videoconvert "
                          "! queue max-size-buffers=2 leaky=downstream ! ") +
           vp8Encoder(format.bitrate, format.fps * 2) + selfView +
           inBin("audioinput", audioInput(sending)) +
           // Speech packets carry a coarse copy of the one before (in-band FEC): a single
           // loss costs no sound. The expected loss stays below the share at which the
           // encoder would code tones and music as speech too (its speech mode from 8 % on),
           // whose copies and concealment lose them; their loss is concealed better without.
           QStringLiteral("! volume name=microphone "
                          "! level audio-level-meta=true post-messages=false ! queue "
                          "! opusenc name=audioenc inband-fec=true packet-loss-percentage=5 "
                          "! rtpopuspay pt=111 "
                          "! application/x-rtp,media=audio,encoding-name=OPUS,payload=111,"
                          "clock-rate=48000,") +
           noCongestionFeedback() + u',' + audioLevelExtension() + QStringLiteral(" ! webrtc. ");
}

namespace {

/// The share's source element: the portal's stream, an X window or a region of the X screen.
QString shareCapture(const MediaEngine::ShareSource &source)
{
    // The portal's stream comes at the desktop's pace and only when the picture changes: a
    // still picture is repeated, and the rate evened out.
    if (source.pipeWireRemote >= 0)
        return QStringLiteral("pipewiresrc name=desktop fd=%1 path=%2 always-copy=true "
                              "keepalive-time=%3 "
                              "! videorate ")
            .arg(source.pipeWireRemote)
            .arg(source.pipeWireNode)
            .arg(1000 / shareFps);
    QString capture = QStringLiteral("ximagesrc use-damage=false show-pointer=true ");
    if (source.window != 0)
        capture += QStringLiteral("xid=%1 ").arg(source.window);
    else if (source.width > 0 && source.height > 0)
        capture += QStringLiteral("startx=%1 starty=%2 endx=%3 endy=%4 ")
                       .arg(std::max(0, source.x))
                       .arg(std::max(0, source.y))
                       .arg(std::max(0, source.x) + source.width - 1)
                       .arg(std::max(0, source.y) + source.height - 1);
    return capture;
}

/// The camera's payloader and what webrtcbin is told of the stream, behind the share's encoder.
QString sharePayloader()
{
    const QString camera = vp8Encoder(0, 0);
    return camera.mid(camera.indexOf(QLatin1String("! rtpvp8pay")));
}

} // namespace

QSize MediaPipeline::shareSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return QSize(1920, 1080);
    QSize size(width, height);
    if (width > shareLimit.width() || height > shareLimit.height())
        size = size.scaled(shareLimit, Qt::KeepAspectRatio);
    return QSize(std::max(2, size.width() & ~1), std::max(2, size.height() & ~1));
}

int MediaPipeline::shareBitrate(const QSize &size)
{
    // About a bit per pixel each second: 2 Mbit/s at full HD keeps 12-pixel text sharp. In
    // whole kbit/s, as the encoder takes it.
    return std::clamp(size.width() * size.height(), 600000, 2500000) / 1000 * 1000;
}

QString MediaPipeline::share(const MediaEngine::ShareSource &source)
{
    const QString capture = shareCapture(source);
    const QSize size = shareSize(source.width, source.height);
    // Text wants whole pixels: never scaled down by the encoder, a quantizer kept within what
    // leaves letters whole, unchanged blocks skipped (as the encoder advises for screens). In real
    // time the encoder picks its speed so as to take at most (16 - cpu-used)/16 of a picture's
    // interval: 3/4 here, against the camera's half, as a share's pictures come seldom.
    // Keyframes of sharp text are large: periodic ones are rarer than the camera's, a
    // receiver that needs one asks.
    const QString encoder =
        QStringLiteral("vp8enc name=videoenc deadline=1 cpu-used=4 target-bitrate=%1 "
                       "min-quantizer=2 max-quantizer=40 static-threshold=100 "
                       "resize-allowed=false keyframe-max-dist=%2 "
                       "error-resilient=partitions ")
            .arg(shareBitrate(size))
            .arg(shareFps * 10);
    return QStringLiteral("webrtcbin name=webrtc bundle-policy=max-bundle ") + capture +
           QStringLiteral("! capsfilter name=videoformat caps=video/x-raw,framerate=%1/1 "
                          "! videoconvert name=sharepace "
                          "! videoscale "
                          "! video/x-raw,width=%2,height=%3,pixel-aspect-ratio=1/1 "
                          "! queue max-size-buffers=2 leaky=downstream ! ")
               .arg(shareFps)
               .arg(size.width())
               .arg(size.height()) +
           encoder + sharePayloader();
}

QString MediaPipeline::speaker(const QString &device, bool echoReference)
{
    const QString sink = device.isEmpty()
                             ? QStringLiteral("autoaudiosink")
                             : QStringLiteral("%1 device=%2")
                                   .arg(isAlsaName(device) ? QStringLiteral("alsasink")
                                                           : QStringLiteral("pulsesink"),
                                        quoted(device));
    if (!echoReference)
        return sink;
    return QStringLiteral("tee name=heard ! queue ! %1 heard. ! queue max-size-buffers=20 "
                          "leaky=downstream ! interaudiosink channel=%2")
        .arg(sink, echoChannel());
}

namespace {

/// The format every voice is mixed in.
const char *const mixFormat = "audio/x-raw,format=S16LE,rate=48000,channels=2,layout=interleaved";

} // namespace

QString MediaPipeline::soundMix(const QString &device, bool opens, bool echoReference)
{
    // Silence keeps the mix, and the canceller's reference, running between voices. Inputs
    // that join later bring 40 ms of latency, which the mix allows for from the start.
    return QStringLiteral("audiotestsrc is-live=true wave=silence ! %1 "
                          "! audiomixer name=mix min-upstream-latency=40000000 "
                          "! audioconvert ! audioresample ! %2")
        .arg(QLatin1String(mixFormat),
             opens ? speaker(device, echoReference) : QStringLiteral("fakesink sync=false"));
}

QString MediaPipeline::mixInput(const QString &channel)
{
    // Read in pieces of 10 ms, 40 ms behind the voice's decoder: little delay, few gaps.
    return QStringLiteral("interaudiosrc channel=%1 period-time=10000000 latency-time=40000000 "
                          "! audioconvert ! audioresample ! capsfilter caps=\"%2\"")
        .arg(quoted(channel), QLatin1String(mixFormat));
}

QString MediaPipeline::voice(const QString &channel, const QString &recordFile, bool muted)
{
    QString out;
    if (!recordFile.isEmpty())
        out = QStringLiteral("audioconvert ! audio/x-raw,format=S16LE,channels=1,rate=48000 "
                             "! filesink sync=false async=false buffer-mode=2 location=%1")
                  .arg(quoted(recordFile));
    else if (!channel.isEmpty())
        out = QStringLiteral("interaudiosink channel=%1 async=false").arg(quoted(channel));
    else
        out = QStringLiteral("fakesink sync=false async=false");
    // A lost packet is rebuilt from the redundancy the next one carries (in-band FEC), or
    // concealed when that one is lost too.
    return QStringLiteral("rtpopusdepay ! opusdec name=voicedec plc=true use-inband-fec=true "
                          "! audioconvert ! audioresample "
                          "! volume name=speaker mute=%1 ! ")
               .arg(muted ? QStringLiteral("true") : QStringLiteral("false")) +
           out;
}
