#pragma once

class QEvent;
class QEnterEvent;
class QKeyEvent;
class QMouseEvent;
class QTouchEvent;

/// What a MyView hands on; every operation is optional.
class ViewTouchEventDelegate
{
public:
    virtual ~ViewTouchEventDelegate() = default;

    virtual void myView_mouseUp(QMouseEvent *) {}
    virtual void myView_rightMouseUp(QMouseEvent *) {}
    virtual void myView_mouseDown(QMouseEvent *) {}
    virtual void myView_rightMouseDown(QMouseEvent *) {}
    virtual void myView_mouseEntered(QEnterEvent *) {}
    virtual void myView_mouseExited(QEvent *) {}
    virtual void myView_mouseMoved(QMouseEvent *) {}
    virtual void myView_keyDown(QKeyEvent *) {}
    virtual void myView_keyUp(QKeyEvent *) {}
    virtual void myView_touchesBeganWithEvent(QTouchEvent *) {}
    virtual void myView_touchesMovedWithEvent(QTouchEvent *) {}
    virtual void myView_touchesEndedWithEvent(QTouchEvent *) {}
    virtual void myView_touchesCancelledWithEvent(QTouchEvent *) {}
};
