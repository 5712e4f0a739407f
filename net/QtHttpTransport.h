#pragma once

#include "net/HttpTransport.h"

/// The transport of the module liborvalenetwork.so: one QNetworkAccessManager for every request
/// of the main thread.
class QtHttpTransport final : public HttpTransport
{
public:
    std::unique_ptr<Exchange> send(const Request &request, Listener listener) const override;
    QNetworkAccessManager *manager() const override;
};
