#include "ui/invite/ShareQRCodeWindowController.h"

#include "bridge/Helper.h"
#include "model/AppUser.h"
#include "model/ValueConversion.h"
#include "ui/invite/QRBackView.h"
#include "ui/invite/QRCodec.h"
#include "ui/widgets/ToastView.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_ShareQRCodeWindowController.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMimeData>
#include <QSaveFile>
#include <QStandardPaths>

ShareQRCodeWindowController::ShareQRCodeWindowController(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::ShareQRCodeWindowController>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ViewHelper::setUpWindow(this);
    windowDidLoad();
    setFixedSize(sizeHint());
}

ShareQRCodeWindowController::~ShareQRCodeWindowController() = default;

QRBackView *ShareQRCodeWindowController::qrBackView() const
{
    return ui->qrBackView;
}
QRImageMergeView *ShareQRCodeWindowController::qrCodeImage() const
{
    return ui->qrCodeImage;
}
QLabel *ShareQRCodeWindowController::userName() const
{
    return ui->userName;
}
QLabel *ShareQRCodeWindowController::textLabel() const
{
    return ui->textLabel;
}
QLabel *ShareQRCodeWindowController::link() const
{
    return ui->link;
}
QPushButton *ShareQRCodeWindowController::linkButton() const
{
    return ui->linkButton;
}
QPushButton *ShareQRCodeWindowController::saveButton() const
{
    return ui->saveButton;
}

void ShareQRCodeWindowController::windowDidLoad()
{
    m_codeStr = Helper::getLinkStr();
    ui->qrCodeImage->setPixmap(QPixmap::fromImage(createQRCodeImage()));
    setValidTime();
    ui->userName->setText(AppUser::defaultUser()->displayName);
    QSizePolicy keepRoom = ui->link->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true); // the notice does not move the buttons
    ui->link->setSizePolicy(keepRoom);
    ui->link->hide();
    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(noticeSeconds * 1000);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] { ui->link->hide(); });
    connect(ui->linkButton, &QPushButton::clicked, this, [this] { copyLink(); });
    connect(ui->saveButton, &QPushButton::clicked, this, [this] { savePhoto(); });
}

QImage ShareQRCodeWindowController::createQRCodeImage() const
{
    return QRCodec::encode(m_codeStr, qrSide);
}

QString ShareQRCodeWindowController::getInvalidTime(qint64 periodHours, const QDateTime &now)
{
    const QDateTime expiry = now.toLocalTime().addSecs(periodHours * 3600);
    return tr("%1月%2日 %3前")
        .arg(expiry.date().month())
        .arg(expiry.date().day())
        .arg(expiry.toString(QStringLiteral("HH:mm")));
}

QString ShareQRCodeWindowController::validitySentence(qint64 periodHours, const QDateTime &now)
{
    const QString duration = periodHours % 24 == 0
                                 ? tr("%n天", nullptr, static_cast<int>(periodHours / 24))
                                 : tr("%n小时", nullptr, static_cast<int>(periodHours));
    return tr("该二维码%1内(%2)有效").arg(duration, getInvalidTime(periodHours, now));
}

void ShareQRCodeWindowController::setValidTime()
{
    const qint64 period = ValueConversion::integerValue(AppUser::defaultUser()->period);
    ui->textLabel->setText(validitySentence(period, QDateTime::currentDateTime()));
}

void ShareQRCodeWindowController::copyLink()
{
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setText(Helper::getLinkStr());
    ui->link->show();
    m_noticeTimer.start();
}

void ShareQRCodeWindowController::savePhoto()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    auto *dialog = new QFileDialog(this, tr("保存二维码"), desktop, QStringLiteral("PNG (*.png)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("png"));
    dialog->selectFile(tr("二维码.png"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &path) {
        if (!savePhotoTo(path))
            ToastView::showToastInWindow(this, tr("保存失败"), QStringLiteral("warning"),
                                         ToastView::defaultSeconds);
    });
    dialog->open();
}

bool ShareQRCodeWindowController::savePhotoTo(const QString &path)
{
    const QByteArray bytes = ui->qrBackView->pngData();
    QSaveFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size() && file.commit();
}
