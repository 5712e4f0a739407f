#include "ui/invite/QRCodec.h"

#include <QImageReader>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

#include <stdexcept>

namespace {

QString firstCode(const QImage &grey)
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

} // namespace

QImage QRCodec::encode(const QString &text, int side)
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
    QImage modules(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar *line = modules.scanLine(y);
        for (int x = 0; x < w; ++x)
            line[x] = matrix.get(x, y) ? 0 : 255;
    }
    const double scale = std::min(double(side) / w, double(side) / h);
    // Nearest-neighbour scaling: every module stays a sharp square.
    return modules.scaled(int(w * scale), int(h * scale), Qt::IgnoreAspectRatio,
                          Qt::FastTransformation);
}

QString QRCodec::decode(const QImage &image)
{
    if (image.isNull())
        return {};
    QImage grey = boundedImage(image).convertToFormat(QImage::Format_Grayscale8);
    QString text = firstCode(grey);
    if (text.isNull()) {
        grey.invertPixels(); // light modules on a dark ground
        text = firstCode(grey);
    }
    return text;
}

QImage QRCodec::boundedImage(const QImage &image)
{
    if (std::max(image.width(), image.height()) <= maxReadSide)
        return image;
    return image.scaled(maxReadSide, maxReadSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage QRCodec::loadImage(const QString &path)
{
    // Some formats decode at full size before scaling: room for photos of 60 megapixels, and
    // a clean refusal for anything bigger.
    if (QImageReader::allocationLimit() < maxAllocationMB)
        QImageReader::setAllocationLimit(maxAllocationMB);
    QImageReader reader(path);
    reader.setAutoTransform(true); // photos taken sideways
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > maxReadSide)
        reader.setScaledSize(size.scaled(maxReadSide, maxReadSide, Qt::KeepAspectRatio));
    QImage image;
    if (!reader.read(&image))
        return {};
    return boundedImage(image);
}
