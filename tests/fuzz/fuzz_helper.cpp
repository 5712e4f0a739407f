#include "bridge/Helper.h"

#include <cstddef>
#include <cstdint>

// One input is read as an invitation link and as a chat message; a first line feed splits
// off the sender's address the message is checked against.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    static const QDateTime now = QDateTime::fromMSecsSinceEpoch(1765000000000, Qt::UTC);
    Helper::analyzingURLStr(text, now);
    const qsizetype split = text.indexOf(u'\n');
    const QString message = split < 0 ? text : text.left(split);
    const QString uri = split < 0 ? QString() : text.mid(split + 1);
    if (Helper::isCommandString(message, uri))
        Helper::getCommandType(message);
    Helper::roomKeyOf(text);
    return 0;
}
