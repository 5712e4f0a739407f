#include "ui/widgets/AlertHelper.h"

#include "ui/widgets/Images.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

constexpr char responseProperty[] = "alertResponse";

/// Centres `box` over `owner`, kept on the owner's screen.
void centreOver(QWidget *box, const QWidget *owner)
{
    QRect placed(QPoint(), box->frameGeometry().size());
    placed.moveCenter(owner->frameGeometry().center());
    if (const QScreen *screen = owner->screen()) {
        const QRect room = screen->availableGeometry();
        placed.moveLeft(
            std::max(room.left(), std::min(placed.left(), room.right() + 1 - placed.width())));
        placed.moveTop(
            std::max(room.top(), std::min(placed.top(), room.bottom() + 1 - placed.height())));
    }
    box->move(placed.topLeft());
}

/// An alert stays over the window it belongs to. A window manager places a window that was
/// just shown only some time later, and an alert that comes at once would otherwise open where
/// the window had been put before, in the corner of the screen.
void keepOver(QMessageBox *box, QWidget *owner)
{
    centreOver(box, owner);
    QWindow *handle = owner->windowHandle();
    if (!handle)
        return;
    const auto follow = [box, owner] { centreOver(box, owner); };
    QObject::connect(handle, &QWindow::xChanged, box, follow);
    QObject::connect(handle, &QWindow::yChanged, box, follow);
    QObject::connect(handle, &QWindow::widthChanged, box, follow);
    QObject::connect(handle, &QWindow::heightChanged, box, follow);
}

} // namespace

QMessageBox *AlertHelper::showAlertWithMessage(const QString &message, Completion complete,
                                               QWidget *window)
{
    return showAlertWithTitle(QCoreApplication::translate("AlertHelper", "注意"), message,
                              {QCoreApplication::translate("AlertHelper", "确定")},
                              std::move(complete), window);
}

QMessageBox *AlertHelper::showAlertWithTitle(const QString &title, const QString &message,
                                             const QStringList &buttons, Completion complete,
                                             QWidget *window, const QString &iconName)
{
    if (message.isNull() || buttons.isEmpty())
        return nullptr;
    if (!window)
        window = QApplication::activeWindow();
    auto *box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->setWindowTitle(QApplication::applicationDisplayName());
    box->setText(title);
    box->setInformativeText(message);
    const QIcon icon = Images::icon(iconName.isEmpty() ? QStringLiteral("tips") : iconName);
    box->setIconPixmap(icon.pixmap(QSize(48, 48), box->devicePixelRatioF()));
    QList<QAbstractButton *> added;
    for (const QString &name : buttons) {
        QPushButton *button = box->addButton(name, added.isEmpty() ? QMessageBox::AcceptRole
                                                                   : QMessageBox::RejectRole);
        if (added.isEmpty())
            box->setDefaultButton(button);
        button->setProperty(responseProperty, firstButtonResponse + int(added.size()));
        added.append(button);
    }
    QObject::connect(
        box, &QMessageBox::finished, box, [box, added, complete = std::move(complete)] {
            const qsizetype index = added.indexOf(box->clickedButton());
            if (complete)
                complete(index < 0 ? noButtonResponse : firstButtonResponse + int(index));
        });
    box->open();
    if (window)
        keepOver(box, window->window());
    return box;
}

bool AlertHelper::isSheetShown()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr ||
           qobject_cast<QMessageBox *>(QApplication::activeWindow()) != nullptr;
}

QAbstractButton *AlertHelper::buttonForResponse(const QMessageBox *box, int response)
{
    if (!box || response < firstButtonResponse)
        return nullptr;
    for (QAbstractButton *button : box->buttons())
        if (button->property(responseProperty).toInt() == response)
            return button;
    return nullptr;
}
