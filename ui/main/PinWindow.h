#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class PinWindow;
}
class QLineEdit;
class QPushButton;

/// The small window that asks for a room's PIN.
class PinWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PinWindow)

public:
    explicit PinWindow(QWidget *parent = nullptr);
    ~PinWindow() override;

    QLineEdit *roomPassField() const;
    QPushButton *okButton() const;
    QPushButton *cancelButton() const;
    /// Centred over the window it belongs to, in front and focused.
    void bringToFront(QWidget *over);

Q_SIGNALS:
    void confirmed();
    void cancelled();

private:
    std::unique_ptr<Ui::PinWindow> ui;
};
