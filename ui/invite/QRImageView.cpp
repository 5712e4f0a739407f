#include "ui/invite/QRImageView.h"

#include "bridge/Helper.h"
#include "model/Log.h"
#include "ui/invite/QRCodec.h"
#include "ui/widgets/ColorHelper.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString linkPath = QStringLiteral("pages/Kwuser/l.do?key=");

/// Control characters, blanks and markup never occur in a link of ours.
bool hasHostileCharacters(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c.isSpace() || QStringView(u"<>\"'`\\{}|^").contains(c))
            return true;
    }
    return false;
}

bool isWebAddress(const QUrl &url)
{
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

/// The local files named on a clipboard or in a drop.
QStringList localFiles(const QMimeData *mime)
{
    QStringList files;
    if (!mime)
        return files;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    }
    return files;
}

/// A text that looks like an invitation link, trimmed; a null text otherwise.
QString linkText(const QMimeData *mime)
{
    if (!mime || !mime->hasText())
        return {};
    const QString text = mime->text().trimmed();
    return text.contains(QLatin1String("pages/Kwuser/l.do?")) ? text : QString();
}

} // namespace

QRImageView::QRImageView(QWidget *parent)
    : QLabel(parent)
{
    setAcceptDrops(true);
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
    setText(placeholder());
    setObjectName(QStringLiteral("qrImage"));
    setStyleSheet(QStringLiteral("QRImageView { background: white; color: #8a93a3;"
                                 " border: 1px solid %1; border-radius: 6px; }")
                      .arg(ColorHelper::mainColor().name()));
    m_pasteAction = new QAction(tr("粘贴"), this);
    m_pasteAction->setShortcut(QKeySequence::Paste);
    m_pasteAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_pasteAction, &QAction::triggered, this, [this] { pasteNow(); });
    addAction(m_pasteAction);
    m_menu = new QMenu(tr("粘贴"), this);
    m_menu->addAction(m_pasteAction);
}

QRImageView::~QRImageView() = default;

void QRImageView::setEditable(bool editable)
{
    m_editable = editable;
    setAcceptDrops(editable);
    m_pasteAction->setEnabled(editable);
}

void QRImageView::setImage(const QImage &image)
{
    read(image, {}, false);
}

void QRImageView::setImageFile(const QString &path)
{
    read({}, path, false);
}

void QRImageView::pasteNow()
{
    if (!m_editable)
        return;
    const QMimeData *mime = QApplication::clipboard()->mimeData();
    if (mime && mime->hasImage()) {
        setImage(qvariant_cast<QImage>(mime->imageData()));
        return;
    }
    const QString link = linkText(mime);
    if (!link.isNull()) {
        cancelReading();
        m_shown = {};
        showPicture();
        takeCodeText(link);
        return;
    }
    // A file copied in the file manager is no picture; the retry loads it.
    setImage({});
}

void QRImageView::cancelReading()
{
    m_retryFiles.clear();
    m_flag = false;
    m_watcher.reset();
}

void QRImageView::read(const QImage &image, const QString &path, bool retrying)
{
    // A newer picture replaces the outcome of an older one still being read.
    if (!retrying)
        cancelReading();
    m_watcher = std::make_unique<QFutureWatcher<Outcome>>();
    QFutureWatcher<Outcome> *watcher = m_watcher.get();
    connect(watcher, &QFutureWatcher<Outcome>::finished, this, [this, watcher] {
        if (watcher != m_watcher.get())
            return;
        m_watcher.release()->deleteLater(); // its signal runs now
        apply(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([image, path] {
        Outcome outcome;
        outcome.image = path.isEmpty() ? QRCodec::boundedImage(image) : QRCodec::loadImage(path);
        outcome.text = QRCodec::decode(outcome.image);
        return outcome;
    }));
}

void QRImageView::apply(const Outcome &outcome)
{
    ++m_readCount;
    m_shown = outcome.image;
    showPicture();
    if (!outcome.text.isNull())
        takeCodeText(outcome.text);
    else
        report(noCodeText());
    if (m_flag)
        retryNext();
    else if (outcome.text.isNull())
        startRetry();
}

void QRImageView::startRetry()
{
    m_flag = true;
    m_retryFiles = localFiles(QApplication::clipboard()->mimeData());
    retryNext();
}

void QRImageView::retryNext()
{
    if (m_retryFiles.isEmpty()) {
        m_flag = false;
        return;
    }
    read({}, m_retryFiles.takeFirst(), true);
}

void QRImageView::takeCodeText(const QString &text)
{
    if (text.size() > QRCodec::maxTextLength || hasHostileCharacters(text) ||
        !text.contains(linkPath) || text.contains(QLatin1String("&s=1"))) {
        report(foreignCodeText());
        return;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!isWebAddress(url) || !url.path().endsWith(QLatin1String("/pages/Kwuser/l.do"))) {
        report(foreignCodeText());
        return;
    }
    analyzingResultStr(text);
}

void QRImageView::analyzingResultStr(const QString &text)
{
    qCInfo(lcOrvale).noquote() << QStringLiteral("analyzingResultStr %1").arg(text);
    const bool complete =
        text.contains(QLatin1String("key=")) && text.contains(QLatin1String("portal=")) &&
        text.contains(QLatin1String("pin=")) && text.contains(QLatin1String("period"));
    if (!complete || text.contains(QLatin1String("&s=1"))) {
        report(Helper::errorNotOurs());
        return;
    }
    const QVariantMap result = Helper::analyzingURLStr(text);
    if (result.size() < 3) {
        report(result.value(QStringLiteral("error"), Helper::errorNotOurs()).toString());
        return;
    }
    const QString key = result.value(QStringLiteral("key")).toString();
    const QString portal = result.value(QStringLiteral("portal")).toString();
    const QString pin = result.value(QStringLiteral("pin")).toString();
    // The room is entered at the portal the link names. That is the deployment's portal, which
    // may well be on another host than the sign-in address the link itself starts with.
    if (hasHostileCharacters(key + portal + pin) || !isWebAddress(QUrl(portal, QUrl::StrictMode))) {
        report(Helper::errorNotOurs());
        return;
    }
    report(acceptedText());
    if (m_success)
        m_success({{QStringLiteral("roomKey"), key},
                   {QStringLiteral("portal"), portal},
                   {QStringLiteral("pin"), pin}});
}

void QRImageView::report(const QString &message)
{
    if (m_imageResult)
        m_imageResult(message);
}

void QRImageView::showPicture()
{
    if (m_shown.isNull()) {
        setPixmap({});
        setText(placeholder());
        return;
    }
    const QSize room = contentsRect().size() - QSize(12, 12);
    setPixmap(QPixmap::fromImage(m_shown.scaled(room.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio,
                                                Qt::SmoothTransformation)));
}

void QRImageView::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    if (!m_shown.isNull())
        showPicture();
}

void QRImageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        m_menu->popup(mapToGlobal(QPoint(0, 0)));
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void QRImageView::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (m_editable && (mime->hasImage() || !localFiles(mime).isEmpty() || !linkText(mime).isNull()))
        event->acceptProposedAction();
}

void QRImageView::dropEvent(QDropEvent *event)
{
    if (!m_editable)
        return;
    const QMimeData *mime = event->mimeData();
    const QStringList files = localFiles(mime);
    if (!files.isEmpty())
        setImageFile(files.first());
    else if (mime->hasImage())
        setImage(qvariant_cast<QImage>(mime->imageData()));
    else if (!linkText(mime).isNull()) {
        cancelReading();
        takeCodeText(linkText(mime));
    } else
        return;
    event->acceptProposedAction();
}
