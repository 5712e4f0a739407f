#pragma once

#include "bridge/ConfClientDelegate.h"
#include "bridge/TRQClientOnOutEvent.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

/// Records what the dispatcher asks of the windows, and on which thread.
class RecordingDelegate final : public ConfClientDelegate
{
public:
    ~RecordingDelegate() override { OutEventState::detach(this); }
    QObject *context() override { return &m_context; }
    QStringList calls;
    bool mainVisible = true;
    bool offMainThread = false;
    QStringList *alsoTo = nullptr; ///< a record that outlives this delegate

    void note(const QString &call)
    {
        offMainThread = offMainThread || QThread::currentThread() != qApp->thread();
        calls.append(call);
        if (alsoTo)
            alsoTo->append(call);
    }
    void errorWithText(const QString &text) override { note(QStringLiteral("error:") + text); }
    void loginSuccess() override { note(QStringLiteral("loginSuccess")); }
    void endConference() override { note(QStringLiteral("endConference")); }
    void showAlertWithMessage(const QString &m) override { note(QStringLiteral("alert:") + m); }
    bool isMainWindowVisible() const override { return mainVisible; }
    void acceptIncomeCallWithName(const QString &c) override { note(QStringLiteral("call:") + c); }
    void incomeCallTimeOut() override { note(QStringLiteral("callTimeout")); }
    void addControllView() override { note(QStringLiteral("addControllView")); }
    void closeConferenceWindow() override { note(QStringLiteral("closeConference")); }
    void getContactsInConference() override { note(QStringLiteral("participants")); }
    QSize conferenceVideoSize() const override { return {640, 360}; }
    void arrangeWindowsForConference() override { note(QStringLiteral("arrange")); }
    void closeAllWindowsForSignOut() override { note(QStringLiteral("closeAll")); }

private:
    QObject m_context; // queued work for this delegate ends with it
};
