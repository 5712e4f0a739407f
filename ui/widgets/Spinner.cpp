#include "ui/widgets/Spinner.h"

#include "ui/widgets/ColorHelper.h"

#include <QPainter>

Spinner::Spinner(QWidget *parent)
    : QWidget(parent)
    , m_color(ColorHelper::mainColor())
{
    m_timer.setInterval(40);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
    setVisible(false);
}

void Spinner::startAnimation()
{
    m_timer.start();
    show();
}

void Spinner::stopAnimation()
{
    m_timer.stop();
    hide();
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height()) - 4;
    const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    QPen pen(m_color, std::max(2.0, side / 9.0), Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.drawArc(box, -m_angle * 16, 270 * 16);
}
