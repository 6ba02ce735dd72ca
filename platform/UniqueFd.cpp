#include "UniqueFd.h"

#include <unistd.h>

namespace platform {

void UniqueFd::reset(int other)
{
    // No retry on EINTR: on Linux the descriptor is gone either way, and a second close could
    // hit a descriptor another thread has just been given.
    if (fd >= 0)
        ::close(fd);
    fd = other;
}

} // namespace platform
