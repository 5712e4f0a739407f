#include "ui/multimedia/Multimedia.h"

#include "model/PrivateModule.h"

const Multimedia *Multimedia::instance()
{
    static const Multimedia *const loaded = [] {
        const auto entry = reinterpret_cast<MultimediaEntry>(
            PrivateModule::resolve(QStringLiteral("liborvalemultimedia.so"), "orvaleMultimedia"));
        return entry ? entry() : nullptr;
    }();
    return loaded;
}
