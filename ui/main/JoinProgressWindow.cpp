#include "JoinProgressWindow.h"

#include "Spinner.h"
#include "ui_JoinProgressWindow.h"

#include <QScreen>

JoinProgressWindow::JoinProgressWindow(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
    , ui(std::make_unique<Ui::JoinProgressWindow>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(size());
}

JoinProgressWindow::~JoinProgressWindow() = default;

Spinner *JoinProgressWindow::joinConferenceActivity() const
{
    return ui->joinConferenceActivity;
}

void JoinProgressWindow::showCentredOver(QWidget *over)
{
    const QRect area = over && over->isVisible() ? over->window()->geometry()
                       : screen()                ? screen()->availableGeometry()
                                                 : QRect();
    if (area.isValid())
        move(area.center() - rect().center());
    ui->joinConferenceActivity->startAnimation();
    show();
    raise();
    activateWindow();
}

void JoinProgressWindow::hideAndStop()
{
    hide();
    ui->joinConferenceActivity->stopAnimation();
}
