#pragma once

#include <QWidget>

class ViewTouchEventDelegate;

/// A view that hands its pointer, key and touch events to a delegate instead of handling them.
class MyView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MyView)

public:
    explicit MyView(QWidget *parent = nullptr);

    ViewTouchEventDelegate *delegate() const { return m_delegate; }
    void setDelegate(ViewTouchEventDelegate *delegate) { m_delegate = delegate; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private:
    ViewTouchEventDelegate *m_delegate = nullptr;
};
