#include "BenchTerminal.h"

#include "Helpers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

BenchTerminal::~BenchTerminal()
{
    close();
}

bool BenchTerminal::connectTo(quint16 port)
{
    close();
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Linux bounds connect() by the send time-out as well.
    const timeval wait{kWaitSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc != 0) {
        close();
        return false;
    }
    return true;
}

void BenchTerminal::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool BenchTerminal::sendPacket(const char *payload, quint32 length)
{
    char head[4];
    writeUInt32BE(head, length);
    iovec parts[2] = {{head, 4}, {const_cast<char *>(payload), length}};
    return sendParts(parts, 2);
}

bool BenchTerminal::sendPacket(const QByteArray &head, const char *tail, quint32 tailLength)
{
    char word[4];
    writeUInt32BE(word, quint32(head.size()) + tailLength);
    iovec parts[3] = {{word, 4}, {const_cast<char *>(head.constData()), size_t(head.size())},
                      {const_cast<char *>(tail), tailLength}};
    return sendParts(parts, 3);
}

bool BenchTerminal::sendParts(iovec *part, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, part, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        // Skip what went out; a part may have gone only in part.
        size_t done = size_t(n);
        while (count > 0 && done >= part->iov_len) {
            done -= part->iov_len;
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<char *>(part->iov_base) + done;
            part->iov_len -= done;
        }
    }
    return true;
}

bool BenchTerminal::readPacket(std::vector<char> &reply, quint32 &length)
{
    char head[4];
    if (!receiveAll(head, 4))
        return false;
    length = readUInt32BE(head);
    // A reply longer than the largest ReadFile answer is a broken stream, not data.
    if (length > 0x300000)
        return false;
    if (reply.size() < length)
        reply.resize(length);
    return receiveAll(reply.data(), length);
}

bool BenchTerminal::call(const QByteArray &request, std::vector<char> &reply, quint32 &length)
{
    return sendPacket(request) && readPacket(reply, length);
}

bool sendFully(int fd, const char *data, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

bool receiveFully(int fd, char *data, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::recv(fd, data, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

BenchRequest::BenchRequest(const char *name)
{
    payload.append(name);
    payload.append('\0');
}

BenchRequest &BenchRequest::text(const QByteArray &value)
{
    payload.append(value);
    payload.append('\0');
    return *this;
}

BenchRequest &BenchRequest::word(quint32 value)
{
    char bytes[4];
    writeUInt32BE(bytes, value);
    payload.append(bytes, 4);
    return *this;
}

BenchRequest &BenchRequest::bytes(const char *data, int length)
{
    payload.append(data, length);
    return *this;
}

quint32 replyWord(const std::vector<char> &reply, quint32 length, int index)
{
    const quint32 at = quint32(index) * 4;
    return length >= at + 4 ? readUInt32BE(reply.data() + at) : 0;
}
