#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

/// Base of every record. Fields are Q_PROPERTYs, so records can be filled by key from
/// dictionaries that come out of XML and JSON replies.
class RootModel : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RootModel)

public:
    explicit RootModel(QObject *parent = nullptr);
    ~RootModel() override;

    /// Key-value assignment of one key; an unknown key goes to setValueForUndefinedKey().
    void setValue(const QString &key, const QVariant &value);
    void setValuesForKeysWithDictionary(const QVariantMap &dictionary);
    QVariant value(const QString &key) const;

    virtual void setValueForUndefinedKey(const QString &key, const QVariant &value);

    /// "<Class: address> -- {field = value; ...}" over the fields of the most derived class.
    QString description() const;

    /// Builds a record field by field from a dictionary; unknown keys are ignored silently.
    template <class T> static std::shared_ptr<T> fromDictionary(const QVariantMap &dictionary)
    {
        auto record = std::make_shared<T>();
        record->assignFromDictionary(dictionary);
        return record;
    }

    /// Names of the fields declared by the record's own class, in declaration order.
    QStringList ownFieldNames() const;

protected:
    /// Stores a nested record field from its dictionary; records with such fields override it.
    virtual bool assignRecordField(const QString &key, const QVariantMap &dictionary);
    /// Text of one field for description().
    virtual QString describeField(const QString &key) const;

private:
    void assignFromDictionary(const QVariantMap &dictionary);
    bool assignProperty(int index, const QVariant &value);
};
