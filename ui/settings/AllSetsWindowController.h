#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class AllSetsWindowController;
}
class QTabWidget;

/// The settings window: devices, video quality, general options and, for a signed-in user,
/// the password change, one page per tab. Each opening builds fresh pages.
class AllSetsWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AllSetsWindowController)

public:
    explicit AllSetsWindowController(QWidget *parent = nullptr);
    ~AllSetsWindowController() override;

    QTabWidget *tabView() const;
    /// The page controller shown in tab `index`, or null.
    QWidget *pageAt(int index) const;

private:
    void windowDidLoad();

    std::unique_ptr<Ui::AllSetsWindowController> ui;
};
