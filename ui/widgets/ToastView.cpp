#include "ui/widgets/ToastView.h"

#include "net/StringHelper.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_ToastView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cmath>

ToastView::ToastView(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ToastView>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

ToastView::~ToastView() = default;

QLabel *ToastView::imageView() const
{
    return ui->imageView;
}

QLabel *ToastView::label() const
{
    return ui->label;
}

ToastView *ToastView::toast()
{
    return new ToastView;
}

ToastView *ToastView::showToastWithString(const QString &text)
{
    return showToastWithString(text, QString(), defaultSeconds);
}

ToastView *ToastView::showToastWithString(const QString &text, const QString &imageName)
{
    return showToastWithString(text, imageName, defaultSeconds);
}

ToastView *ToastView::showToastWithString(const QString &text, const QString &imageName,
                                          double seconds)
{
    return showToastInWindow(QApplication::activeWindow(), text, imageName, seconds);
}

ToastView *ToastView::showToastInWindow(QWidget *window, const QString &text,
                                        const QString &imageName, double seconds)
{
    if (!window)
        return nullptr;
    if (shownIn(window))
        return nullptr;
    ToastView *view = toast();
    ViewHelper::setTag(view, toastTag);
    view->setParent(window);
    view->label()->setText(text);
    const QString image = imageName.isEmpty() ? QStringLiteral("addSucess") : imageName;
    view->imageView()->setPixmap(
        Images::pixmap(image, view->imageView()->size(), window->devicePixelRatioF()));
    const double textWidth = QFontMetricsF(view->label()->font()).horizontalAdvance(text);
    const int width = int(std::ceil(textWidth + view->label()->x() + 32.0));
    view->resize(width, view->height());
    view->label()->resize(int(std::ceil(textWidth)) + 4, view->height());
    view->move((window->width() - width) / 2, (window->height() - view->height()) / 2);
    view->show();
    view->raise();
    QTimer::singleShot(int(std::lround(seconds * 1000)), view, &QObject::deleteLater);
    return view;
}

ToastView *ToastView::shownIn(const QWidget *window)
{
    return window ? qobject_cast<ToastView *>(ViewHelper::viewWithTag(window, toastTag)) : nullptr;
}

void ToastView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(rect(), 5.0, 5.0);
    painter.fillPath(path, QColor(0, 0, 0, int(0.75 * 255)));
}
