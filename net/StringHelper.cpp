#include "net/StringHelper.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QStringDecoder>

QString StringHelper::base64(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

QString StringHelper::deBase64(const QString &text)
{
    const QByteArray encoded = text.toLatin1();
    if (encoded.size() % 4 != 0 || text.size() != encoded.size())
        return {};
    const auto decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = utf8(*decoded);
    if (utf8.hasError())
        return {};
    return result.isNull() ? QStringLiteral("") : result;
}

QString StringHelper::localString(const QString &text)
{
    return QCoreApplication::translate("Orvale", text.toUtf8().constData());
}

QString StringHelper::xmlEscaped(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '<':
            escaped += QLatin1String("&lt;");
            break;
        case '>':
            escaped += QLatin1String("&gt;");
            break;
        case '&':
            escaped += QLatin1String("&amp;");
            break;
        case '"':
            escaped += QLatin1String("&quot;");
            break;
        case '\'':
            escaped += QLatin1String("&apos;");
            break;
        default:
            // Characters XML 1.0 cannot carry at all are dropped rather than sent broken.
            if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
                break;
            if (c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
                break;
            escaped += c;
        }
    }
    return escaped;
}

QVariant StringHelper::fromStringToJSONDictionary(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    return document.toVariant();
}
