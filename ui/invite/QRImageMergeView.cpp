#include "ui/invite/QRImageMergeView.h"

#include "ui/widgets/Images.h"

#include <QPainter>

QRImageMergeView::QRImageMergeView(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setScaledContents(true);
}

void QRImageMergeView::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    const QRect box(width() / 2 - logoSide / 2, height() / 2 - logoSide / 2, logoSide, logoSide);
    const QPixmap logo =
        Images::pixmap(QStringLiteral("erweima_logo"), box.size(), devicePixelRatioF());
    if (logo.isNull())
        return;
    QSize size = logo.deviceIndependentSize().toSize();
    size.scale(box.size(), Qt::KeepAspectRatio);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(
        QRect(QPoint(0, 0), size).translated(box.center() - QRect(QPoint(0, 0), size).center()),
        logo);
}
