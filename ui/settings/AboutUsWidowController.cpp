#include "ui/settings/AboutUsWidowController.h"

#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Preferences.h"
#include "model/ValueConversion.h"
#include "net/NetWork.h"
#include "net/ServerLink.h"
#include "net/VersionCheck.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/ToastView.h"
#include "ui_AboutUsWidowController.h"

#include <QCoreApplication>
#include <QUrl>

AboutUsWidowController::AboutUsWidowController(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::AboutUsWidowController>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(size());
    // A translated caption may be longer than its button: widen the button about its centre.
    for (QPushButton *button : {ui->playVideo, ui->checkUpdate}) {
        const int needed = button->sizeHint().width();
        if (needed > button->width())
            button->setGeometry(button->x() - (needed - button->width()) / 2, button->y(), needed,
                                button->height());
    }
    setWindowIcon(Images::icon(QStringLiteral("logo")));
    ui->logoView->setPixmap(Images::pixmap(QStringLiteral("logo"), ui->logoView->size()));
    const QString version = QCoreApplication::applicationVersion();
    ui->versionLabel->setText(version.isEmpty() ? QString() : tr("版本 %1").arg(version));
    connect(ui->checkUpdate, &QPushButton::clicked, this, [this] { checkUpdateAction(); });
    connect(ui->webButton, &QPushButton::clicked, this, [this] { openWeb(); });
    connect(ui->playVideo, &QPushButton::clicked, this, [this] { playNow(); });
    windowDidLoad();
}

AboutUsWidowController::~AboutUsWidowController() = default;

QPushButton *AboutUsWidowController::playVideo() const
{
    return ui->playVideo;
}
QPushButton *AboutUsWidowController::checkUpdate() const
{
    return ui->checkUpdate;
}
QPushButton *AboutUsWidowController::webButton() const
{
    return ui->webButton;
}

void AboutUsWidowController::windowDidLoad()
{
    const bool signedIn = AppStatus::shareStatus()->isSignIn();
    const bool video = signedIn && ValueConversion::integerValue(AppUser::defaultUser()->play) == 1;
    ui->playVideo->setVisible(video);
    if (video)
        ui->checkUpdate->move(checkButtonX, ui->checkUpdate->y());
    else
        ui->checkUpdate->move(width() / 2 - ui->checkUpdate->width() / 2, ui->checkUpdate->y());
    ui->checkUpdate->setVisible(signedIn);

    m_webUrl = Preferences().companySite();
    QFont font = ui->webButton->font();
    font.setPointSize(14);
    font.setUnderline(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    ui->webButton->setFont(font);
    QPalette palette = ui->webButton->palette();
    palette.setColor(QPalette::ButtonText, Qt::blue);
    ui->webButton->setPalette(palette);
    ui->webButton->setStyleSheet(QStringLiteral("color: blue;"));
    ui->webButton->setText(m_webUrl);
}

void AboutUsWidowController::checkUpdateAction()
{
    NetWork *request = VersionCheck::versionRequest();
    request->setSuccessBlock(this, [this](const QVariant &reply) {
        const VersionCheck::Release release = VersionCheck::releaseFromReply(reply);
        if (release.answered)
            showRelease(release.url);
    });
    request->setFailBlock(this, [this](const NetworkError &) {
        ToastView::showToastInWindow(this, tr("发生了错误,检查更新失败了.QAQ"),
                                     QStringLiteral("warning"), ToastView::defaultSeconds);
    });
    request->startRequest();
}

void AboutUsWidowController::showRelease(const QUrl &url)
{
    if (VersionCheck::userChannel() < VersionCheck::firstUpdateChannel) {
        AlertHelper::showAlertWithTitle(tr("提示"), tr("此版本已经是最新版本了,谢谢支持!"),
                                        {tr("确定")}, {}, this);
        return;
    }
    const auto prompt = VersionCheck::promptText(AppUser::defaultUser()->upgradeContent);
    AlertHelper::showAlertWithTitle(
        prompt.title, prompt.message, {tr("立即更新"), tr("暂不升级")},
        [url](int response) {
            // The first button is the tagged update button.
            if (response == AlertHelper::firstButtonResponse && !url.isEmpty())
                ServerLink::open(url);
        },
        this);
}

void AboutUsWidowController::openWeb()
{
    ServerLink::open(QStringLiteral("http://%1").arg(m_webUrl));
}

void AboutUsWidowController::playNow()
{
    ServerLink::open(AppUser::defaultUser()->address);
}
