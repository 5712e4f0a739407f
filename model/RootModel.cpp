#include "model/RootModel.h"

#include "model/ValueConversion.h"

#include <QMetaProperty>
#include <QStringList>

RootModel::RootModel(QObject *parent)
    : QObject(parent)
{}

RootModel::~RootModel() = default;

void RootModel::setValue(const QString &key, const QVariant &value)
{
    const int index = metaObject()->indexOfProperty(key.toUtf8().constData());
    // QObject's own properties (objectName) are not fields of a record.
    if (index < staticMetaObject.propertyOffset()) {
        setValueForUndefinedKey(key, value);
        return;
    }
    assignProperty(index, value);
}

void RootModel::setValuesForKeysWithDictionary(const QVariantMap &dictionary)
{
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
        setValue(it.key(), it.value());
}

QVariant RootModel::value(const QString &key) const
{
    const int index = metaObject()->indexOfProperty(key.toUtf8().constData());
    if (index < staticMetaObject.propertyOffset())
        return {};
    return metaObject()->property(index).read(this);
}

void RootModel::setValueForUndefinedKey(const QString &, const QVariant &) {}

bool RootModel::assignRecordField(const QString &, const QVariantMap &)
{
    return false;
}

void RootModel::assignFromDictionary(const QVariantMap &dictionary)
{
    const QMetaObject *meta = metaObject();
    for (int i = staticMetaObject.propertyOffset(); i < meta->propertyCount(); ++i) {
        const auto it = dictionary.constFind(QString::fromLatin1(meta->property(i).name()));
        if (it != dictionary.cend())
            assignProperty(i, it.value());
    }
}

bool RootModel::assignProperty(int index, const QVariant &value)
{
    const QMetaProperty property = metaObject()->property(index);
    if (property.metaType().flags().testFlag(QMetaType::PointerToQObject)) {
        if (value.typeId() != QMetaType::QVariantMap)
            return false;
        return assignRecordField(QString::fromLatin1(property.name()), value.toMap());
    }
    if (!property.isWritable())
        return false;
    const QVariant converted = ValueConversion::forField(property.metaType(), value);
    if (!converted.isValid())
        return false;
    // A MEMBER write is skipped when the value equals the stored one, and an empty text
    // equals an absent one: step through another text so that "present but empty" sticks.
    if (converted.typeId() == QMetaType::QString && converted.toString().isEmpty() &&
        !converted.toString().isNull() && property.read(this).toString().isNull())
        property.write(this, QStringLiteral(" "));
    return property.write(this, converted);
}

QStringList RootModel::ownFieldNames() const
{
    QStringList names;
    const QMetaObject *meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        names.append(QString::fromLatin1(meta->property(i).name()));
    return names;
}

QString RootModel::describeField(const QString &key) const
{
    const QVariant v = value(key);
    if (!v.isValid() || v.isNull())
        return QStringLiteral("nil");
    if (v.typeId() == QMetaType::QString && v.toString().isNull())
        return QStringLiteral("nil");
    if (const auto *record = v.value<RootModel *>())
        return record->description();
    if (v.typeId() == QMetaType::QStringList)
        return u'(' + v.toStringList().join(QStringLiteral(", ")) + u')';
    if (v.metaType().flags().testFlag(QMetaType::PointerToQObject))
        return QStringLiteral("nil");
    if (ValueConversion::isNumber(v))
        return ValueConversion::numberText(v);
    return v.toString();
}

QString RootModel::description() const
{
    QString fields = QStringLiteral("{\n");
    for (const QString &name : ownFieldNames())
        fields += QStringLiteral("    ") + name + QStringLiteral(" = ") + describeField(name) +
                  QStringLiteral(";\n");
    fields += u'}';
    return QString::asprintf("<%s: %p> -- ", metaObject()->className(),
                             static_cast<const void *>(this)) +
           fields;
}
