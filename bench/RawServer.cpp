#include "RawServer.h"

#include "BenchTerminal.h"

#include "Helpers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint32 kMaxRequest = 0x100000;

// The length and the reply in one call; short writes finish with plain sends.
bool sendReply(int fd, const char *reply, quint32 length)
{
    char head[4];
    writeUInt32BE(head, length);
    iovec parts[2] = {{head, 4}, {const_cast<char *>(reply), length}};
    ssize_t n;
    do {
        n = ::writev(fd, parts, 2);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return false;
    if (size_t(n) < 4)
        return sendFully(fd, head + n, 4 - size_t(n)) && sendFully(fd, reply, length);
    return sendFully(fd, reply + (n - 4), length - size_t(n - 4));
}

std::string localPath(const char *terminalPath)
{
    std::string path(terminalPath);
    if (path.size() >= 2 && path[1] == ':')
        path.erase(0, 2);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    return path;
}

class Connection
{
public:
    explicit Connection(int fd) : fd(fd) {}
    ~Connection()
    {
        for (int file : files)
            if (file >= 0)
                ::close(file);
        ::close(fd);
    }

    void serve()
    {
        // Plain malloc: pages that are never written cost nothing, as in the engine.
        std::unique_ptr<char, decltype(&std::free)> request(static_cast<char *>(std::malloc(kMaxRequest + 1)), &std::free);
        std::unique_ptr<char, decltype(&std::free)> reply(static_cast<char *>(std::malloc(kMaxRequest + 8)), &std::free);
        if (!request || !reply)
            return;
        for (;;) {
            char head[4];
            if (!receiveFully(fd, head, 4))
                return;
            const quint32 length = readUInt32BE(head);
            if (length == 0 || length > kMaxRequest || !receiveFully(fd, request.get(), length))
                return;
            // Every name ends inside the request buffer.
            request.get()[length] = 0;
            if (!answer(request.get(), length, reply.get()))
                return;
        }
    }

private:
    int fileOf(quint32 handle) const
    {
        return handle >= 1 && handle <= files.size() ? files[handle - 1] : -1;
    }

    bool answer(const char *request, quint32 length, char *reply)
    {
        const size_t nameLength = std::strlen(request);
        const char *args = request + nameLength + 1;
        const quint32 argsLength = length > nameLength ? quint32(length - nameLength - 1) : 0;
        const auto word = [&](int i) { return argsLength >= quint32(4 * i + 4) ? readUInt32BE(args + 4 * i) : 0; };

        if (std::strcmp(request, "CONNECT") == 0)
            return sendReply(fd, "OK", 2);
        if (std::strcmp(request, "ReadFile") == 0) {
            const quint32 count = qMin(word(1), kMaxRequest);
            const int file = fileOf(word(0));
            const ssize_t n = file < 0 ? 0 : ::read(file, reply + 8, count);
            writeUInt32BE(reply, n == ssize_t(count) ? 1 : 0);
            writeUInt32BE(reply + 4, quint32(n));
            return sendReply(fd, reply, 8 + quint32(n > 0 ? n : 0));
        }
        if (std::strcmp(request, "WriteFile") == 0) {
            const quint32 count = qMin(word(1), argsLength >= 8 ? argsLength - 8 : 0);
            const int file = fileOf(word(0));
            const ssize_t n = file < 0 ? 0 : ::write(file, args + 8, count);
            writeUInt32BE(reply, file >= 0 ? 1 : 0);
            writeUInt32BE(reply + 4, quint32(n));
            return sendReply(fd, reply, 8);
        }
        if (std::strcmp(request, "OpenFile") == 0) {
            const int file = ::open(localPath(args).c_str(), O_RDWR | O_CLOEXEC);
            if (file >= 0)
                files.push_back(file);
            writeUInt32BE(reply, file >= 0 ? 1 : 0);
            writeUInt32BE(reply + 4, file >= 0 ? quint32(files.size()) : 0);
            return sendReply(fd, reply, 8);
        }
        if (std::strcmp(request, "CloseFile") == 0) {
            const quint32 handle = word(0);
            const bool open = fileOf(handle) >= 0;
            if (open) {
                ::close(files[handle - 1]);
                files[handle - 1] = -1;
            }
            writeUInt32BE(reply, open ? 1 : 0);
            return sendReply(fd, reply, 4);
        }
        if (std::strcmp(request, "StreamOut") == 0)
            return streamOut(word(0), qBound(1u, word(1), kMaxRequest), reply);
        if (std::strcmp(request, "StreamIn") == 0)
            return streamIn(word(0), qBound(1u, word(1), kMaxRequest), reply) && sendReply(fd, "OK", 2);
        return false;
    }

    bool streamOut(quint32 total, quint32 piece, char *bytes)
    {
        std::memset(bytes, 0x5A, piece);
        for (quint32 done = 0; done < total;) {
            const quint32 n = qMin(piece, total - done);
            if (!sendFully(fd, bytes, n))
                return false;
            done += n;
        }
        return true;
    }

    bool streamIn(quint32 total, quint32 piece, char *bytes)
    {
        for (quint32 done = 0; done < total;) {
            const quint32 n = qMin(piece, total - done);
            if (!receiveFully(fd, bytes, n))
                return false;
            done += n;
        }
        return true;
    }

    const int fd;
    std::vector<int> files;
};

} // namespace

int RawServer::run()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, SOMAXCONN) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        std::fprintf(stderr, "raw server: cannot listen: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("PORT %u\n", unsigned(ntohs(address.sin_port)));
    std::fflush(stdout);

    // The bench holds our standard input: when it goes, so do we, even if it was killed.
    std::thread([]() {
        char byte;
        while (::read(0, &byte, 1) > 0) {
        }
        std::_Exit(0);
    }).detach();

    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: give the connections that end a moment to return some.
                ::usleep(10000);
                continue;
            }
            return 1;
        }
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([fd]() { Connection(fd).serve(); }).detach();
    }
}
