#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <vector>

// Every byte over a blocking socket, or false; EINTR is retried. The raw server uses them too.
bool sendFully(int fd, const char *data, size_t length);
bool receiveFully(int fd, char *data, size_t length);

// A terminal on a blocking loopback TCP socket, as lean as a client can be so that the figures
// measure the server. Every send, receive and connect gives up after kWaitSeconds: a server that
// hangs ends the figure with an error instead of stopping the run.
class BenchTerminal
{
public:
    static constexpr int kWaitSeconds = 20;

    BenchTerminal() = default;
    ~BenchTerminal();
    BenchTerminal(const BenchTerminal &) = delete;
    BenchTerminal &operator=(const BenchTerminal &) = delete;

    bool connectTo(quint16 port);
    void close();
    bool isConnected() const { return fd >= 0; }

    // The 4-byte big-endian length and the payload, handed to the kernel in one call.
    bool sendPacket(const char *payload, quint32 length);
    bool sendPacket(const QByteArray &payload) { return sendPacket(payload.constData(), quint32(payload.size())); }
    // A payload in two parts, sent without joining them first (WriteFile's head and its data).
    bool sendPacket(const QByteArray &head, const char *tail, quint32 tailLength);
    // One reply packet into `reply` (grown as needed, never shrunk); `length` gets its length.
    bool readPacket(std::vector<char> &reply, quint32 &length);
    bool call(const QByteArray &request, std::vector<char> &reply, quint32 &length);

    // Raw bytes, without framing: the streaming reference.
    bool sendAll(const char *data, size_t length) { return sendFully(fd, data, length); }
    bool receiveAll(char *data, size_t length) { return receiveFully(fd, data, length); }

private:
    bool sendParts(struct iovec *parts, int count);

    int fd = -1;
};

// A request as a terminal packs it: the command name and its NUL, then the arguments.
class BenchRequest
{
public:
    explicit BenchRequest(const char *name);
    BenchRequest &text(const QByteArray &value);
    BenchRequest &word(quint32 value);
    BenchRequest &bytes(const char *data, int length);
    operator const QByteArray &() const { return payload; }

private:
    QByteArray payload;
};

// The first word of a reply (the result word of most commands); 0 for a shorter reply.
quint32 replyWord(const std::vector<char> &reply, quint32 length, int index);
