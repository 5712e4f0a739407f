#include "ui/widgets/SliderCell.h"

#include "ui/widgets/ColorHelper.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr double barHeight = 5.0;
constexpr double barRadius = 2.5;

} // namespace

SliderCell::SliderCell(QWidget *parent)
    : QSlider(Qt::Horizontal, parent)
{
    setMinimumHeight(16);
}

QRectF SliderCell::trackRect(const QRectF &bar) const
{
    return {bar.x(), bar.y(), bar.width(), barHeight};
}

QRectF SliderCell::filledRect(const QRectF &bar) const
{
    const double span = double(maximum()) - double(minimum());
    const double fraction = span > 0 ? (double(value()) - minimum()) / span : 0.0;
    return {bar.x(), bar.y(), fraction * (width() - 8), barHeight};
}

void SliderCell::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar(4, (height() - barHeight) / 2, width() - 8, barHeight);
    QPainterPath track;
    track.addRoundedRect(trackRect(bar), barRadius, barRadius);
    painter.fillPath(track, QColor(0xc8, 0xcc, 0xd4));
    const QRectF filled = filledRect(bar);
    if (filled.width() > 0) {
        QPainterPath part;
        part.addRoundedRect(filled, barRadius, barRadius);
        painter.fillPath(part, ColorHelper::mainColor());
    }
    // The knob sits at the end of the filled part.
    painter.setPen(QPen(QColor(0xb0, 0xb6, 0xc0), 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(bar.x() + filled.width(), height() / 2.0), 6, 6);
}
