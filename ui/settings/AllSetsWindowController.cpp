#include "ui/settings/AllSetsWindowController.h"

#include "model/AppStatus.h"
#include "ui/settings/ChangePasswordViewController.h"
#include "ui/settings/DeviceViewController.h"
#include "ui/settings/GeneralSetsViewController.h"
#include "ui/settings/VideoQualityViewController.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_AllSetsWindowController.h"

#include <QLayout>

#include <functional>

AllSetsWindowController::AllSetsWindowController(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::AllSetsWindowController>())
{
    ui->setupUi(this);
    ViewHelper::setUpWindow(this);
    windowDidLoad();
}

AllSetsWindowController::~AllSetsWindowController() = default;

QTabWidget *AllSetsWindowController::tabView() const
{
    return ui->tabView;
}

QWidget *AllSetsWindowController::pageAt(int index) const
{
    QWidget *tab = ui->tabView->widget(index);
    if (!tab || !tab->layout() || tab->layout()->count() == 0)
        return nullptr;
    return tab->layout()->itemAt(0)->widget();
}

void AllSetsWindowController::windowDidLoad()
{
    if (!AppStatus::shareStatus()->isSignIn())
        delete ui->tabView->widget(ui->tabView->count() - 1); // its tab goes with it
    const std::function<QWidget *(QWidget *)> pages[] = {
        [](QWidget *p) { return new DeviceViewController(p); },
        [](QWidget *p) { return new VideoQualityViewController(p); },
        [](QWidget *p) { return new GeneralSetsViewController(p); },
        [](QWidget *p) { return new ChangePasswordViewController(p); },
    };
    for (int i = 0; i < ui->tabView->count(); ++i) {
        QWidget *tab = ui->tabView->widget(i);
        tab->layout()->addWidget(pages[i](tab));
    }
}
