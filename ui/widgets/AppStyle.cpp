#include "ui/widgets/AppStyle.h"

#include "ui/widgets/DeferredIconEngine.h"

#include <QApplication>
#include <QPointer>
#include <QStyleFactory>
#include <QStyleOption>

AppStyle::AppStyle(QStyle *base)
    : QProxyStyle(base)
{}

void AppStyle::install()
{
    if (qobject_cast<AppStyle *>(QApplication::style()))
        return;
    QApplication::setStyle(new AppStyle(QStyleFactory::create(QApplication::style()->name())));
}

QIcon AppStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption *option,
                             const QWidget *widget) const
{
    if (standardIcon != SP_ToolBarHorizontalExtensionButton &&
        standardIcon != SP_ToolBarVerticalExtensionButton)
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    // Made later, so only the option's direction, which the icon follows, is kept: the option
    // and the widget do not outlive this call.
    const Qt::LayoutDirection direction =
        option ? option->direction : QGuiApplication::layoutDirection();
    return QIcon(
        new DeferredIconEngine([style = QPointer<QStyle>(baseStyle()), standardIcon, direction] {
            if (!style)
                return QIcon();
            QStyleOption made;
            made.direction = direction;
            return style->standardIcon(standardIcon, &made);
        }));
}
