#include "model/ScreenSourseModel.h"

ScreenSourseModel::ScreenSourseModel(QObject *parent)
    : RootModel(parent)
{}

QString ScreenSourseModel::describeField(const QString &key) const
{
    if (key != u"ConfRect")
        return RootModel::describeField(key);
    return QStringLiteral("{xPos = %1; yPos = %2; width = %3; height = %4}")
        .arg(confRect.xPos)
        .arg(confRect.yPos)
        .arg(confRect.width)
        .arg(confRect.height);
}
