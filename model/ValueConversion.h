#pragma once

#include <QMetaType>
#include <QStringView>
#include <QVariant>

/// The conversion rules of key-value assignment: what a field of a given type makes of a
/// value that arrived from XML (always text) or JSON (text, numbers, booleans, nulls).
namespace ValueConversion {

/// The leading decimal integer of a text ("12abc" gives 12, "abc" gives 0).
qint64 leadingInteger(QStringView text);
/// Truth of a text as a boolean field reads it: "true", "yes", or a leading non-zero number.
bool textTruth(QStringView text);
bool isNumber(const QVariant &value);
/// A value read as an integer: a number's value, or a text's leading integer; 0 otherwise.
qint64 integerValue(const QVariant &value);
/// Decimal text of a number; integral doubles carry no fraction.
QString numberText(const QVariant &value);

/// The value a field of type `type` stores for `value`, or an invalid QVariant when the field
/// must stay as it is.
QVariant forField(QMetaType type, const QVariant &value);

} // namespace ValueConversion
