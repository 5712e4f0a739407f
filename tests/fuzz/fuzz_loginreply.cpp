#include "net/LoginRequest.h"
#include "net/XMLReader.h"

#include <cstddef>
#include <cstdint>

// One input is read both as the whole SOAP reply of the login service and as the JSON text
// its "return" element carries.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString error;
    LoginRequest::decodeReply(XMLReader::dictionaryForXMLData(
        bytes, XMLReader::ProcessNamespaces, &error, QStringLiteral("loginJsonResponse")));
    LoginRequest::decodeReply(QVariantMap{{QStringLiteral("return"), QString::fromUtf8(bytes)}});
    return 0;
}
