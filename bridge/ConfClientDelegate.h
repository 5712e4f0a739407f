#pragma once

#include <QObject>
#include <QSize>
#include <QString>

/// What the out-event dispatcher asks of the application's windows. The application delegate
/// implements it; every call arrives on the main thread.
class ConfClientDelegate
{
public:
    virtual ~ConfClientDelegate() = default;

    /// The main-thread object whose life bounds the delegate: work queued for the delegate is
    /// dropped once it is gone.
    virtual QObject *context() = 0;

    // The login view
    virtual void errorWithText(const QString &text) = 0;
    virtual void loginSuccess() = 0;
    virtual void endConference() = 0;
    virtual void showAlertWithMessage(const QString &message) = 0;
    virtual bool isMainWindowVisible() const = 0;

    // The main window with the contact list
    virtual void acceptIncomeCallWithName(const QString &caller) = 0;
    virtual void incomeCallTimeOut() = 0;

    // The conference window
    virtual void addControllView() = 0;
    virtual void closeConferenceWindow() = 0;
    virtual void getContactsInConference() = 0;
    virtual QSize conferenceVideoSize() const = 0;

    /// A conference became active: close a live player, hide every window but the conference
    /// and control windows.
    virtual void arrangeWindowsForConference() = 0;
    /// Signed out: close every window and bring the login view to the front.
    virtual void closeAllWindowsForSignOut() = 0;
};
