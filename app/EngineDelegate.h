#pragma once

#include "bridge/ConfClientDelegate.h"

#include <QObject>

class AppDelegate;

/// What the conferencing engine's out-events ask of the application's windows, routed to the
/// windows the application delegate owns. Queued work for it is dropped once it is gone.
class EngineDelegate final : public QObject, public ConfClientDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EngineDelegate)

public:
    explicit EngineDelegate(AppDelegate &app);
    ~EngineDelegate() override;

    QObject *context() override { return this; }
    void errorWithText(const QString &text) override;
    void loginSuccess() override;
    void endConference() override;
    void showAlertWithMessage(const QString &message) override;
    bool isMainWindowVisible() const override;
    void acceptIncomeCallWithName(const QString &caller) override;
    void incomeCallTimeOut() override;
    void addControllView() override;
    void closeConferenceWindow() override;
    void getContactsInConference() override;
    QSize conferenceVideoSize() const override;
    void arrangeWindowsForConference() override;
    void closeAllWindowsForSignOut() override;

private:
    AppDelegate &m_app;
};
