#pragma once

#include "ShareListInRoomModel.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class ShareListInRoom;
}
class QListWidget;

/// The shares other participants send, and a row that stops watching. The first selection
/// switches the watched share.
class ShareListInRoom final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareListInRoom)

public:
    static constexpr int markerTag = 100;

    explicit ShareListInRoom(QWidget *parent = nullptr);
    ~ShareListInRoom() override;

    const QList<std::shared_ptr<ShareListInRoomModel>> &dataSourse();

    double maxWidth() const { return m_maxWidth; }
    void setMaxWidth(double width) { m_maxWidth = width; }
    double maxHight() const { return m_maxHight; }
    void setMaxHight(double height) { m_maxHight = height; }
    void setDidSelectSourse(std::function<void()> callback)
    {
        m_didSelectSourse = std::move(callback);
    }

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
    double m_maxWidth = 0;
    double m_maxHight = 0;
    std::function<void()> m_didSelectSourse;
};
