#include "ui/conference/ShareListInRoom.h"

#include "bridge/TRQClientInEvent.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_ShareListInRoom.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>

ShareListInRoom::ShareListInRoom(QWidget *parent)
    : SourceListViewController(parent)
    , ui(std::make_unique<Ui::ShareListInRoom>())
{
    ui->setupUi(this);
    ui->tableView->setMinimumSize(1, 1); // the pop-up's size is the control bar's to choose
    connect(ui->tableView, &QListWidget::itemSelectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
}

ShareListInRoom::~ShareListInRoom() = default;

QListWidget *ShareListInRoom::tableView() const
{
    return ui->tableView;
}

const QList<std::shared_ptr<ShareListInRoomModel>> &ShareListInRoom::dataSourse()
{
    if (!m_fetched) {
        m_fetched = true;
        m_dataSourse = TRQClientInEvent::ClientSyncRequestGetShareInRoom();
    }
    return m_dataSourse;
}

void ShareListInRoom::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_loaded)
        reload();
}

QWidget *ShareListInRoom::cellAt(int row) const
{
    return ui->tableView->itemWidget(ui->tableView->item(row));
}

void ShareListInRoom::reload()
{
    m_loaded = true;
    const QSignalBlocker blocker(ui->tableView);
    ui->tableView->clear();
    // Up to eight rows fit the pop-up exactly; more scroll.
    ui->tableView->setVerticalScrollBarPolicy(dataSourse().size() < 9 ? Qt::ScrollBarAlwaysOff
                                                                      : Qt::ScrollBarAsNeeded);
    for (const auto &share : dataSourse()) {
        auto *item = new QListWidgetItem(ui->tableView);
        item->setSizeHint(QSize(int(maxWidth()), 40));
        item->setData(Qt::AccessibleTextRole, share->remoteAppName); // the cell is a widget
        auto *cell = new QWidget;
        auto *layout = new QHBoxLayout(cell);
        layout->setContentsMargins(12, 0, 8, 0);
        auto *marker = new QLabel(cell);
        ViewHelper::setTag(marker, markerTag);
        marker->setPixmap(Images::pixmap(QStringLiteral("marker"), QSize(12, 12)));
        marker->setFixedSize(12, 12);
        auto *text = new QLabel(share->remoteAppName, cell);
        text->setStyleSheet(QStringLiteral("font-size: 15px; color: #1f2633;"));
        layout->addWidget(marker);
        layout->addWidget(text, 1);
        marker->setVisible(share->remoteAppName != TRQClientInEvent::stopWatchingLabel());
        ui->tableView->setItemWidget(item, cell);
    }
}

void ShareListInRoom::tableViewSelectionDidChange()
{
    const int row = ui->tableView->currentRow();
    if (row < 0 || row >= dataSourse().size())
        return;
    TRQClientInEvent::ClientSyncRequestSetShareInRoom(row);
    didSelectSourse();
}
