#include "ui/live/DirectLiveCellView.h"

#include "model/LiveModel.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "ui/widgets/Images.h"
#include "ui_DirectLiveCellView.h"

#include <QMouseEvent>
#include <QNetworkReply>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

DirectLiveCellView::DirectLiveCellView(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::DirectLiveCellView>())
{
    ui->setupUi(this);
    awakeFromNib();
}

DirectLiveCellView::~DirectLiveCellView()
{
    m_picture.reset();
    m_decoder.cancel();
    m_decoder.waitForFinished();
}

void DirectLiveCellView::awakeFromNib()
{
    setAttribute(Qt::WA_StyledBackground);
    ui->playButton->setIcon(Images::icon(QStringLiteral("play_hover")));
    connect(ui->playButton, &QPushButton::clicked, this, [this] { playDirect(); });
    connect(&m_decoder, &QFutureWatcher<QImage>::finished, this, [this] {
        if (m_decoder.isCanceled())
            return;
        showPicture(m_decoder.result());
        Q_EMIT pictureDecoded();
    });
}

QLabel *DirectLiveCellView::backImage() const
{
    return ui->backImage;
}
QLabel *DirectLiveCellView::name() const
{
    return ui->name;
}
QLabel *DirectLiveCellView::time() const
{
    return ui->time;
}
QLabel *DirectLiveCellView::state() const
{
    return ui->state;
}
QAbstractButton *DirectLiveCellView::playButton() const
{
    return ui->playButton;
}

QString DirectLiveCellView::timeText(const QString &liveStart, const QString &liveEnd)
{
    return QStringLiteral(" %1 %2-%3")
        .arg(liveStart.section(u' ', 0, 0), liveStart.section(u' ', -1), liveEnd.section(u' ', -1));
}

QColor DirectLiveCellView::comingColor()
{
    const float grey = 0.6235294117647059f;
    return QColor::fromRgbF(grey, grey, grey);
}

QColor DirectLiveCellView::runningColor()
{
    return QColor::fromRgbF(0, 0.7764705882352941f, 1);
}

void DirectLiveCellView::setModel(const std::shared_ptr<LiveModel> &model)
{
    const QString cover = model && !model->liveImgs.isEmpty() ? model->liveImgs.first() : QString();
    // A refresh gives the row a new record of the same broadcast: its picture stays, so that
    // nothing blinks. A row reused for another broadcast must not show the previous picture,
    // nor receive it late.
    const bool sameBroadcast = m_model && model && m_model->liveId == model->liveId;
    if (!sameBroadcast || cover != m_cover)
        forgetPicture();
    m_model = model;
    m_cover = cover;
    if (!model)
        return;
    if (!cover.isEmpty())
        loadPicture(Preferences().liveServiceUrl() + cover);
    ui->name->setText(model->liveName);
    ui->time->setText(timeText(model->liveStart, model->liveEnd));
    const bool coming = model->timestamp > 0;
    ui->state->setText(coming ? tr("即将直播") : tr("正在直播"));
    // The row's style sheet sets the label's font, so its colour is set the same way.
    ui->state->setStyleSheet(
        QStringLiteral("color: %1;").arg((coming ? comingColor() : runningColor()).name()));
}

void DirectLiveCellView::loadPicture(const QString &url)
{
    m_picture.reset(); // the earlier picture is not wanted any more
    const HttpTransport *transport = HttpTransport::instance();
    if (!transport)
        return;
    HttpTransport::Request request;
    request.url = QUrl(url);
    m_picture = transport->send(
        request, {{}, [this](const HttpTransport::Reply &reply) { pictureArrived(reply); }});
}

void DirectLiveCellView::pictureArrived(const HttpTransport::Reply &reply)
{
    m_picture.reset();
    if (reply.error != QNetworkReply::NoError) {
        qCInfo(lcOrvale).noquote() << reply.errorString;
        return;
    }
    // Decoding a large picture would stall the list, so it happens off the main thread.
    m_decoder.setFuture(QtConcurrent::run([data = reply.body] { return QImage::fromData(data); }));
}

void DirectLiveCellView::forgetPicture()
{
    m_picture.reset();
    m_decoder.cancel();
    m_shownImage = {};
    ui->backImage->setPixmap(
        Images::pixmap(QStringLiteral("playimg"), ui->backImage->size(), devicePixelRatioF()));
}

void DirectLiveCellView::showPicture(const QImage &image)
{
    if (image.isNull() || image == m_shownImage)
        return;
    m_shownImage = image;
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(image.scaled(
        ui->backImage->size() * ratio, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    ui->backImage->setPixmap(pixmap);
}

void DirectLiveCellView::playDirect()
{
    if (m_slectDirectRoom && m_model)
        m_slectDirectRoom(m_model);
}

void DirectLiveCellView::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        playDirect();
}
