#include "NativeSocket.h"

#include "RetryEintr.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {

void closeSocket(qintptr descriptor)
{
    // No retry on EINTR: on Linux the descriptor is gone either way, and a second close could
    // hit a descriptor another thread has just been given.
    if (descriptor >= 0)
        ::close(int(descriptor));
}

qintptr duplicateSocket(qintptr descriptor)
{
    if (descriptor < 0)
        return -1;
    // CLOEXEC: a program started by ExecuteCommand must not keep the terminal's link open.
    return ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
}

void shutdownSocket(qintptr descriptor)
{
    if (descriptor >= 0)
        ::shutdown(int(descriptor), SHUT_RDWR);
}

bool peerHasClosed(qintptr descriptor)
{
    pollfd look{int(descriptor), POLLRDHUP, 0};
    const int n = retryEintr([&look] { return ::poll(&look, 1, 0); });
    // Reported whether asked or not: a hang-up (both directions ended), an error such as a
    // reset, or a descriptor that is no socket any more.
    return n > 0 && (look.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool makeBlocking(qintptr descriptor)
{
    const int fd = int(descriptor);
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool setSocketWait(qintptr descriptor, int milliseconds)
{
    // A zero time-out is "no limit" to the kernel, as is ours of -1.
    timeval wait{0, 0};
    if (milliseconds > 0) {
        wait.tv_sec = milliseconds / 1000;
        wait.tv_usec = (milliseconds % 1000) * 1000;
    }
    const int fd = int(descriptor);
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0
        && ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0;
}

int sendBufferSize(qintptr descriptor)
{
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_SNDBUF, &size, &length) != 0 || size <= 0)
        return -1;
    return size;
}

namespace {

SocketTransfer outcome(ssize_t n, int &count)
{
    count = n > 0 ? int(n) : 0;
    if (n > 0)
        return SocketTransfer::Moved;
    if (n == 0)
        return SocketTransfer::Closed;
    // A blocking call whose time-out ran out says EAGAIN as well.
    return errno == EAGAIN || errno == EWOULDBLOCK ? SocketTransfer::WouldWait : SocketTransfer::Failed;
}

} // namespace

SocketTransfer receiveSome(qintptr descriptor, char *buffer, int length, bool mayWait, int &count)
{
    const int flags = mayWait ? 0 : MSG_DONTWAIT;
    return outcome(retryEintr([&] { return ::recv(int(descriptor), buffer, size_t(length), flags); }), count);
}

SocketTransfer sendSome(qintptr descriptor, const char *head, int headLength, const char *data, int length,
                        bool mayWait, int &count)
{
    iovec parts[2];
    int used = 0;
    if (headLength > 0)
        parts[used++] = {const_cast<char *>(head), size_t(headLength)};
    if (length > 0)
        parts[used++] = {const_cast<char *>(data), size_t(length)};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = size_t(used);
    // No SIGPIPE for a peer that has gone: the failed send says so.
    const int flags = MSG_NOSIGNAL | (mayWait ? 0 : MSG_DONTWAIT);
    if (used == 0) {
        count = 0;
        return SocketTransfer::Moved;
    }
    const ssize_t n = retryEintr([&] { return ::sendmsg(int(descriptor), &message, flags); });
    // A send that takes nothing without an error does not happen on a stream socket.
    if (n == 0)
        return SocketTransfer::Failed;
    return outcome(n, count);
}

bool widenListenQueue(qintptr descriptor)
{
    // listen() on a socket that already listens only changes the length of its queue.
    return ::listen(int(descriptor), SOMAXCONN) == 0;
}

} // namespace platform
