#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

/// Decodes JSON replies of services that put raw control characters into their texts.
class JsonCleaner final
{
public:
    /// Inside string literals CR LF pairs become the two characters "\n"; every other
    /// control or format character (categories Cc and Cf) is removed, except whitespace
    /// between tokens.
    static QString clean(const QString &text);
    /// The cleaned body decoded as JSON, or an invalid QVariant when it is not JSON.
    static QVariant decode(const QByteArray &body);
};
