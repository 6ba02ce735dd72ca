// The packet framing on an arbitrary byte stream: binary lengths on every link, hex text on a
// Bluetooth link. Each request read is sent back as a reply, and the bytes on the wire must be
// its framing exactly.

#include "FuzzSupport.h"

#include "Helpers.h"
#include "PDataPort.h"

#include <cstring>
#include <memory>

namespace {

constexpr int kMaxPackets = 32;

// A port whose peer is the fuzz input; what the server sends is kept.
class MemoryPort : public PDataPort
{
public:
    MemoryPort(const char *data, int size, ConnectionType linkType)
        : data(data), size(size)
    {
        type = linkType;
    }

    bool read(char *buffer, int length) override
    {
        if (length < 0 || length > size - position) {
            position = size;
            return false;
        }
        std::memcpy(buffer, data + position, size_t(length));
        position += length;
        return true;
    }

    bool write(const char *bytes, int length) override
    {
        if (length < 0)
            return false;
        sent.append(bytes, length);
        return true;
    }

    bool open() override { return type != ConnectionType::Bluetooth || allocateHexBuffer(); }

    bool close() override
    {
        freeHexBuffer();
        hexMode = false;
        return true;
    }

    QByteArray sent;

private:
    const char *data;
    const int size;
    int position = 0;
};

QByteArray expectedWire(const char *payload, quint32 length, bool hexText)
{
    char head[4];
    writeUInt32BE(head, length);
    if (!hexText)
        return QByteArray(head, 4) + QByteArray(payload, int(length));
    QByteArray text(8 + 2 * int(length), '\0');
    hexEncode(text.data(), head, 4);
    hexEncode(text.data() + 8, payload, int(length));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // Room for the largest request and not a byte more: a longer write is a report.
    static std::unique_ptr<char[]> buffer(new char[PDataPort::kMaxRequest]);
    const ConnectionType link = (data[0] & 1) ? ConnectionType::Bluetooth : ConnectionType::Network;
    MemoryPort port(reinterpret_cast<const char *>(data) + 1, int(size - 1), link);
    fuzz::check(port.open(), "a port opens");
    for (int i = 0; i < kMaxPackets; ++i) {
        quint32 length = 0;
        if (!port.readPacket(buffer.get(), length))
            break;
        fuzz::check(length <= PDataPort::kMaxRequest, "an accepted request is within the limit");
        fuzz::check(link == ConnectionType::Bluetooth || !port.hexMode, "only Bluetooth speaks hex text");
        port.sent.clear();
        fuzz::check(port.writePacket(buffer.get(), length), "a reply is sent");
        fuzz::check(port.sent == expectedWire(buffer.get(), length, port.hexMode), "the reply is framed exactly");
    }
    port.close();
    fuzz::check(!port.hexMode && !port.hasHexBuffer(), "a closed port is back in binary framing");
    return 0;
}
