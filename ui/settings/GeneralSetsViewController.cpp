#include "ui/settings/GeneralSetsViewController.h"

#include "bridge/ConfigurationPusher.h"
#include "model/AppStatus.h"
#include "model/Preferences.h"
#include "ui_GeneralSetsViewController.h"

#include <QCheckBox>

namespace {

using Getter = int (Preferences::*)() const;
using Setter = void (Preferences::*)(int);

} // namespace

GeneralSetsViewController::GeneralSetsViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::GeneralSetsViewController>())
{
    ui->setupUi(this);
    viewDidLoad();
}

GeneralSetsViewController::~GeneralSetsViewController() = default;

QCheckBox *GeneralSetsViewController::autoSpeaker() const
{
    return ui->autoSpeaker;
}
QCheckBox *GeneralSetsViewController::autoMic() const
{
    return ui->autoMic;
}
QCheckBox *GeneralSetsViewController::searchOutsideRoom() const
{
    return ui->searchOutsideRoom;
}
QCheckBox *GeneralSetsViewController::autoAnswer() const
{
    return ui->autoAnswer;
}
QCheckBox *GeneralSetsViewController::useProxy() const
{
    return ui->useProxy;
}

void GeneralSetsViewController::viewDidLoad()
{
    const struct
    {
        QCheckBox *box;
        Getter get;
        Setter set;
    } switches[] = {
        {ui->autoSpeaker, &Preferences::enableEchoCancellation,
         &Preferences::setEnableEchoCancellation},
        {ui->autoMic, &Preferences::enableAudioAGC, &Preferences::setEnableAudioAGC},
        {ui->searchOutsideRoom, &Preferences::searchOutsideRoom,
         &Preferences::setSearchOutsideRoom},
        {ui->autoAnswer, &Preferences::autoAnswer, &Preferences::setAutoAnswer},
        {ui->useProxy, &Preferences::alwaysUseProxy, &Preferences::setAlwaysUseProxy},
    };
    const Preferences prefs;
    for (const auto &entry : switches) {
        entry.box->setChecked((prefs.*entry.get)() != 0);
        // `clicked` only: setting the state above is not a choice of the user.
        connect(entry.box, &QCheckBox::clicked, this, [set = entry.set](bool on) {
            Preferences stored;
            (stored.*set)(on ? 1 : 0);
            stored.sync();
            // A call in progress follows the voice processing at once.
            if (AppStatus::shareStatus()->isInConference())
                ConfigurationPusher::push();
        });
    }
}
