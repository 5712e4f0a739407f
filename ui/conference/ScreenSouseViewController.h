#pragma once

#include "model/ScreenSourseModel.h"

#include "ui/conference/SourceListViewController.h"
#include <memory>

namespace Ui {
class ScreenSouseViewController;
}
class QListWidget;

/// The things this computer can share: each screen, each window, and a row that stops the
/// share. The first selection acts.
class ScreenSouseViewController final : public SourceListViewController
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScreenSouseViewController)

public:
    explicit ScreenSouseViewController(QWidget *parent = nullptr);
    ~ScreenSouseViewController() override;

    /// Fetched from the engine on first access, then kept.
    const QList<std::shared_ptr<ScreenSourseModel>> &dataSourse();
    /// "  <app>-<window>", or "  <app>" for a window titled with a single blank.
    static QString rowText(const ScreenSourseModel &source);

    QListWidget *tableView() const;
    void tableViewSelectionDidChange();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void viewDidLoad();

    std::unique_ptr<Ui::ScreenSouseViewController> ui;
    QList<std::shared_ptr<ScreenSourseModel>> m_dataSourse;
    bool m_fetched = false;
    bool m_loaded = false;
};
