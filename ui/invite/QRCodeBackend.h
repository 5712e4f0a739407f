#pragma once

#include <QImage>
#include <QString>

/// What QRCodec needs of a QR code library: the module that holds it (liborvaleqrcode.so) is
/// loaded at the first code drawn or read. Safe on any thread.
class QRCodeBackend
{
public:
    virtual ~QRCodeBackend() = default;
    /// The code of `text` (UTF-8, error correction M, a margin of one module), one 8-bit grey
    /// pixel per module; null when the text fits in no code.
    virtual QImage modules(const QString &text) const = 0;
    /// The text of the first valid QR code in the 8-bit grey picture `grey`, or a null text.
    virtual QString firstCode(const QImage &grey) const = 0;
};

/// The module's entry point: its one backend, which lives as long as the process.
using QRCodeBackendEntry = const QRCodeBackend *(*)();
