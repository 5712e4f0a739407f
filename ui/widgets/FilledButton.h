#pragma once

#include <QColor>
#include <QPushButton>

/// A push button filled with a colour and rounded, lighter under the pointer and darker while
/// pressed. Painted directly, so the login window needs no style sheet at start-up.
class FilledButton final : public QPushButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FilledButton)

public:
    explicit FilledButton(QWidget *parent = nullptr);

    void setFillColor(const QColor &color);
    QColor fillColor() const { return m_fill; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
};
