#include "PlatformThread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

std::uint64_t currentThreadId()
{
    return static_cast<std::uint64_t>(::syscall(SYS_gettid));
}

} // namespace platform
