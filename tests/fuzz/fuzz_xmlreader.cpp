#include "net/XMLReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString error;
    XMLReader::rootDictionaryForXMLData(xml, 0, &error);
    XMLReader::dictionaryForXMLData(xml, XMLReader::ProcessNamespaces, &error,
                                    QStringLiteral("SearchMyContactsResponse"));
    return 0;
}
