#include "ui/main/PinWindow.h"

#include "ui_PinWindow.h"

PinWindow::PinWindow(QWidget *parent)
    : QWidget(parent, Qt::Dialog)
    , ui(std::make_unique<Ui::PinWindow>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(size());
    connect(ui->okButton, &QPushButton::clicked, this, [this] { Q_EMIT confirmed(); });
    connect(ui->roomPassField, &QLineEdit::returnPressed, this, [this] { Q_EMIT confirmed(); });
    connect(ui->cancelButton, &QPushButton::clicked, this, [this] { Q_EMIT cancelled(); });
}

PinWindow::~PinWindow() = default;

QLineEdit *PinWindow::roomPassField() const
{
    return ui->roomPassField;
}
QPushButton *PinWindow::okButton() const
{
    return ui->okButton;
}
QPushButton *PinWindow::cancelButton() const
{
    return ui->cancelButton;
}

void PinWindow::bringToFront(QWidget *over)
{
    if (over && !isVisible()) {
        // Asked from a pop-over, which closes: centre over the window below it instead.
        QWidget *window = over->window();
        while (window->windowType() == Qt::Popup && window->parentWidget())
            window = window->parentWidget()->window();
        move(window->geometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
    ui->roomPassField->setFocus();
}
