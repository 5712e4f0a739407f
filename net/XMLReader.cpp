#include "XMLReader.h"

#include <QXmlStreamReader>

#include <vector>

namespace {

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
    const bool namespaces = options & XMLReader::ProcessNamespaces;
    QXmlStreamReader reader(data);
    reader.setNamespaceProcessing(namespaces);

    std::vector<Frame> stack(1);
    stack.reserve(16);
    QString textInProgress;

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
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
