#pragma once

#include "ConnectionType.h"
#include "ZeroPages.h"

#include <QObject>

// The byte stream of one terminal session with the packet framing on top: a 4-byte big-endian
// payload length, then the payload. Bluetooth ports also speak the same framing in hex text
// (8 hex digits of length, 2 hex digits per byte), switching to it for good at the first request
// that starts with the character '0'. Subclasses give the four raw operations.
class PDataPort : public QObject
{
    Q_OBJECT
public:
    // The largest request payload a terminal may send.
    static constexpr quint32 kMaxRequest = platform::kMaxRequest;
    // Room for the hex text of the largest request; replies go through it in pieces.
    static constexpr int kHexBufferSize = 2 * kMaxRequest + 1000;
    static_assert(kHexBufferSize >= int(2 * kMaxRequest + 8), "the hex text of the largest request and its length");

    PDataPort();
    ~PDataPort() override;

    // Exactly `length` bytes or false; a length of 0 is true.
    virtual bool read(char *buffer, int length);
    // Every byte sent or false; a length of 0 is true.
    virtual bool write(const char *data, int length);
    virtual bool open();
    virtual bool close();

    // One request into `buffer` (room for kMaxRequest bytes); `length` gets the declared length
    // even when it is refused. False on a broken stream or a length above kMaxRequest.
    bool readPacket(char *buffer, quint32 &length);
    // One reply; false when a write fails.
    bool writePacket(const char *data, quint32 length);

    bool hasHexBuffer() const { return bool(hexBuffer); }

    ConnectionType type = ConnectionType::None;
    bool hexMode = false;

protected:
    // The start of a request (its length word or hex length): the bytes and the result are those
    // of read(), but the port may expect to wait, since terminals send once answered.
    virtual bool readHead(char *buffer, int length);
    // The length word of a binary reply; `payloadFollows` when the payload is sent right after,
    // so a port may let both leave together. The bytes and the result are those of write().
    virtual bool writeHead(const char *data, int length, bool payloadFollows);
    // Gives the port its hex buffer (zero-filled); false when the memory is not there.
    bool allocateHexBuffer();
    void freeHexBuffer() { hexBuffer.reset(); }

private:
    bool isHexPort() const { return type == ConnectionType::Bluetooth; }

    platform::ZeroPages hexBuffer;
};
