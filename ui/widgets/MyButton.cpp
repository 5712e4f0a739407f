#include "ui/widgets/MyButton.h"

#include "ui/widgets/ButtonDelegate.h"
#include "ui/widgets/Images.h"

#include <QEnterEvent>

MyButton::MyButton(QWidget *parent)
    : QPushButton(parent)
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
}

void MyButton::setNormalImageName(const QString &name)
{
    m_normalImageName = name;
    showImage(name);
}

void MyButton::showImage(const QString &name)
{
    m_current = name;
    setIcon(Images::icon(name));
}

bool MyButton::tracking() const
{
    return m_enableTrackingArea || (m_delegate && m_delegate->wantsPointerEvents());
}

void MyButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (m_delegate)
        m_delegate->needDrawRect(this);
}

void MyButton::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    if (!tracking())
        return;
    showImage(m_hoverImageName);
    if (m_delegate)
        m_delegate->myButton_mouseEntered(this, event);
}

void MyButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    if (!tracking())
        return;
    showImage(m_normalImageName);
    if (m_delegate)
        m_delegate->myButton_mouseExited(this, event);
}
