#include "NativeSocket.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
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

} // namespace platform
