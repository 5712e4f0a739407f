#include "TextTable.h"

#include <QHash>

TextTable::TextTable(QObject *parent)
    : QTranslator(parent)
{}

QString TextTable::translate(const char *context, const char *sourceText, const char *, int) const
{
    static const QHash<QString, QString> table{
        {QStringLiteral("分机号"), QStringLiteral("分机号：")},
        {QStringLiteral("租客"), QStringLiteral("租客：")},
        {QStringLiteral("邮箱"), QStringLiteral("邮箱：")},
        {QStringLiteral("状态"), QStringLiteral("状态：")},
    };
    if (qstrcmp(context, "Orvale") != 0)
        return {};
    return table.value(QString::fromUtf8(sourceText));
}
