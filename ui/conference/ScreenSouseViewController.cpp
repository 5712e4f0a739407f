#include "ui/conference/ScreenSouseViewController.h"

#include "bridge/TRQClientInEvent.h"
#include "ui_ScreenSouseViewController.h"

#include <QListWidget>

ScreenSouseViewController::ScreenSouseViewController(QWidget *parent)
    : SourceListViewController(parent)
    , ui(std::make_unique<Ui::ScreenSouseViewController>())
{
    ui->setupUi(this);
    ui->tableView->setMinimumSize(1, 1); // the pop-up's size is the control bar's to choose
    connect(ui->tableView, &QListWidget::itemSelectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
}

ScreenSouseViewController::~ScreenSouseViewController() = default;

QListWidget *ScreenSouseViewController::tableView() const
{
    return ui->tableView;
}

const QList<std::shared_ptr<ScreenSourseModel>> &ScreenSouseViewController::dataSourse()
{
    if (!m_fetched) {
        m_fetched = true;
        m_dataSourse = TRQClientInEvent::ClientSyncRequestGetShareList();
    }
    return m_dataSourse;
}

QString ScreenSouseViewController::rowText(const ScreenSourseModel &source)
{
    if (source.appWindowName == u" ")
        return QStringLiteral("  %1").arg(source.appName);
    return QStringLiteral("  %1-%2").arg(source.appName, source.appWindowName);
}

void ScreenSouseViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_loaded)
        viewDidLoad();
}

void ScreenSouseViewController::viewDidLoad()
{
    m_loaded = true;
    const QSignalBlocker blocker(ui->tableView);
    ui->tableView->clear();
    // Up to eight rows fit the pop-up exactly; more scroll.
    ui->tableView->setVerticalScrollBarPolicy(dataSourse().size() < 9 ? Qt::ScrollBarAlwaysOff
                                                                      : Qt::ScrollBarAsNeeded);
    if (maxWidth() > 0)
        ui->tableView->setMinimumWidth(int(maxWidth()));
    for (const auto &source : dataSourse()) {
        auto *item = new QListWidgetItem(rowText(*source), ui->tableView);
        item->setSizeHint(QSize(int(maxWidth()), 40));
    }
}

void ScreenSouseViewController::tableViewSelectionDidChange()
{
    const int row = ui->tableView->currentRow();
    if (row < 0 || row >= dataSourse().size())
        return;
    TRQClientInEvent::ClientSyncRequestSetShareWithShareArray(dataSourse(), row);
    didSelectSourse();
}
