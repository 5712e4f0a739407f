#include "ui/invite/ZXingBackend.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

#include <stdexcept>

QImage ZXingBackend::modules(const QString &text) const
{
    ZXing::BitMatrix matrix;
    try {
        matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                     .setEncoding(ZXing::CharacterSet::UTF8)
                     .setEccLevel(4) // M
                     .setMargin(1)
                     .encode(text.toStdString(), 0, 0);
    } catch (const std::exception &) {
        return {}; // too long for any QR code
    }
    const int w = matrix.width();
    const int h = matrix.height();
    if (w <= 0 || h <= 0)
        return {};
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < w; ++x)
            line[x] = matrix.get(x, y) ? 0 : 255;
    }
    return image;
}

QString ZXingBackend::firstCode(const QImage &grey) const
{
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(),
                                ZXing::ImageFormat::Lum, int(grey.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    hints.setTryDownscale(true);
    const ZXing::Results results = ZXing::ReadBarcodes(view, hints);
    for (const ZXing::Result &result : results) {
        if (result.isValid())
            return QString::fromStdString(result.text());
    }
    return {};
}

extern "C" Q_DECL_EXPORT const QRCodeBackend *orvaleQRCodeBackend()
{
    static const ZXingBackend backend;
    return &backend;
}
