#include "ui/settings/VideoQualityViewController.h"

#include "bridge/ConfigurationPusher.h"
#include "model/AppStatus.h"
#include "model/Preferences.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_VideoQualityViewController.h"

#include <QButtonGroup>

VideoQualityViewController::VideoQualityViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::VideoQualityViewController>())
{
    ui->setupUi(this);
    // A call in progress follows a chosen level at once.
    const auto pushInCall = [] {
        if (AppStatus::shareStatus()->isInConference())
            ConfigurationPusher::push();
    };
    connect(ui->mainButtons, &QButtonGroup::buttonClicked, this,
            [this, pushInCall](QAbstractButton *button) {
                selectOne(button);
                pushInCall();
            });
    connect(ui->specialButtons, &QButtonGroup::buttonClicked, this,
            [this, pushInCall](QAbstractButton *button) {
                selectSpecial(button);
                pushInCall();
            });
    viewDidLoad();
}

VideoQualityViewController::~VideoQualityViewController() = default;

QWidget *VideoQualityViewController::specialView() const
{
    return ui->specialView;
}

QAbstractButton *VideoQualityViewController::buttonWithTag(int tag) const
{
    return qobject_cast<QAbstractButton *>(ViewHelper::viewWithTag(this, tag));
}

void VideoQualityViewController::viewDidLoad()
{
    const int level = Preferences().videoPreferences();
    if (level <= highestMainLevel) {
        QAbstractButton *button = buttonWithTag(levelTagBase + std::max(level, 0));
        button->setChecked(true);
        selectOne(button);
        return;
    }
    QAbstractButton *more = buttonWithTag(moreTag);
    more->setChecked(true);
    selectOne(more);
    // A level this window does not know (a newer version stored it) checks nothing extra.
    if (QAbstractButton *special = buttonWithTag(levelTagBase + level)) {
        special->setChecked(true);
        selectSpecial(special);
    }
}

void VideoQualityViewController::selectOne(QAbstractButton *sender)
{
    const int tag = ViewHelper::tag(sender);
    ui->specialView->setVisible(tag == moreTag);
    if (tag != moreTag)
        Preferences().setVideoPreferences(tag - levelTagBase);
}

void VideoQualityViewController::selectSpecial(QAbstractButton *sender)
{
    Preferences().setVideoPreferences(ViewHelper::tag(sender) - levelTagBase);
}
