#pragma once

#include "ScreenSourseModel.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class ScreenSouseViewController;
}
class QListWidget;

/// The things this computer can share: each screen, each window, and a row that stops the
/// share. The first selection acts.
class ScreenSouseViewController final : public QWidget
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

    double maxWidth() const { return m_maxWidth; }
    void setMaxWidth(double width) { m_maxWidth = width; }
    double maxHight() const { return m_maxHight; }
    void setMaxHight(double height) { m_maxHight = height; }
    void setDidSelectSourse(std::function<void()> callback)
    {
        m_didSelectSourse = std::move(callback);
    }

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
    double m_maxWidth = 0;
    double m_maxHight = 0;
    std::function<void()> m_didSelectSourse;
};
