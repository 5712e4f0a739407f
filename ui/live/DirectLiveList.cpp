#include "ui/live/DirectLiveList.h"

#include "model/AppUser.h"
#include "model/LiveModel.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "net/NetWork.h"
#include "ui/live/DirectLiveCellView.h"
#include "ui/live/PlayDirectLive.h"
#include "ui/main/ContactWindowController.h"
#include "ui/widgets/Images.h"
#include "ui_DirectLiveList.h"

#include <QLabel>
#include <QListWidget>

DirectLiveList::DirectLiveList(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::DirectLiveList>())
{
    ui->setupUi(this);
    viewDidLoad();
}

DirectLiveList::~DirectLiveList() = default;

QListWidget *DirectLiveList::tableView() const
{
    return ui->tableView;
}
QLabel *DirectLiveList::noLiveLabel() const
{
    return ui->noLiveLabel;
}
QAbstractButton *DirectLiveList::backButton() const
{
    return ui->backButton;
}

void DirectLiveList::viewDidLoad()
{
    setAttribute(Qt::WA_StyledBackground);
    ui->backButton->setIcon(Images::icon(QStringLiteral("back")));
    ui->noLiveLabel->hide();
    m_timer.setInterval(refreshIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { getLiveList(); });
    connect(ui->backButton, &QPushButton::clicked, this, [this] { backAction(); });
}

void DirectLiveList::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    viewWillAppear();
}

void DirectLiveList::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    viewWillDisappear();
}

void DirectLiveList::viewWillAppear()
{
    m_timer.start();
    getLiveList();
}

void DirectLiveList::viewWillDisappear()
{
    m_timer.stop();
}

void DirectLiveList::getLiveList()
{
    const QString url =
        Preferences().liveServiceUrl() +
        QStringLiteral("/rest/LiveService/getLiveList/%1").arg(AppUser::defaultUser()->coId);
    NetWork *request = NetWork::initWithJsonReturnUrlString(url, {});
    request->setSuccessBlock(this, [this](const QVariant &reply) { showLiveList(reply); });
    request->setFailBlock(
        this, [](const NetworkError &error) { qCInfo(lcOrvale).noquote() << error.message; });
}

void DirectLiveList::showLiveList(const QVariant &reply)
{
    if (reply.typeId() == QMetaType::QVariantMap) {
        ui->noLiveLabel->setText(reply.toMap().value(QStringLiteral("msg")).toString());
        ui->noLiveLabel->show();
        return;
    }
    m_dataSourse.clear();
    for (const QVariant &element : reply.toList()) {
        auto model = std::make_shared<LiveModel>();
        model->setValuesForKeysWithDictionary(element.toMap());
        m_dataSourse.append(model);
    }
    ui->noLiveLabel->hide();
    reloadData();
}

void DirectLiveList::reloadData()
{
    // Rows are kept and given their new records, so that a refresh does not make the pictures
    // blink: a row shows a downloaded picture only when it differs from the one it shows.
    QListWidget *table = ui->tableView;
    while (table->count() > m_dataSourse.size())
        delete table->takeItem(table->count() - 1);
    for (qsizetype row = 0; row < m_dataSourse.size(); ++row) {
        auto *cell = row < table->count()
                         ? qobject_cast<DirectLiveCellView *>(table->itemWidget(table->item(row)))
                         : addCell();
        cell->setModel(m_dataSourse[row]);
        // The row's look is its cell widget; screen readers read the item.
        table->item(int(row))->setData(
            Qt::AccessibleTextRole,
            tr("%1，%2，%3")
                .arg(cell->name()->text(), cell->state()->text(), cell->time()->text().trimmed()));
    }
}

DirectLiveCellView *DirectLiveList::addCell()
{
    auto *cell = new DirectLiveCellView;
    cell->setSlectDirectRoom(
        [this](const std::shared_ptr<LiveModel> &chosen) { slectDirectRoom(chosen); });
    auto *item = new QListWidgetItem(ui->tableView);
    item->setFlags(Qt::ItemIsEnabled);
    item->setSizeHint(QSize(0, cell->maximumHeight()));
    ui->tableView->setItemWidget(item, cell);
    return cell;
}

void DirectLiveList::slectDirectRoom(const std::shared_ptr<LiveModel> &model)
{
    if (m_playWindow && m_playWindow->model() == model)
        return;
    if (m_playWindow)
        m_playWindow->close();
    m_playWindow = std::make_unique<PlayDirectLive>(model);
    m_playWindow->show();
}

void DirectLiveList::backAction()
{
    if (auto *main = qobject_cast<ContactWindowController *>(window()))
        main->showViewController(0, [] { return nullptr; });
}
