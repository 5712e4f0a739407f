#pragma once

#include "net/NetworkError.h"

#include <QString>

/// Reads the reason text of a portal SOAP fault carried by a failed request.
class SoapFault final
{
public:
    /// Envelope → Body → Fault → Reason → Text of the error's reply body; a null QString
    /// when the body holds no readable fault.
    static QString reasonText(const NetworkError &error);
};
