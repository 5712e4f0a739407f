#include "model/ValueConversion.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace ValueConversion {

qint64 leadingInteger(QStringView text)
{
    text = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 result = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        const int digit = text[i].unicode() - '0';
        if (result > (std::numeric_limits<qint64>::max() - digit) / 10)
            return negative ? std::numeric_limits<qint64>::min()
                            : std::numeric_limits<qint64>::max();
        result = result * 10 + digit;
    }
    return negative ? -result : result;
}

bool textTruth(QStringView text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return false;
    const QChar first = text.front().toLower();
    if (first == u't' || first == u'y')
        return true;
    return leadingInteger(text) != 0;
}

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

QString numberText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 17);
    }
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UInt:
        return QString::number(value.toULongLong());
    default:
        return QString::number(value.toLongLong());
    }
}

static qint64 integerOf(const QVariant &value, bool *ok)
{
    *ok = true;
    if (value.typeId() == QMetaType::QString)
        return leadingInteger(value.toString());
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double d = value.toDouble();
        if (!std::isfinite(d)) {
            *ok = false;
            return 0;
        }
        if (d >= 9.2e18)
            return std::numeric_limits<qint64>::max();
        if (d <= -9.2e18)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(d);
    }
    if (isNumber(value))
        return value.toLongLong();
    *ok = false;
    return 0;
}

qint64 integerValue(const QVariant &value)
{
    bool ok = false;
    const qint64 integer = integerOf(value, &ok);
    return ok ? integer : 0;
}

static QVariant textField(const QVariant &value)
{
    // A text that arrived is present, even when empty.
    if (value.typeId() == QMetaType::QString)
        return value.toString().isNull() ? QString(QLatin1String("")) : value;
    if (isNumber(value))
        return numberText(value);
    if (value.typeId() == QMetaType::QVariantMap && value.toMap().isEmpty())
        return QString(QLatin1String("")); // an empty XML element reads as empty text
    if (value.typeId() == QMetaType::Nullptr)
        return QVariant(QString()); // JSON null: the field becomes absent
    return {};
}

static QVariant numberObjectField(const QVariant &value)
{
    if (isNumber(value))
        return value;
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const QString text = value.toString().trimmed();
        const qlonglong integer = text.toLongLong(&ok);
        if (ok)
            return integer;
        const double d = text.toDouble(&ok);
        if (ok)
            return d;
        return value;
    }
    return {};
}

QVariant forField(QMetaType type, const QVariant &value)
{
    bool ok = false;
    switch (type.id()) {
    case QMetaType::QString:
        return textField(value);
    case QMetaType::QVariant:
        return numberObjectField(value);
    case QMetaType::Bool:
        if (value.typeId() == QMetaType::QString)
            return textTruth(value.toString());
        if (isNumber(value))
            return integerOf(value, &ok) != 0 || value.toBool();
        return {};
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const qint64 integer = integerOf(value, &ok);
        if (!ok)
            return {};
        QVariant result(integer);
        result.convert(type);
        return result;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        if (value.typeId() == QMetaType::QString)
            return value.toString().trimmed().toDouble();
        if (isNumber(value))
            return value.toDouble();
        return {};
    case QMetaType::QStringList: {
        if (value.typeId() == QMetaType::QString)
            return QStringList{value.toString()};
        if (value.typeId() != QMetaType::QVariantList)
            return {};
        QStringList list;
        for (const QVariant &item : value.toList())
            list.append(textField(item).toString());
        return list;
    }
    default: {
        QVariant converted = value;
        if (converted.convert(type))
            return converted;
        return {};
    }
    }
}

} // namespace ValueConversion
