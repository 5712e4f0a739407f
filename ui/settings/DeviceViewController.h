#pragma once

#include <QHash>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui {
class DeviceViewController;
}
class DevicePreview;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

/// The device page: this machine's microphones, speakers and cameras as the engine lists
/// them, one chosen of each. During a call the engine is told at once.
class DeviceViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DeviceViewController)

public:
    explicit DeviceViewController(QWidget *parent = nullptr);
    ~DeviceViewController() override;

    /// Reads the device lists from the engine and selects the stored choices.
    void getDevices();

    QListWidget *micsTable() const;
    QListWidget *speakersTable() const;
    QListWidget *cameraTable() const;
    QLabel *cameraPreview() const;
    QProgressBar *micLevel() const;
    QPushButton *testSpeaker() const;
    const QStringList &micArray() const { return m_micArray; }
    const QStringList &speakerArray() const { return m_speakerArray; }
    const QStringList &cameraArray() const { return m_cameraArray; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void viewDidLoad();
    void fill(QListWidget *table, const QStringList &names, uint stored);
    /// The user chose `row` in `table`: stored, and pushed to the engine during a call.
    void selectionChanged(QListWidget *table, int row);
    void followPreview();

    std::unique_ptr<Ui::DeviceViewController> ui;
    DevicePreview *m_preview = nullptr;
    /// The row the user last chose in each table since it was filled.
    QHash<QListWidget *, int> m_chosen;
    QStringList m_micArray;
    QStringList m_speakerArray;
    QStringList m_cameraArray;
};
