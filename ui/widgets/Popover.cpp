#include "ui/widgets/Popover.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

Popover::Popover(QWidget *parent)
    : QFrame(parent, Qt::Popup)
{
    setObjectName(QStringLiteral("popover"));
    setFrameShape(QFrame::NoFrame);
    setStyleSheet(QStringLiteral("#popover { background: white; border: 1px solid #cfd4dc; "
                                 "border-radius: 6px; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
}

void Popover::setContent(QWidget *content, bool deletePrevious)
{
    if (m_content == content)
        return;
    if (m_content) {
        layout()->removeWidget(m_content);
        if (deletePrevious)
            m_content->deleteLater();
        else
            m_content->hide();
    }
    m_content = content;
    if (content) {
        layout()->addWidget(content);
        content->show();
    }
}

void Popover::setContentSize(const QSize &size)
{
    resize(size + QSize(2, 2));
}

void Popover::showRelativeTo(QWidget *anchor, const QRect &rect, Edge edge)
{
    if (!anchor)
        return;
    QPoint topLeft;
    switch (edge) {
    case Edge::Right:
        topLeft = anchor->mapToGlobal(QPoint(rect.right() + 6, rect.top()));
        break;
    case Edge::Below:
        topLeft = anchor->mapToGlobal(QPoint(rect.left(), rect.bottom() + 6));
        break;
    case Edge::Above:
        topLeft = anchor->mapToGlobal(QPoint(rect.left(), rect.top() - 6 - height()));
        break;
    }
    QRect frame(topLeft, size());
    if (const QScreen *screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        if (frame.right() > area.right())
            frame.moveRight(area.right());
        if (frame.bottom() > area.bottom())
            frame.moveBottom(area.bottom());
        frame.moveLeft(std::max(frame.left(), area.left()));
        frame.moveTop(std::max(frame.top(), area.top()));
    }
    move(frame.topLeft());
    show();
}

void Popover::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    Q_EMIT closed();
}
