#include "ui/widgets/MyView.h"

#include "ui/widgets/ViewTouchEventDelegate.h"

#include <QMouseEvent>
#include <QTouchEvent>

MyView::MyView(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setFocusPolicy(Qt::StrongFocus);
}

void MyView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_delegate)
        return;
    if (event->button() == Qt::RightButton)
        m_delegate->myView_rightMouseDown(event);
    else
        m_delegate->myView_mouseDown(event);
}

void MyView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_delegate)
        return;
    if (event->button() == Qt::RightButton)
        m_delegate->myView_rightMouseUp(event);
    else
        m_delegate->myView_mouseUp(event);
}

void MyView::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (m_delegate)
        m_delegate->myView_mouseMoved(event);
}

void MyView::enterEvent(QEnterEvent *event)
{
    if (m_delegate)
        m_delegate->myView_mouseEntered(event);
}

void MyView::leaveEvent(QEvent *event)
{
    if (m_delegate)
        m_delegate->myView_mouseExited(event);
}

void MyView::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    if (m_delegate)
        m_delegate->myView_keyDown(event);
}

void MyView::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
    if (m_delegate)
        m_delegate->myView_keyUp(event);
}

bool MyView::event(QEvent *event)
{
    auto *touch = dynamic_cast<QTouchEvent *>(event);
    if (!touch || !m_delegate)
        return QWidget::event(event);
    switch (event->type()) {
    case QEvent::TouchBegin:
        m_delegate->myView_touchesBeganWithEvent(touch);
        break;
    case QEvent::TouchUpdate:
        m_delegate->myView_touchesMovedWithEvent(touch);
        break;
    case QEvent::TouchEnd:
        m_delegate->myView_touchesEndedWithEvent(touch);
        break;
    case QEvent::TouchCancel:
        m_delegate->myView_touchesCancelledWithEvent(touch);
        break;
    default:
        return QWidget::event(event);
    }
    event->accept();
    return true;
}
