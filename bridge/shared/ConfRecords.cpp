#include "bridge/shared/ConfRecords.h"

#include <QtEndian>

#include <cstring>

namespace ConfRecords {

QByteArray zeroed(uint32_t size)
{
    return QByteArray(static_cast<qsizetype>(size), '\0');
}

void writeText(void *record, uint32_t size, uint32_t offset, uint32_t width, const QString &text)
{
    if (!record || width == 0 || offset >= size || width > size - offset)
        return;
    QByteArray bytes = text.toUtf8();
    qsizetype length = std::min<qsizetype>(bytes.size(), width - 1);
    // Step back over continuation bytes so that a cut never splits a character.
    if (length < bytes.size()) {
        while (length > 0 && (static_cast<uint8_t>(bytes[length]) & 0xC0) == 0x80)
            --length;
    }
    char *field = static_cast<char *>(record) + offset;
    std::memset(field, 0, width);
    std::memcpy(field, bytes.constData(), static_cast<size_t>(length));
}

void writeText(QByteArray &record, uint32_t offset, uint32_t width, const QString &text)
{
    writeText(record.data(), static_cast<uint32_t>(record.size()), offset, width, text);
}

QString readText(const void *record, uint32_t size, uint32_t offset, uint32_t width)
{
    if (!record || offset >= size)
        return {};
    const char *field = static_cast<const char *>(record) + offset;
    const uint32_t limit = std::min(width, size - offset);
    const void *end = std::memchr(field, 0, limit);
    const qsizetype length = end ? static_cast<const char *>(end) - field : limit;
    return QString::fromUtf8(field, length);
}

QString readText(const QByteArray &record, uint32_t offset, uint32_t width)
{
    return readText(record.constData(), static_cast<uint32_t>(record.size()), offset, width);
}

uint32_t readU32(const void *record, uint32_t size, uint32_t offset)
{
    if (!record || size < 4 || offset > size - 4)
        return 0;
    return qFromLittleEndian<uint32_t>(static_cast<const char *>(record) + offset);
}

uint32_t readU32(const QByteArray &record, uint32_t offset)
{
    return readU32(record.constData(), static_cast<uint32_t>(record.size()), offset);
}

void writeU32(void *record, uint32_t size, uint32_t offset, uint32_t value)
{
    if (!record || size < 4 || offset > size - 4)
        return;
    qToLittleEndian<uint32_t>(value, static_cast<char *>(record) + offset);
}

void writeU32(QByteArray &record, uint32_t offset, uint32_t value)
{
    writeU32(record.data(), static_cast<uint32_t>(record.size()), offset, value);
}

uint8_t readByte(const void *record, uint32_t size, uint32_t offset)
{
    if (!record || offset >= size)
        return 0;
    return static_cast<const uint8_t *>(record)[offset];
}

} // namespace ConfRecords
