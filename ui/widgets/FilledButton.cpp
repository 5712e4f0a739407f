#include "ui/widgets/FilledButton.h"

#include "ui/widgets/ColorHelper.h"

#include <QPainter>
#include <QPainterPath>

FilledButton::FilledButton(QWidget *parent)
    : QPushButton(parent)
    , m_fill(ColorHelper::mainColor())
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

void FilledButton::setFillColor(const QColor &color)
{
    m_fill = color;
    update();
}

QSize FilledButton::sizeHint() const
{
    const QSize text = fontMetrics().size(Qt::TextSingleLine, this->text());
    return {text.width() + 36, std::max(40, text.height() + 16)};
}

void FilledButton::paintEvent(QPaintEvent *)
{
    QColor fill = m_fill;
    if (!isEnabled())
        fill = QColor::fromHsvF(fill.hsvHueF(), fill.hsvSaturationF() * 0.45, 0.8);
    else if (isDown())
        fill = fill.darker(118);
    else if (underMouse())
        fill = fill.lighter(118);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.fillPath(path, fill);
    if (hasFocus()) {
        // A ring inside the fill: seen on any background, also by keyboard users.
        QPainterPath ring;
        ring.addRoundedRect(QRectF(rect()).adjusted(3, 3, -3, -3), 4, 4);
        painter.setPen(QPen(QColor(255, 255, 255, 210), 1.5));
        painter.drawPath(ring);
    }
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text());
}
