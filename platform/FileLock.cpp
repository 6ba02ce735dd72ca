#include "FileLock.h"

#include "RetryEintr.h"

#include <sys/file.h>

namespace platform {

bool lockExclusively(int fd)
{
    return retryEintr([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0;
}

} // namespace platform
