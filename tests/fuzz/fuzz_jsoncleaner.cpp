#include "net/JsonCleaner.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    JsonCleaner::decode(QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                static_cast<qsizetype>(size)));
    return 0;
}
