#include "PRequestReader.h"

#include "Helpers.h"

#include <cstring>

QByteArray PRequestReader::string()
{
    const qint64 left = remaining();
    if (left <= 0)
        return QByteArray();
    const void *nul = std::memchr(cursor, 0, size_t(left));
    const qint64 size = nul ? static_cast<const char *>(nul) - cursor : left;
    QByteArray bytes(cursor, int(size));
    cursor += nul ? size + 1 : size;
    return bytes;
}

qint32 PRequestReader::word()
{
    if (malformed || remaining() < 4) {
        malformed = true;
        return 0;
    }
    // Integers travel unsigned and are used as signed 32-bit numbers: FF FF FF FF is -1.
    const qint32 value = static_cast<qint32>(readUInt32BE(cursor));
    cursor += 4;
    return value;
}
