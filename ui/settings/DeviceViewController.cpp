#include "ui/settings/DeviceViewController.h"

#include "bridge/ConfigurationPusher.h"
#include "bridge/NotificationCenter.h"
#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/Preferences.h"
#include "ui/settings/DevicePreview.h"
#include "ui_DeviceViewController.h"

#include <QSignalBlocker>

DeviceViewController::DeviceViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::DeviceViewController>())
{
    ui->setupUi(this);
    m_preview = new DevicePreview(ui->cameraPreview, ui->micLevel, this);
    viewDidLoad();
}

DeviceViewController::~DeviceViewController() = default;

QListWidget *DeviceViewController::micsTable() const
{
    return ui->micsTable;
}
QListWidget *DeviceViewController::speakersTable() const
{
    return ui->speakersTable;
}
QListWidget *DeviceViewController::cameraTable() const
{
    return ui->cameraTable;
}
QLabel *DeviceViewController::cameraPreview() const
{
    return ui->cameraPreview;
}
QProgressBar *DeviceViewController::micLevel() const
{
    return ui->micLevel;
}
QPushButton *DeviceViewController::testSpeaker() const
{
    return ui->testSpeaker;
}

void DeviceViewController::viewDidLoad()
{
    for (QListWidget *table : {ui->micsTable, ui->speakersTable, ui->cameraTable}) {
        connect(table, &QListWidget::currentRowChanged, this,
                [this, table](int row) { selectionChanged(table, row); });
        // The row shown may stand for a stored index past the list: a click on it chooses it.
        connect(table, &QListWidget::clicked, this,
                [this, table](const QModelIndex &index) { selectionChanged(table, index.row()); });
    }
    connect(ui->testSpeaker, &QPushButton::clicked, this, [this] {
        m_preview->playTestSound(ui->speakersTable->currentItem()
                                     ? ui->speakersTable->currentItem()->text()
                                     : QString());
    });
    getDevices();
    NotificationCenter::defaultCenter()->addObserver(
        NotificationCenter::deviceChange, this, [this](const Notification &) { getDevices(); });
}

void DeviceViewController::getDevices()
{
    const QList<QStringList> devices = TRQClientInEvent::ClientSyncRequestGetDevice();
    m_micArray = devices.value(0);
    m_speakerArray = devices.value(1);
    m_cameraArray = devices.value(2);
    const Preferences prefs;
    fill(ui->micsTable, m_micArray, prefs.selectedMicDeviceNumber());
    fill(ui->speakersTable, m_speakerArray, prefs.selectedSpeakerDeviceNumber());
    fill(ui->cameraTable, m_cameraArray, prefs.selectedCameraDeviceNumber());
    followPreview();
}

void DeviceViewController::fill(QListWidget *table, const QStringList &names, uint stored)
{
    m_chosen.remove(table);
    // Filling is not a choice of the user: nothing is stored or pushed.
    const QSignalBlocker blocker(table);
    table->clear();
    table->addItems(names);
    if (!names.isEmpty())
        table->setCurrentRow(stored < uint(names.size()) ? int(stored) : 0);
}

void DeviceViewController::selectionChanged(QListWidget *table, int row)
{
    if (row < 0 || m_chosen.value(table, -1) == row)
        return; // a click on the row a key or the same click just chose
    m_chosen.insert(table, row);
    Preferences prefs;
    if (table == ui->micsTable)
        prefs.setSelectedMicDeviceNumber(uint(row));
    else if (table == ui->speakersTable)
        prefs.setSelectedSpeakerDeviceNumber(uint(row));
    else
        prefs.setSelectedCameraDeviceNumber(uint(row));
    prefs.sync();
    if (AppStatus::shareStatus()->isInConference())
        ConfigurationPusher::push();
    followPreview();
}

void DeviceViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    followPreview();
}

void DeviceViewController::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_preview->stop();
}

void DeviceViewController::followPreview()
{
    if (!isVisible())
        return;
    const auto current = [](QListWidget *table) {
        return table->currentItem() ? table->currentItem()->text() : QString();
    };
    // In a call the engine holds the devices; the page only shows the choice then.
    if (AppStatus::shareStatus()->isInConference()) {
        m_preview->stop();
        return;
    }
    m_preview->follow(current(ui->cameraTable), current(ui->micsTable));
}
