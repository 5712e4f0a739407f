#pragma once

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <memory>

class ContactListViewController;
class IncomingCallNotification;
class QMediaPlayer;
class SoundPlayer;

class QStackedWidget;

/// The main window after sign-in: the contact list (and later the live-broadcast list) as its
/// content, the incoming-call prompt and the reaction to a lost network.
class ContactWindowController final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ContactWindowController)

public:
    explicit ContactWindowController(QWidget *parent = nullptr);
    ~ContactWindowController() override;

    /// Creates the contact list as entry 0 of viewControllers() and shows it.
    void showList();
    /// Shows entry `index`, made by `factory` when it does not exist yet.
    void showViewController(qsizetype index, const std::function<QWidget *()> &factory);
    const QList<QWidget *> &viewControllers() const { return m_viewControllers; }
    ContactListViewController *contactList() const;

    void acceptIncomeCallWithName(const QString &name);
    void incomeCallTimeOut();
    void networkChange(qint64 status);

    QString incomeCallName() const { return m_incomeCallName; }
    QMessageBox *alert() const { return m_alert; }
    /// What rings, once an incoming call has rung.
    QMediaPlayer *player() const;
    IncomingCallNotification *callNotification() const { return m_callNotification; }

    /// What closing from the title bar does before the window closes; false keeps it open.
    bool closeFromTitleBar();

protected:
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool isCurrent() const;
    bool isOwnSheet(const QWidget *window) const;
    void ring();
    void stopRinging();
    /// Announces the call on the desktop too; its actions press the alert's buttons.
    void notifyIncomingCall(const QString &name, const QString &message);

    QStackedWidget *m_stack;
    QList<QWidget *> m_viewControllers;
    std::unique_ptr<SoundPlayer> m_ring;
    IncomingCallNotification *m_callNotification;
    QPointer<QMessageBox> m_alert;
    QPointer<QMessageBox> m_networkAlert;
    QString m_incomeCallName;
};
