#pragma once

class MyButton;
class QEnterEvent;
class QEvent;

/// What a MyButton tells its observer; every operation is optional.
class ButtonDelegate
{
public:
    virtual ~ButtonDelegate() = default;

    virtual void needDrawRect(MyButton *) {}
    virtual void myButton_mouseEntered(MyButton *, QEnterEvent *) {}
    virtual void myButton_mouseExited(MyButton *, QEvent *) {}
    /// Whether the observer wants the pointer callbacks (which also swap the hover image).
    virtual bool wantsPointerEvents() const { return false; }
};
