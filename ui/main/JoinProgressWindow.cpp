#include "ui/main/JoinProgressWindow.h"

#include "ui/widgets/Spinner.h"
#include "ui_JoinProgressWindow.h"

#include <QApplication>
#include <QScreen>

JoinProgressWindow::JoinProgressWindow(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
    , ui(std::make_unique<Ui::JoinProgressWindow>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setAttribute(Qt::WA_StyledBackground);
    // Never the key window: a toast about a failed join goes to the window the user sees,
    // not into this one, which hides right after it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    setFixedSize(size());
}

JoinProgressWindow::~JoinProgressWindow() = default;

Spinner *JoinProgressWindow::joinConferenceActivity() const
{
    return ui->joinConferenceActivity;
}

void JoinProgressWindow::showCentredOver(QWidget *over)
{
    m_over = over ? over->window() : nullptr;
    const QRect area = over && over->isVisible() ? over->window()->geometry()
                       : screen()                ? screen()->availableGeometry()
                                                 : QRect();
    if (area.isValid())
        move(area.center() - rect().center());
    ui->joinConferenceActivity->startAnimation();
    show();
    raise();
}

void JoinProgressWindow::hideAndStop()
{
    const bool wasKey = isActiveWindow();
    hide();
    ui->joinConferenceActivity->stopAnimation();
    // Where the platform made this the key window after all, the window below gets it back.
    if (m_over && m_over->isVisible() && (wasKey || !QApplication::activeWindow())) {
        m_over->activateWindow();
        QApplication::setActiveWindow(m_over); // at once: a toast may follow right away
    }
}
