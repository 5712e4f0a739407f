#include "net/SoapFault.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    NetworkError error;
    error.kind = NetworkError::Kind::Status;
    error.httpStatus = 500;
    error.body = QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    SoapFault::reasonText(error);
    return 0;
}
