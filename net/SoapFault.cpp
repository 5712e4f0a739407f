#include "net/SoapFault.h"

#include "net/XMLReader.h"

QString SoapFault::reasonText(const NetworkError &error)
{
    if (error.body.isEmpty())
        return {};
    QString parseError;
    const QVariant fault = XMLReader::dictionaryForXMLData(error.body, XMLReader::ProcessNamespaces,
                                                           &parseError, QStringLiteral("Fault"));
    const QVariant text =
        fault.toMap().value(QStringLiteral("Reason")).toMap().value(QStringLiteral("Text"));
    return text.typeId() == QMetaType::QString ? text.toString() : QString();
}
