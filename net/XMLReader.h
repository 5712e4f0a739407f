#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

/// Turns an XML document into nested dictionaries: an element with text becomes that text,
/// an element without text a dictionary of its children and attributes, and an element name
/// repeated under one parent a list. Document type declarations are refused, so no entity of
/// a reply is ever expanded or fetched. Documents nested deeper than `maxDepth` elements,
/// or with an element of more than `maxAttributes` attributes, are refused as well.
class XMLReader final
{
public:
    static constexpr size_t maxDepth = 256;
    static constexpr int maxAttributes = 256;

    enum Option {
        ProcessNamespaces = 1,       ///< element names without prefix; no xmlns attributes
        ReportNamespacePrefixes = 2, ///< accepted and ignored
        ResolveExternalEntities = 4, ///< accepted and never honoured
    };

    /// root → "Envelope" → "Body" → responseName, or an invalid QVariant when a step is
    /// missing or the data does not parse (then `error` receives the parser's message).
    static QVariant dictionaryForXMLData(const QByteArray &data, int options, QString *error,
                                         const QString &responseName);
    static QVariant dictionaryForXMLString(const QString &text, int options, QString *error,
                                           const QString &responseName);
    /// The dictionary that stands for the whole document.
    static std::optional<QVariantMap> rootDictionaryForXMLData(const QByteArray &data, int options,
                                                               QString *error);
    static std::optional<QVariantMap> dictionaryForXMLData(const QByteArray &data, QString *error);
    static std::optional<QVariantMap> dictionaryForXMLString(const QString &text, QString *error);
};
