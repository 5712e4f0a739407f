#include "ui/invite/QRCodec.h"

#include "model/PrivateModule.h"
#include "ui/invite/QRCodeBackend.h"

#include <QImageReader>

#include <algorithm>

namespace {

/// The QR code library, loaded at the first code drawn or read; null when it is missing.
const QRCodeBackend *backend()
{
    static const QRCodeBackend *const loaded = [] {
        const auto entry = reinterpret_cast<QRCodeBackendEntry>(
            PrivateModule::resolve(QStringLiteral("liborvaleqrcode.so"), "orvaleQRCodeBackend"));
        return entry ? entry() : nullptr;
    }();
    return loaded;
}

QString firstCode(const QImage &grey)
{
    const QRCodeBackend *codes = backend();
    return codes ? codes->firstCode(grey) : QString();
}

} // namespace

QImage QRCodec::encode(const QString &text, int side)
{
    const QRCodeBackend *codes = backend();
    const QImage modules = codes ? codes->modules(text) : QImage();
    if (modules.isNull())
        return {};
    const int w = modules.width();
    const int h = modules.height();
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
