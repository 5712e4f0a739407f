#pragma once

#include "model/ShareListInRoomModel.h"

#include "ui/conference/SourceListViewController.h"
#include <memory>

namespace Ui {
class ShareListInRoom;
}
class QListWidget;

/// The shares other participants send, and a row that stops watching. The first selection
/// switches the watched share.
class ShareListInRoom final : public SourceListViewController
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareListInRoom)

public:
    static constexpr int markerTag = 100;

    explicit ShareListInRoom(QWidget *parent = nullptr);
    ~ShareListInRoom() override;

    const QList<std::shared_ptr<ShareListInRoomModel>> &dataSourse();

    QListWidget *tableView() const;
    /// The cell of a row, with its text and its marker view (tag 100).
    QWidget *cellAt(int row) const;
    void tableViewSelectionDidChange();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void reload();

    std::unique_ptr<Ui::ShareListInRoom> ui;
    QList<std::shared_ptr<ShareListInRoomModel>> m_dataSourse;
    bool m_fetched = false;
    bool m_loaded = false;
};
