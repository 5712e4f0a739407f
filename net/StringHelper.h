#pragma once

#include <QString>
#include <QVariant>

/// Text helpers shared by the requests, the invitation links and the windows.
class StringHelper final
{
public:
    /// Standard Base64 with "=" padding of the text's UTF-8 bytes.
    static QString base64(const QString &text);
    /// The UTF-8 text of Base64-decoded bytes; a null QString when the input is not Base64
    /// or the bytes are not UTF-8.
    static QString deBase64(const QString &text);
    /// The text's entry in the application's translation table, or the text itself.
    static QString localString(const QString &text);
    /// The text made safe as XML character data or attribute value.
    static QString xmlEscaped(const QString &text);
    /// The UTF-8 bytes of a text parsed as JSON; an invalid QVariant when they are not JSON.
    static QVariant fromStringToJSONDictionary(const QString &text);
};
