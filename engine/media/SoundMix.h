#pragma once

#include <QObject>
#include <QStringList>

typedef struct _GstElement GstElement;

/// The call's received voices, played through one mix into one output: one playback stream per
/// call, as a sound server's mixer expects, and one stream for the echo canceller's probe, which
/// hears every voice that is played. Each subscriber plays into a channel of its own, which the
/// mix reads; voices join and leave while the others play. Lives on the engine's worker thread.
class SoundMix final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SoundMix)

public:
    explicit SoundMix(QObject *parent = nullptr);
    ~SoundMix() override;

    /// Whether the sound server's output `device` (empty for the default one) can be opened.
    /// Opens it: not on a streaming thread.
    static bool opens(const QString &device);
    /// Plays into `device` (empty for the default one), asked once per device whether it opens:
    /// the sound of one that does not is dropped, and a machine without one still shows the
    /// pictures. With `echoReference`, the echo canceller hears the mix. A change starts the mix
    /// again on the new output.
    void setOutput(const QString &device, bool echoReference);
    /// A new voice in the mix: the channel its subscriber plays into.
    QString addVoice();
    void removeVoice(const QString &channel);
    /// Every voice leaves, and nothing is played.
    void clear();
    qsizetype voices() const { return m_channels.size(); }

private:
    /// The mix for the current output and voices; none while no voice is heard.
    void build();
    void stop();
    void watchBus();
    void addInput(const QString &channel);
    /// An error of the mix's pipeline `generation`, on this object's thread.
    void failed(int generation, const QString &why);

    GstElement *m_pipeline = nullptr;
    GstElement *m_mixer = nullptr;
    int m_generation = 0; ///< of the running pipeline, so that an old one's errors are known
    QStringList m_channels;
    QString m_device;
    bool m_probed = false; ///< whether m_opens tells of m_device
    bool m_opens = false;
    bool m_echoReference = false;
};
