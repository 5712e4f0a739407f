#include "ui/main/ContactListViewController.h"

#include "bridge/NotificationCenter.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "model/ValueConversion.h"
#include "net/NetWork.h"
#include "net/ServerLink.h"
#include "net/StringHelper.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/JoinProgressWindow.h"
#include "ui/main/OutsideContactDetailViewController.h"
#include "ui/main/QXContactListCellView.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/BardgeButton.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/Popover.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/ToastView.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_ContactListViewController.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>

namespace {

ContactListViewController::ViewFactory liveFactory;

constexpr int rowHeight = 44;
constexpr int headerRowHeight = 30;

} // namespace

void ContactListViewController::setLiveListFactory(ViewFactory factory)
{
    liveFactory = std::move(factory);
}

ContactListViewController::ContactListViewController(ContactWindowController *windowController,
                                                     QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ContactListViewController>())
    , m_windowController(windowController)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    viewDidLoad();
}

ContactListViewController::~ContactListViewController() = default;

QXSearchField *ContactListViewController::searchField() const
{
    return ui->searchField;
}
QListWidget *ContactListViewController::tableView() const
{
    return ui->tableView;
}
QLabel *ContactListViewController::titleLabel() const
{
    return ui->titleLabel;
}
Spinner *ContactListViewController::activity() const
{
    return ui->activity;
}
QPushButton *ContactListViewController::clearSearchBarButton() const
{
    return ui->clearSearchBarButton;
}
QWidget *ContactListViewController::directLive() const
{
    return ui->directLive;
}
BardgeButton *ContactListViewController::directLiveButton() const
{
    return ui->directLiveButton;
}
QWidget *ContactListViewController::controlWeb() const
{
    return ui->controlWeb;
}

void ContactListViewController::viewDidLoad()
{
    m_contactDetailVc = new ContactDetailViewController;
    m_outsideVC = new OutsideContactDetailViewController;
    m_detailPopover = new Popover(this);
    m_detailPopover->setContent(m_contactDetailVc);
    m_outsidePopover = new Popover(this);
    m_outsidePopover->setContent(m_outsideVC);
    for (Popover *popover : {m_detailPopover, m_outsidePopover})
        connect(popover, &Popover::closed, this, [this] { ui->tableView->clearSelection(); });

    m_progressWindow = std::make_unique<JoinProgressWindow>();
    m_progressWindow->hide();

    const auto user = AppUser::defaultUser();
    ui->directLive->setVisible(!user->coId.isEmpty() && bool(liveFactory));
    ui->controlWeb->setVisible(ValueConversion::integerValue(user->userRole) != 0);
    ui->controlWebButton->setIcon(Images::icon(QStringLiteral("control_web")));
    ui->bottomBar->setVisible(!ui->directLive->isHidden() || !ui->controlWeb->isHidden());

    ViewHelper::setTag(ui->searchField, searchFieldTag);
    ui->searchField->setSearchDelegate(this);
    setClearImage(QStringLiteral("search"));
    connect(ui->searchField, &QLineEdit::textChanged, this,
            [this](const QString &text) { textFieldDidChange(text); });
    connect(ui->searchField, &QLineEdit::returnPressed, this, [this] { searchWhenEnter(); });
    connect(ui->clearSearchBarButton, &QPushButton::clicked, this, [this] { clearSearchBar(); });
    connect(ui->directLiveButton, &QPushButton::clicked, this, [this] { showDirctLive(); });
    connect(ui->controlWebButton, &QPushButton::clicked, this, [this] { showControlWebview(); });
    connect(ui->tableView, &QListWidget::itemPressed, this,
            [this](QListWidgetItem *item) { proposeSelection(ui->tableView->row(item)); });
    ui->tableView->viewport()->installEventFilter(this);
    ui->tableView->installEventFilter(this);

    auto *center = NotificationCenter::defaultCenter();
    center->addObserver(NotificationCenter::joinConferenceSuccess, this,
                        [this](const Notification &) { joinConferenceSucess(); });
    center->addObserver(NotificationCenter::roomLinkError, this, [this](const Notification &n) {
        roomLinkError(n.object.toMap().value(QStringLiteral("reason")).toString());
    });

    m_netWorking = new ContactListNetworking(this);
    connect(m_netWorking, &ContactListNetworking::getNetworkDataSuccess, this,
            &ContactListViewController::getNetworkDataSuccess);
    connect(m_netWorking, &ContactListNetworking::getSearchDataSuccess, this,
            &ContactListViewController::getSearchDataSuccess);
    connect(m_netWorking, &ContactListNetworking::getSearchDataFailed, this,
            &ContactListViewController::getSearchDataFailed);
    m_delayedRefresh.setSingleShot(true);
    m_delayedRefresh.setInterval(500);
    connect(&m_delayedRefresh, &QTimer::timeout, this, [this] { m_netWorking->getMemberInfo(); });
    ui->activity->startAnimation();
    connect(m_netWorking, &ContactListNetworking::updateAvailable, this,
            [this](const QString &title, const QString &message, const QUrl &url) {
                showUpdatePrompt(title, message, url);
            });
    m_netWorking->checkUpdate();
}

void ContactListViewController::showUpdatePrompt(const QString &title, const QString &message,
                                                 const QUrl &url)
{
    AlertHelper::showAlertWithTitle(
        title, message, {tr("立即更新"), tr("暂不升级")},
        [url](int response) {
            if (response == AlertHelper::firstButtonResponse && !url.isEmpty())
                ServerLink::open(url);
        },
        window());
}

void ContactListViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_timer)
        return;
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(refreshSeconds * 1000);
    connect(m_timer.get(), &QTimer::timeout, this, [this] { refresh(); });
    m_timer->start();
    refresh();
}

void ContactListViewController::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return; // minimised: the list stays current
    m_timer.reset();
}

void ContactListViewController::refresh()
{
    if (m_isSearchIng || isPopoverShown())
        return;
    m_netWorking->getMemberInfo();
}

bool ContactListViewController::isPopoverShown() const
{
    return m_detailPopover->isVisible() || m_outsidePopover->isVisible();
}

const EntityList &ContactListViewController::rows() const
{
    return m_isSearchIng ? m_searchContactsList : m_contactsArray;
}

int ContactListViewController::rowOf(const QString &displayName) const
{
    const EntityList &shown = rows();
    for (int row = 0; row < shown.size(); ++row)
        if (shown[row]->displayName == displayName)
            return row;
    return -1;
}

namespace {

/// What a row shows, for every row: a refresh that changes none of it redraws nothing.
QString signatureOf(const EntityList &list)
{
    QString signature;
    for (const auto &e : list)
        signature += e->entityID + u'\x1f' + e->displayName + u'\x1f' + e->MemberStatus + u'\x1f' +
                     e->EntityType + u'\x1f' + e->isInMyContacts + u'\x1e';
    return signature;
}

} // namespace

void ContactListViewController::getNetworkDataSuccess(const EntityList &contacts)
{
    if (m_windowController)
        m_windowController->setWindowTitle(AppUser::defaultUser()->displayName);
    ui->activity->stopAnimation();
    const bool unchanged = signatureOf(contacts) == signatureOf(m_contactsArray) &&
                           ui->tableView->count() == contacts.size();
    m_contactsArray = contacts;
    if (m_isSearchIng)
        return;
    showContactsTitle();
    if (!unchanged)
        reloadData();
}

void ContactListViewController::showContactsTitle()
{
    ui->titleLabel->setText(QStringLiteral("%1:%2")
                                .arg(StringHelper::localString(
                                    QString::fromUtf8(QT_TRANSLATE_NOOP("Orvale", "我的联系人"))))
                                .arg(m_contactsArray.size()));
}

void ContactListViewController::reloadData()
{
    const int scroll = ui->tableView->verticalScrollBar()->value();
    const int current = ui->tableView->currentRow();
    ui->tableView->clear();
    const EntityList &list = rows();
    const int width = ui->tableView->viewport()->width();
    for (qsizetype row = 0; row < list.size(); ++row) {
        const auto &entity = list[row];
        const bool header = entity->EntityType == u"tableHeader";
        auto *item = new QListWidgetItem(ui->tableView);
        item->setSizeHint(QSize(width, header ? headerRowHeight : rowHeight));
        if (header)
            item->setFlags(Qt::NoItemFlags);
        // The row's look is its cell widget; screen readers read the item.
        item->setData(Qt::AccessibleTextRole, QXContactListCellView::accessibleTextFor(*entity));
        auto *cell = new QXContactListCellView;
        cell->setContact(entity);
        connect(cell, &QXContactListCellView::addContactClicked, this,
                [this](QPushButton *button) { addContact(button); });
        ui->tableView->setItemWidget(item, cell);
    }
    // Keep the keyboard's place across a refresh, without selecting anything.
    const QListWidgetItem *kept = ui->tableView->item(current);
    if (kept && kept->flags().testFlag(Qt::ItemIsEnabled)) // never a section title
        ui->tableView->setCurrentRow(current, QItemSelectionModel::NoUpdate);
    ui->tableView->verticalScrollBar()->setValue(scroll);
}

void ContactListViewController::addContact(QPushButton *button)
{
    const qint64 entityId = ViewHelper::tag(button);
    NetWork *request = NetWork::initWithUrlString(ContactListNetworking::listAddress(),
                                                  ContactListNetworking::addContactBody(entityId),
                                                  QStringLiteral("AddToMyContactsRequest"));
    // The cell may be rebuilt while the request runs; the list outlives it.
    QPointer<QPushButton> guardedButton(button);
    request->setSuccessBlock(this, [this, guardedButton](const QVariant &) {
        if (guardedButton) {
            guardedButton->setIcon(Images::icon(QStringLiteral("addSucess")));
            guardedButton->setEnabled(false);
        }
        m_delayedRefresh.start(); // replaces a pending delayed refresh
    });
    request->setFailBlock(this, [](const NetworkError &) {
        ToastView::showToastWithString(tr("添加好友失败"), QStringLiteral("warning"));
    });
    request->startRequest();
}

void ContactListViewController::setClearImage(const QString &name)
{
    m_clearImage = name;
    ui->clearSearchBarButton->setIcon(Images::icon(name));
    ui->clearSearchBarButton->setAccessibleName(name == u"close" ? tr("清除搜索") : tr("搜索"));
}

void ContactListViewController::leaveSearchMode()
{
    m_netWorking->cancelSearch();
    m_isSearchIng = false;
    m_currentSearchStr.clear();
    m_pendingSearch.clear();
    setClearImage(QStringLiteral("search"));
    showContactsTitle();
    reloadData();
}

void ContactListViewController::textFieldDidChange(const QString &text)
{
    if (ViewHelper::tag(ui->searchField) != searchFieldTag)
        return;
    if (text.isEmpty())
        leaveSearchMode();
    else
        setClearImage(QStringLiteral("close"));
}

void ContactListViewController::searchWhenEnter()
{
    const bool outside = Preferences().searchOutsideRoom() != 0;
    const QString text = ui->searchField->text();
    if (text.isEmpty() || text == m_pendingSearch)
        return;
    if (m_isSearchIng && m_pendingSearch.isEmpty() && text == m_currentSearchStr)
        return;
    // The table and the row lookups switch to the result together, when it arrives; until
    // then both stay on what is shown.
    m_pendingSearch = text;
    m_pendingOutside = outside;
    m_netWorking->searchContactsByInputStr(text);
}

void ContactListViewController::getSearchDataFailed()
{
    m_pendingSearch.clear(); // Enter tries again
}

void ContactListViewController::getSearchDataSuccess(const EntityList &results)
{
    if (m_pendingSearch.isEmpty())
        return; // the search was given up before its answer came
    m_isSearchIng = true;
    m_searchOutside = m_pendingOutside;
    m_currentSearchStr = m_pendingSearch;
    m_pendingSearch.clear();
    m_searchContactsList = results;
    if (!results.isEmpty() || m_searchOutside)
        ui->titleLabel->setText(StringHelper::localString(
            QString::fromUtf8(QT_TRANSLATE_NOOP("Orvale", "您可能想找"))));
    else
        ui->titleLabel->setText(StringHelper::localString(
            QString::fromUtf8(QT_TRANSLATE_NOOP("Orvale", "未搜索到联系人"))));
    if (m_searchOutside) {
        auto header = std::make_shared<Entity>();
        header->EntityType = QStringLiteral("tableHeader");
        header->displayName =
            StringHelper::localString(QString::fromUtf8(QT_TRANSLATE_NOOP("Orvale", "外部联系人")));
        header->MemberStatus = QStringLiteral("");
        auto outside = std::make_shared<Entity>();
        outside->EntityType = QStringLiteral("OutMember");
        outside->displayName = m_currentSearchStr;
        outside->MemberStatus = QStringLiteral("Online");
        m_searchContactsList.append(header);
        m_searchContactsList.append(outside);
    }
    reloadData();
}

void ContactListViewController::clearSearchBar()
{
    if (ui->searchField->text().isEmpty())
        return;
    {
        const QSignalBlocker blocker(ui->searchField);
        ui->searchField->clear();
    }
    if (QWidget *focused = window()->focusWidget())
        focused->clearFocus();
    leaveSearchMode();
}

void ContactListViewController::searchFieldFocused()
{
    dismissCurrentViewController();
}

void ContactListViewController::proposeSelection(int row)
{
    dismissCurrentViewController();
    const EntityList &list = rows();
    const bool outsideSearch = m_isSearchIng && m_searchOutside;
    if (row < 0 || row >= list.size() || (outsideSearch && row == list.size() - 2))
        return;
    ui->tableView->setCurrentRow(row);
    popOverContactDetailVcWithIndex(row);
}

void ContactListViewController::popOverContactDetailVcWithIndex(int row)
{
    const auto entity = rows().at(row);
    m_contactDetailVc->setContactType(entity->EntityType == u"Member" ? 0 : 1);
    QListWidgetItem *item = ui->tableView->item(row);
    QWidget *cell = ui->tableView->itemWidget(item);
    const bool outsideRow =
        m_isSearchIng && m_searchOutside && row == int(m_searchContactsList.size()) - 1;
    Popover *popover = outsideRow ? m_outsidePopover : m_detailPopover;
    if (outsideRow) {
        m_outsideVC->setModel(entity);
        m_outsideVC->setDelegate(this);
    } else {
        m_contactDetailVc->setContact(entity);
        m_contactDetailVc->setDelegate(this);
    }
    popover->adjustSize();
    popover->showRelativeTo(cell, cell->rect(), Popover::Edge::Right);
    // Enter in the list opens the details; Enter again joins.
    QPushButton *join =
        outsideRow ? m_outsideVC->joinButton() : m_contactDetailVc->joinConferenceButton();
    join->setFocus(Qt::PopupFocusReason);
}

void ContactListViewController::dismissCurrentViewController()
{
    m_outsidePopover->close();
    m_detailPopover->close();
    ui->tableView->clearSelection();
}

void ContactListViewController::disMissMySelf()
{
    dismissCurrentViewController();
}

void ContactListViewController::deleteContactWithEntityId(const QString &entityId)
{
    if (isPopoverShown())
        m_detailPopover->close();
    for (qsizetype i = 0; i < m_contactsArray.size(); ++i) {
        if (m_contactsArray[i]->entityID == entityId) {
            m_contactsArray.removeAt(i);
            break;
        }
    }
    if (!m_isSearchIng)
        showContactsTitle();
    reloadData();
}

void ContactListViewController::showDirctLive()
{
    if (m_windowController && liveFactory)
        m_windowController->showViewController(1, liveFactory);
}

void ContactListViewController::showControlWebview()
{
    ServerLink::open(AppUser::defaultUser()->roleUrl);
}

void ContactListViewController::showJoinConferenceProgressWindow()
{
    // The engine may report the conference before the portal answers the join: the conference
    // window is then already there, and a progress window would stay on top of it.
    if (AppStatus::shareStatus()->isInConference())
        return;
    m_progressWindow->showCentredOver(window());
}

void ContactListViewController::hideJoinConferenceProgressWindow()
{
    m_progressWindow->hideAndStop();
}

void ContactListViewController::joinConferenceSucess()
{
    m_progressWindow->hideAndStop();
    JoinConferenceWindowController::sharedJoinWindow()->showCentred();
}

void ContactListViewController::roomLinkError(const QString &reason)
{
    if (!AppStatus::shareStatus()->isSignIn())
        return;
    hideJoinConferenceProgressWindow();
    ToastView::showToastWithString(reason, QStringLiteral("warning"), 4.0);
}

bool ContactListViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->tableView && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && ui->tableView->currentRow() >= 0) {
            proposeSelection(ui->tableView->currentRow());
            return true;
        }
        QTimer::singleShot(0, this, [this] { dismissCurrentViewController(); });
    }
    if (watched == ui->tableView->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (!ui->tableView->itemAt(mouse->position().toPoint()))
            proposeSelection(-1); // a click below the last row selects nothing
    }
    if (watched == ui->tableView->viewport() && event->type() == QEvent::Resize) {
        for (int i = 0; i < ui->tableView->count(); ++i) {
            QListWidgetItem *item = ui->tableView->item(i);
            item->setSizeHint(QSize(ui->tableView->viewport()->width(), item->sizeHint().height()));
        }
    }
    return QWidget::eventFilter(watched, event);
}
