#pragma once

#include <QPointer>
#include <QPushButton>

class ButtonDelegate;

/// A flat image button that shows another image while the pointer is over it.
class MyButton final : public QPushButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MyButton)

public:
    explicit MyButton(QWidget *parent = nullptr);

    QString normalImageName() const { return m_normalImageName; }
    /// Also shows the image at once.
    void setNormalImageName(const QString &name);
    QString hoverImageName() const { return m_hoverImageName; }
    void setHoverImageName(const QString &name) { m_hoverImageName = name; }
    bool enableTrackingArea() const { return m_enableTrackingArea; }
    void setEnableTrackingArea(bool on) { m_enableTrackingArea = on; }
    ButtonDelegate *delegate() const { return m_delegate; }
    void setDelegate(ButtonDelegate *delegate) { m_delegate = delegate; }
    /// The image shown now.
    QString currentImageName() const { return m_current; }
    /// Shows `name` until the next hover change or normal image.
    void showImage(const QString &name);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool tracking() const;

    QString m_normalImageName;
    QString m_hoverImageName;
    QString m_current;
    bool m_enableTrackingArea = false;
    ButtonDelegate *m_delegate = nullptr;
};
