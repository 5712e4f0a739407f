#include "ui/live/LiveVideoLayer.h"

#include <QCoreApplication>
#include <QPainter>

LiveVideoLayer::LiveVideoLayer(QWidget *parent)
    : QWidget(parent)
{
    // Frames become images for painting. Where a GL context can be made (X11), Qt would do
    // that conversion through GL on this thread; with a software GL it stalls the stream after
    // its first frame. The widgets here never use GL, so the conversion stays on the CPU.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LiveVideoLayer::showPicture(const QImage &image)
{
    m_image = image;
    ++m_frames;
    update();
    Q_EMIT frameShown();
}

QRect LiveVideoLayer::pictureRect() const
{
    if (m_image.isNull())
        return {};
    const QSize fitted = m_image.size().scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void LiveVideoLayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(pictureRect(), m_image);
}
