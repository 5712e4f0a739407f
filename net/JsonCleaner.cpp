#include "JsonCleaner.h"

#include <QJsonDocument>

QString JsonCleaner::clean(const QString &text)
{
    QString result;
    result.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n') {
            result += QLatin1String("\\n");
            ++i;
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text[i + 1]);
            if (QChar::category(code) != QChar::Other_Format) {
                result += c;
                result += text[i + 1];
            }
            ++i;
            continue;
        }
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Other_Format)
            result += c;
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
