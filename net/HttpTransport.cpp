#include "net/HttpTransport.h"

#include "model/PrivateModule.h"

const HttpTransport *HttpTransport::instance()
{
    static const HttpTransport *const loaded = [] {
        const auto entry = reinterpret_cast<HttpTransportEntry>(
            PrivateModule::resolve(QStringLiteral("liborvalenetwork.so"), "orvaleHttpTransport"));
        return entry ? entry() : nullptr;
    }();
    return loaded;
}
