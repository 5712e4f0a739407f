#pragma once

#include <QImage>
#include <QString>

/// QR codes of invitation links: drawing one, and reading the first code of a picture. Pure
/// functions, safe on any thread.
class QRCodec final
{
public:
    /// Longest side a picture is read at; larger pictures are scaled down first, so that a
    /// huge photo costs neither minutes nor gigabytes.
    static constexpr int maxReadSide = 2400;
    /// Longer texts are no invitation of ours and are not looked at further.
    static constexpr int maxTextLength = 1024;
    /// Largest picture, in megabytes once decoded, that is read at all.
    static constexpr int maxAllocationMB = 256;

    /// The code of `text` (UTF-8, error correction M) as an 8-bit grey picture of about
    /// `side` × `side` pixels whose modules stay sharp squares; null when it cannot be drawn.
    static QImage encode(const QString &text, int side = 300);
    /// The text of the first QR code found in `image`, upright, turned or inverted; a null
    /// text when there is none. The QR code library is loaded at the first of these two calls.
    static QString decode(const QImage &image);
    /// The picture in the file at `path`, scaled down to `maxReadSide`; null for a missing,
    /// broken or truncated file or one that is no picture.
    static QImage loadImage(const QString &path);
    /// `image` scaled down so that its longest side is at most `maxReadSide`.
    static QImage boundedImage(const QImage &image);
};
