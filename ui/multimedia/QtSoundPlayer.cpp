#include "ui/multimedia/QtSoundPlayer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>

QtSoundPlayer::QtSoundPlayer()
    : m_output(std::make_unique<QAudioOutput>())
    , m_player(std::make_unique<QMediaPlayer>())
{
    m_player->setAudioOutput(m_output.get());
}

QtSoundPlayer::~QtSoundPlayer()
{
    // Qt 6.4's GStreamer player can take its decoder's pads away while it is half destroyed,
    // and call back into the part already gone; emptied first, it has no decoder left.
    m_player->stop();
    m_player->setSource(QUrl());
}

void QtSoundPlayer::play(const QUrl &source, const QString &device)
{
    if (m_player->source() != source)
        m_player->setSource(source);
    if (!device.isEmpty()) {
        for (const QAudioDevice &output : QMediaDevices::audioOutputs()) {
            if (output.description() == device)
                m_output->setDevice(output);
        }
    }
    m_player->stop();
    m_player->play();
}

void QtSoundPlayer::stop()
{
    m_player->stop();
}
