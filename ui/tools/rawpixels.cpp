// Build-time tool: the pixels of a PNG as the login window shows them, premultiplied 32-bit
// ARGB in the machine's byte order with nothing around them, so that the window's first paint
// decodes no image.
// Usage: rawpixels <in.png> <out.argb>

#include <QFile>
#include <QImage>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    const QImage image = QImage(QString::fromLocal8Bit(argv[1]))
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (image.isNull() || !out.open(QIODevice::WriteOnly))
        return 1;
    for (int y = 0; y < image.height(); ++y)
        out.write(reinterpret_cast<const char *>(image.constScanLine(y)),
                  qint64(image.width()) * 4);
    return out.error() == QFile::NoError ? 0 : 1;
}
