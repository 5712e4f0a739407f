#include "app/EngineDelegate.h"

#include "app/AppDelegate.h"
#include "bridge/TRQClientOnOutEvent.h"
#include "model/AppStatus.h"
#include "ui/conference/ControlWindowController.h"
#include "ui/conference/JoinConferenceViewController.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/conference/VideoView.h"
#include "ui/live/PlayDirectLive.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

EngineDelegate::EngineDelegate(AppDelegate &app)
    : m_app(app)
{}

EngineDelegate::~EngineDelegate()
{
    OutEventState::detach(this); // the engine may outlive the delegate
}

void EngineDelegate::errorWithText(const QString &text)
{
    m_app.loginVc()->errorWithText(text);
}

void EngineDelegate::loginSuccess()
{
    if (!m_app.loginVc()->loginSuccess())
        AppStatus::shareStatus()->setIsSignIn(false);
    else
        m_app.signedIn();
    m_app.updateDockMenu();
}

void EngineDelegate::endConference()
{
    m_app.endConference();
}

void EngineDelegate::showAlertWithMessage(const QString &message)
{
    m_app.loginVc()->showAlertWithMessage(message);
}

bool EngineDelegate::isMainWindowVisible() const
{
    return m_app.window() && m_app.window()->isVisible();
}

void EngineDelegate::acceptIncomeCallWithName(const QString &caller)
{
    if (ContactWindowController *main = m_app.loginVc()->contactWindowController())
        main->acceptIncomeCallWithName(caller);
}

void EngineDelegate::incomeCallTimeOut()
{
    if (ContactWindowController *main = m_app.loginVc()->contactWindowController())
        main->incomeCallTimeOut();
}

void EngineDelegate::addControllView()
{
    m_app.joinWindow()->addControllView();
}

void EngineDelegate::closeConferenceWindow()
{
    m_app.joinWindow()->close();
}

void EngineDelegate::getContactsInConference()
{
    m_app.joinWindow()->contentViewController()->getContactsInConference();
}

QSize EngineDelegate::conferenceVideoSize() const
{
    // Asking must not make the conference window.
    JoinConferenceWindowController *conference = m_app.joinWindowIfMade();
    return conference ? conference->contentViewController()->videoView()->size() : QSize();
}

void EngineDelegate::arrangeWindowsForConference()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!widget->isWindow() || !widget->isVisible())
            continue;
        if (qobject_cast<JoinConferenceWindowController *>(widget) ||
            qobject_cast<ControlWindowController *>(widget))
            continue;
        if (qobject_cast<PlayDirectLive *>(widget))
            widget->close();
        else
            widget->hide();
    }
    m_app.updateDockMenu();
}

void EngineDelegate::closeAllWindowsForSignOut()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isWindow() && widget->isVisible())
            widget->close();
    }
    QMainWindow *login = m_app.window();
    if (QWidget *focused = login->focusWidget())
        focused->clearFocus();
    m_app.bringToFront(login);
    // The signed-in flag drops right after this call.
    QTimer::singleShot(0, this, [this] { m_app.updateDockMenu(); });
}
