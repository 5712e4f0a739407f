#pragma once

#include <QString>
#include <QtGlobal>

/// The client's own modules: parts that the first window does not need (the live player's and
/// the ring's multimedia, the QR code reader, the keychain), loaded when first used from the
/// client's private library folder, where libconfclient.so is (${libdir}/orvale once installed).
/// ORVALE_MODULE_DIR names another folder, for programs that run without the engine.
class PrivateModule final
{
public:
    PrivateModule() = delete;

    /// The entry point `symbol` of the module `fileName`, or null after a warning that names
    /// what is missing. The module is loaded at the first call and never unloaded.
    static QFunctionPointer resolve(const QString &fileName, const char *symbol);
    /// Where the modules are looked for.
    static QString folder();
};
