#include "net/JsonCleaner.h"

#include <QJsonDocument>

namespace {

bool isJsonWhitespace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

} // namespace

QString JsonCleaner::clean(const QString &text)
{
    QString result;
    result.reserve(text.size());
    const qsizetype size = text.size();
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (inString && c == u'\r' && i + 1 < size && text[i + 1] == u'\n') {
            // The services put raw line breaks into texts; elsewhere they are whitespace.
            result += QLatin1String("\\n");
            escaped = false;
            ++i;
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text[i + 1]);
            if (QChar::category(code) != QChar::Other_Format) {
                result += c;
                result += text[i + 1];
            }
            escaped = false;
            ++i;
            continue;
        }
        if (!inString && isJsonWhitespace(c)) {
            result += c;
            continue;
        }
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            continue;
        result += c;
        if (c == u'"' && !escaped)
            inString = !inString;
        escaped = inString && c == u'\\' && !escaped;
    }
    return result;
}

QVariant JsonCleaner::decode(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(clean(QString::fromUtf8(body)).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return {};
    return document.toVariant();
}
