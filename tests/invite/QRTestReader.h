#pragma once

#include <QImage>
#include <QString>

#include <ZXing/ReadBarcode.h>

/// Reads the first QR code of a picture with ZXing directly, so that tests do not check the
/// client's reader with itself.
inline QString readQRCode(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(),
                                ZXing::ImageFormat::Lum, int(grey.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    return result.isValid() ? QString::fromStdString(result.text()) : QString();
}

/// `code` drawn at `scale` on a white ground of `size`, at `origin`.
inline QImage pictureWith(const QImage &code, const QSize &size, const QPoint &origin)
{
    QImage picture(size, QImage::Format_Grayscale8);
    picture.fill(255);
    for (int y = 0; y < code.height() && origin.y() + y < size.height(); ++y) {
        const uchar *from = code.constScanLine(y);
        uchar *to = picture.scanLine(origin.y() + y) + origin.x();
        for (int x = 0; x < code.width() && origin.x() + x < size.width(); ++x)
            to[x] = from[x];
    }
    return picture;
}
