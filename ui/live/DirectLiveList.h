#pragma once

#include <QList>
#include <QTimer>
#include <QWidget>

#include <memory>

class DirectLiveCellView;
class LiveModel;
class PlayDirectLive;
class QAbstractButton;
class QLabel;
class QListWidget;

namespace Ui {
class DirectLiveList;
}

/// The main window's page of the company's current and coming live broadcasts, refreshed
/// while it is shown; choosing one opens its player.
class DirectLiveList final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DirectLiveList)

public:
    static constexpr int refreshIntervalMs = 15000;

    explicit DirectLiveList(QWidget *parent = nullptr);
    ~DirectLiveList() override;

    void getLiveList();
    /// Puts the contact page of the main window back.
    void backAction();
    /// Opens the player for `model` unless its window already plays this very record.
    void slectDirectRoom(const std::shared_ptr<LiveModel> &model);

    const QList<std::shared_ptr<LiveModel>> &dataSourse() const { return m_dataSourse; }
    PlayDirectLive *playWindow() const { return m_playWindow.get(); }
    QListWidget *tableView() const;
    QLabel *noLiveLabel() const;
    QAbstractButton *backButton() const;
    bool isRefreshing() const { return m_timer.isActive(); }
    void setRefreshInterval(int milliseconds) { m_timer.setInterval(milliseconds); }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void viewDidLoad();
    void viewWillAppear();
    void viewWillDisappear();
    void showLiveList(const QVariant &reply);
    void reloadData();
    DirectLiveCellView *addCell();

    std::unique_ptr<Ui::DirectLiveList> ui;
    QList<std::shared_ptr<LiveModel>> m_dataSourse;
    std::unique_ptr<PlayDirectLive> m_playWindow;
    QTimer m_timer;
};
