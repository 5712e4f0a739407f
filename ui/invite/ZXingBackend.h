#pragma once

#include "ui/invite/QRCodeBackend.h"

/// QR codes through ZXing, in the module liborvaleqrcode.so.
class ZXingBackend final : public QRCodeBackend
{
public:
    QImage modules(const QString &text) const override;
    QString firstCode(const QImage &grey) const override;
};
