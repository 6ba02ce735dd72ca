#include "ResourceLimits.h"

#include "UniqueFd.h"

#include <climits>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// Read while static objects are built, before main() can raise the limit.
const rlim_t startingSoftLimit = [] {
    rlimit limit{};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : RLIM_INFINITY;
}();

} // namespace

unsigned long long startingOpenFileLimit()
{
    return startingSoftLimit;
}

qint64 raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        // A hard limit without bound is more than the kernel takes for a soft one; the old
        // limit then stays.
        ::setrlimit(RLIMIT_NOFILE, &raised);
    }
    return openFileLimit();
}

qint64 openFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(INT_MAX))
        return INT_MAX;
    return qint64(limit.rlim_cur);
}

int openDescriptorCount()
{
    // Linux 6.2 and later give the count as the folder's size, without a descriptor and without
    // a walk of the table.
    struct stat folderState{};
    if (::stat("/proc/self/fd", &folderState) == 0 && folderState.st_size > 0)
        return int(folderState.st_size);
    UniqueFd folder(::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid())
        return -1;
    // The raw entries: no allocation, and one system call for hundreds of descriptors.
    alignas(8) char entries[8192];
    int count = 0;
    for (;;) {
        const long n = ::syscall(SYS_getdents64, folder.get(), entries, sizeof entries);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        for (long at = 0; at < n;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(entries + at);
            if (entry->d_name[0] != '.')
                ++count;
            at += entry->d_reclen;
        }
    }
    // The folder's own descriptor is not the process's.
    return count - 1;
}

void leaveProcess(int code)
{
    std::_Exit(code);
}

bool descriptorsToSpare(int count)
{
    const int open = openDescriptorCount();
    return open >= 0 && openFileLimit() - open - count >= kDescriptorReserve;
}

} // namespace platform
