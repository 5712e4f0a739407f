#pragma once

#include "net/ContactListNetworking.h"
#include "ui/main/ContactDetailViewControllerDelegate.h"
#include "ui/main/QXSearchField.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class ContactListViewController;
}
class BardgeButton;
class ContactDetailViewController;
class ContactWindowController;
class JoinProgressWindow;
class OutsideContactDetailViewController;
class Popover;
class QLabel;
class QListWidget;
class QPushButton;
class Spinner;

/// The main window's content: the user's rooms and contacts with presence, the directory
/// search, and the entries for live broadcasts and the web control page.
class ContactListViewController final : public QWidget,
                                        public ContactDetailViewControllerDelegate,
                                        public QXSearchFieldDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ContactListViewController)

public:
    static constexpr int searchFieldTag = 101;
    static constexpr int refreshSeconds = 30;

    /// Makes the live-broadcast list; the live entry is offered only when one is set.
    using ViewFactory = std::function<QWidget *()>;
    static void setLiveListFactory(ViewFactory factory);

    explicit ContactListViewController(ContactWindowController *windowController,
                                       QWidget *parent = nullptr);
    ~ContactListViewController() override;

    void getNetworkDataSuccess(const EntityList &contacts);
    void getSearchDataSuccess(const EntityList &results);
    void getSearchDataFailed();

    // ContactDetailViewControllerDelegate
    void deleteContactWithEntityId(const QString &entityId) override;
    void disMissMySelf() override;
    void showJoinConferenceProgressWindow() override;
    void hideJoinConferenceProgressWindow() override;
    // QXSearchFieldDelegate
    void searchFieldFocused() override;

    void dismissCurrentViewController();
    /// What the table does with a click on `row` (-1: below the last row).
    void proposeSelection(int row);
    void popOverContactDetailVcWithIndex(int row);

    // Actions
    void addContact(QPushButton *button);
    void textFieldDidChange(const QString &text);
    void searchWhenEnter();
    void clearSearchBar();
    void showDirctLive();
    void showControlWebview();

    // State, for the window controller and tests
    const EntityList &contactsArray() const { return m_contactsArray; }
    const EntityList &searchContactsList() const { return m_searchContactsList; }
    const EntityList &rows() const;
    /// The first row showing `displayName`, or -1.
    int rowOf(const QString &displayName) const;
    bool isSearchIng() const { return m_isSearchIng; }
    /// The query sent and not yet answered, or an empty text.
    QString pendingSearch() const { return m_pendingSearch; }
    bool searchOutside() const { return m_searchOutside; }
    QString currentSearchStr() const { return m_currentSearchStr; }
    bool isPopoverShown() const;
    ContactListNetworking *netWorking() const { return m_netWorking; }
    ContactDetailViewController *contactDetailVc() const { return m_contactDetailVc; }
    OutsideContactDetailViewController *outsideVC() const { return m_outsideVC; }
    JoinProgressWindow *joinConferenceProgressWindow() const { return m_progressWindow.get(); }
    QTimer *timer() const { return m_timer.get(); }

    // Outlets
    QXSearchField *searchField() const;
    QListWidget *tableView() const;
    QLabel *titleLabel() const;
    Spinner *activity() const;
    QPushButton *clearSearchBarButton() const;
    QWidget *directLive() const;
    BardgeButton *directLiveButton() const;
    QWidget *controlWeb() const;
    QString clearButtonImage() const { return m_clearImage; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void viewDidLoad();
    void refresh();
    void showUpdatePrompt(const QString &title, const QString &message, const QUrl &url);
    void reloadData();
    void setClearImage(const QString &name);
    void showContactsTitle();
    void leaveSearchMode();
    void joinConferenceSucess();
    void roomLinkError(const QString &reason);

    std::unique_ptr<Ui::ContactListViewController> ui;
    QPointer<ContactWindowController> m_windowController;
    ContactListNetworking *m_netWorking = nullptr;
    ContactDetailViewController *m_contactDetailVc = nullptr;
    OutsideContactDetailViewController *m_outsideVC = nullptr;
    Popover *m_detailPopover = nullptr;
    Popover *m_outsidePopover = nullptr;
    std::unique_ptr<JoinProgressWindow> m_progressWindow;
    EntityList m_contactsArray;
    EntityList m_searchContactsList;
    std::unique_ptr<QTimer> m_timer;
    QTimer m_delayedRefresh;
    bool m_isSearchIng = false;
    bool m_searchOutside = false;
    bool m_pendingOutside = false;
    QString m_currentSearchStr;
    QString m_pendingSearch;
    QString m_clearImage;
};
