#include "AlertHelper.h"

#include "Images.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

constexpr char responseProperty[] = "alertResponse";

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
