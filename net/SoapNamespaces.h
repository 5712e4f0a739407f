#pragma once

#include <QLatin1StringView>

/// The namespace URIs of the envelopes the client sends. Servers read requests by local
/// names, so these matter only to the company's own services.
namespace SoapNamespaces {

inline constexpr QLatin1StringView soap12Envelope{"http://www.w3.org/2003/05/soap-envelope"};
inline constexpr QLatin1StringView soap11Envelope{"http://schemas.xmlsoap.org/soap/envelope/"};
inline constexpr QLatin1StringView portalUserService{"http://portal.orvale.net/user/v1_1"};
inline constexpr QLatin1StringView loginService{"http://webservice.orvale.net/"};
inline constexpr QLatin1StringView xmlSchema{"http://www.w3.org/2001/XMLSchema"};
inline constexpr QLatin1StringView xmlSchemaInstance{"http://www.w3.org/2001/XMLSchema-instance"};

} // namespace SoapNamespaces
