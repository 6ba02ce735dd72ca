#include "PDataPort.h"

#include "Helpers.h"

#include <climits>
#include <cstring>

PDataPort::PDataPort() = default;
PDataPort::~PDataPort() = default;

bool PDataPort::read(char *, int)
{
    return false;
}

bool PDataPort::write(const char *, int)
{
    return false;
}

bool PDataPort::open()
{
    return false;
}

bool PDataPort::close()
{
    return false;
}

bool PDataPort::readHead(char *buffer, int length)
{
    return read(buffer, length);
}

bool PDataPort::writeHead(const char *data, int length, bool)
{
    return write(data, length);
}

bool PDataPort::allocateHexBuffer()
{
    hexBuffer = platform::ZeroPages(kHexBufferSize);
    return bool(hexBuffer);
}

bool PDataPort::readPacket(char *buffer, quint32 &length)
{
    char head[8];
    if (!readHead(head, 4))
        return false;
    if (isHexPort() && head[0] == '0') {
        if (!hexBuffer || !read(head + 4, 4))
            return false;
        char decoded[4];
        hexDecode(decoded, head, 4);
        std::memcpy(head, decoded, 4);
        hexMode = true;
    }
    length = readUInt32BE(head);
    // Checked before a single payload byte is waited for: the length comes from the peer.
    if (length > kMaxRequest)
        return false;
    if (isHexPort() && hexMode) {
        if (!hexBuffer || !read(hexBuffer.get(), int(2 * length)))
            return false;
        hexDecode(buffer, hexBuffer.get(), int(length));
        return true;
    }
    return read(buffer, int(length));
}

bool PDataPort::writePacket(const char *data, quint32 length)
{
    if (length > quint32(INT_MAX))
        return false;
    char head[4];
    writeUInt32BE(head, length);
    if (!(isHexPort() && hexMode)) {
        if (!writeHead(head, 4, length > 0))
            return false;
        return write(data, int(length));
    }
    if (!hexBuffer)
        return false;
    char headText[8];
    hexEncode(headText, head, 4);
    if (!write(headText, 8))
        return false;
    // A reply may be longer than the buffer holds in hex: the text goes out piece by piece, the
    // same characters on the wire as in one piece.
    constexpr quint32 kPiece = kHexBufferSize / 2;
    for (quint32 done = 0; done < length;) {
        const quint32 n = qMin(kPiece, length - done);
        hexEncode(hexBuffer.get(), data + done, int(n));
        if (!write(hexBuffer.get(), int(2 * n)))
            return false;
        done += n;
    }
    return true;
}
