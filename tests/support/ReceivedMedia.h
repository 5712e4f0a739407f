#pragma once

#include <QMap>
#include <QString>

/// What an engine received in a call, read from the files it writes for tests and benchmarks:
/// the stamps of the pictures it decoded (ORVALE_FRAME_STAMPS) and the sound it recorded of
/// each participant (the engine setting audioRecordFolder; 48 kHz, mono, 16 bits). Moments are
/// the steady clock's milliseconds, which every process of the machine shares.
class ReceivedMedia final
{
public:
    /// Pictures by the moment they were decoded, each with its stamp (its moment at the sender).
    using Pictures = QMap<qint64, qint64>;
    static constexpr int packetMs = 20; ///< of sound in one packet
    static constexpr int bytesPerMs = 96;

    ReceivedMedia(const QString &stampFile, const QString &soundFolder);

    /// The pictures decoded intact within [from, to), each stamp once.
    Pictures intactPictures(qint64 from, qint64 to) const;
    /// The sender's picture rate, from the stamps of the pictures shown: most gaps between them
    /// are one picture long (even at 10 % loss), longer ones hold the pictures not shown; -1
    /// when too few were shown.
    static double sentPerSecond(const Pictures &shown);
    /// The longest stretch of [from, to) without a picture shown.
    static qint64 longestFreeze(const Pictures &shown, qint64 from, qint64 to);

    /// The sound file written last, or empty while there is none.
    QString recording() const;
    /// The bytes of it so far.
    qint64 recorded() const;
    /// Pieces of 20 ms of the tone `hz` missing from the bytes [from, to) of the recording,
    /// written over `windowMs`: not written at all, or written without the tone (what repair
    /// did not restore).
    int soundLost(qint64 from, qint64 to, int hz, qint64 windowMs) const;

private:
    QString m_stampFile;
    QString m_soundFolder;
};
