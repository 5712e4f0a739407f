#include "ui/invite/QRBackView.h"

#include "ui/widgets/ViewHelper.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace {

/// The card's light grey, which the saved and dragged pictures show too.
const QColor cardGrey(236, 236, 236);

} // namespace

QRBackView::QRBackView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::OpenHandCursor);
    setToolTip(tr("可将二维码拖到文件夹或聊天窗口"));
}

QString QRBackView::cacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/com.Tesvale.Korrin.www/QRCodeImage");
}

QByteArray QRBackView::pngData()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ViewHelper::getImage(this).save(&buffer, "PNG");
    return bytes;
}

QString QRBackView::getImagePath()
{
    const QString folder = cacheFolder();
    if (!QDir().mkpath(folder))
        return {};
    const QString path = folder + QLatin1Char('/') + tr("二维码.png");
    QSaveFile file(path);
    const QByteArray bytes = pngData();
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !file.commit())
        return {};
    return path;
}

QMimeData *QRBackView::dragData()
{
    const QString path = getImagePath();
    if (path.isNull())
        return nullptr;
    auto *mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(path)});
    mime->setImageData(ViewHelper::getImage(this));
    return mime;
}

void QRBackView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), cardGrey);
}

void QRBackView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressPosition = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void QRBackView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) ||
        (event->position().toPoint() - m_pressPosition).manhattanLength() <
            QApplication::startDragDistance())
        return;
    QMimeData *mime = dragData();
    if (!mime)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    const QImage card = ViewHelper::getImage(this);
    drag->setPixmap(QPixmap::fromImage(card.scaledToWidth(120, Qt::SmoothTransformation)));
    drag->setHotSpot(QPoint(60, 60 * card.height() / std::max(1, card.width())));
    drag->exec(Qt::CopyAction);
}
