#include "net/XMLReader.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

/// Finds the first start tag with more attributes than allowed, without parsing: the XML
/// parser's duplicate check grows with the square of an element's attribute count, so such
/// a tag has to be refused before the parser sees it. Quoted values, comments, CDATA
/// sections and processing instructions are passed over whole.
std::optional<qsizetype> overfullTag(const QByteArray &data)
{
    const char *p = data.constData();
    const char *const end = p + data.size();
    const auto skipPast = [&](const char *from, std::string_view terminator) {
        const auto found = std::search(from, end, terminator.begin(), terminator.end());
        return found == end ? end : found + terminator.size();
    };
    while ((p = std::find(p, end, '<')) != end) {
        const std::string_view rest(p, size_t(end - p));
        if (rest.starts_with("<!--")) {
            p = skipPast(p + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            p = skipPast(p + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            p = skipPast(p + 2, "?>");
        } else {
            const char *const tag = p;
            int attributes = 0;
            char quote = 0;
            for (++p; p != end && (quote || *p != '>'); ++p) {
                if (quote) {
                    quote = *p == quote ? 0 : quote;
                } else if (*p == '"' || *p == '\'') {
                    quote = *p;
                } else if (*p == '=' && ++attributes > XMLReader::maxAttributes) {
                    return tag - data.constData();
                }
            }
        }
    }
    return std::nullopt;
}

struct Frame
{
    QVariantMap dictionary;
};

bool hasRealText(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isSpace())
            return true;
    }
    return false;
}

/// Adds an element's dictionary under its name: the first occurrence as it is, later ones
/// turning the entry into a list.
void insertChild(QVariantMap &parent, const QString &name, QVariantMap &&child)
{
    auto it = parent.find(name);
    if (it == parent.end()) {
        parent.insert(name, QVariant(std::move(child)));
    } else if (it->typeId() == QMetaType::QVariantList) {
        static_cast<QVariantList *>(it->data())->append(QVariant(std::move(child)));
    } else {
        QVariantList list{std::move(*it), QVariant(std::move(child))};
        *it = QVariant(std::move(list));
    }
}

QVariantMap attributesOf(const QXmlStreamReader &reader, bool namespaces)
{
    QVariantMap attributes;
    for (const QXmlStreamAttribute &attribute : reader.attributes())
        attributes.insert(attribute.qualifiedName().toString(), attribute.value().toString());
    if (!namespaces) {
        for (const QXmlStreamNamespaceDeclaration &ns : reader.namespaceDeclarations()) {
            const QString key = ns.prefix().isEmpty() ? QStringLiteral("xmlns")
                                                      : QStringLiteral("xmlns:") + ns.prefix();
            attributes.insert(key, ns.namespaceUri().toString());
        }
    }
    return attributes;
}

std::optional<QVariantMap> convert(const QByteArray &data, int options, QString *error)
{
    if (const auto offset = overfullTag(data)) {
        if (error)
            *error = QStringLiteral("an element with more than %1 attributes (offset %2)")
                         .arg(XMLReader::maxAttributes)
                         .arg(*offset);
        return std::nullopt;
    }
    const bool namespaces = options & XMLReader::ProcessNamespaces;
    QXmlStreamReader reader(data);
    reader.setNamespaceProcessing(namespaces);

    std::vector<Frame> stack(1);
    stack.reserve(16);
    QString textInProgress;

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            // The converted tree is freed recursively, so its depth must stay small.
            if (stack.size() > XMLReader::maxDepth) {
                reader.raiseError(
                    QStringLiteral("elements nested deeper than %1").arg(XMLReader::maxDepth));
                break;
            }
            stack.push_back(Frame{attributesOf(reader, namespaces)});
            break;
        case QXmlStreamReader::Characters:
            textInProgress += reader.text();
            break;
        case QXmlStreamReader::EndElement: {
            const QString name = (namespaces ? reader.name() : reader.qualifiedName()).toString();
            Frame element = std::move(stack.back());
            stack.pop_back();
            QVariantMap &parent = stack.back().dictionary;
            if (hasRealText(textInProgress))
                parent.insert(name, textInProgress.trimmed());
            else
                insertChild(parent, name, std::move(element.dictionary));
            textInProgress.clear();
            break;
        }
        case QXmlStreamReader::DTD:
            reader.raiseError(QStringLiteral("document type declarations are not accepted"));
            break;
        case QXmlStreamReader::EntityReference:
            reader.raiseError(QStringLiteral("entity references are not accepted"));
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        if (error)
            *error = QStringLiteral("%1 (line %2, column %3)")
                         .arg(reader.errorString())
                         .arg(reader.lineNumber())
                         .arg(reader.columnNumber());
        return std::nullopt;
    }
    return std::move(stack.front().dictionary);
}

} // namespace

QVariant XMLReader::dictionaryForXMLData(const QByteArray &data, int options, QString *error,
                                         const QString &responseName)
{
    const std::optional<QVariantMap> root = rootDictionaryForXMLData(data, options, error);
    if (!root)
        return {};
    const QVariant envelope = root->value(QStringLiteral("Envelope"));
    if (envelope.typeId() != QMetaType::QVariantMap)
        return {};
    const QVariant body = envelope.toMap().value(QStringLiteral("Body"));
    if (body.typeId() != QMetaType::QVariantMap)
        return {};
    return body.toMap().value(responseName);
}

QVariant XMLReader::dictionaryForXMLString(const QString &text, int options, QString *error,
                                           const QString &responseName)
{
    return dictionaryForXMLData(text.toUtf8(), options, error, responseName);
}

std::optional<QVariantMap> XMLReader::rootDictionaryForXMLData(const QByteArray &data, int options,
                                                               QString *error)
{
    return convert(data, options, error);
}

std::optional<QVariantMap> XMLReader::dictionaryForXMLData(const QByteArray &data, QString *error)
{
    return convert(data, 0, error);
}

std::optional<QVariantMap> XMLReader::dictionaryForXMLString(const QString &text, QString *error)
{
    return convert(text.toUtf8(), 0, error);
}
