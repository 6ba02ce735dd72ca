#include "ResourceLimits.h"

#include "TestSeams.h"
#include "UniqueFd.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
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

// The descriptors that requests have promised and not yet given back, in the low half; the high
// half counts the promises given back. A check that counted while either half changed counts
// again, so that a promise given back after its opens is never missed by both the count and the
// sum.
std::atomic<std::uint64_t> promises{0};
constexpr std::uint64_t kPromisedMask = 0xFFFFFFFFu;
constexpr std::uint64_t kOneGivenBack = std::uint64_t(1) << 32;

// Set when a count found no /proc; the operator is told once.
std::atomic<bool> uncounted{false};
std::atomic<bool> uncountedTold{false};

// What a count gives besides a number of descriptors.
constexpr int kUncountable = -1; // nothing to count them with
constexpr int kNoneFree = -2;    // the count needed a descriptor, and none was left

// The walk of the folder, for kernels before 6.2. Apart from countOpen() so that its 8 KiB of
// entries are no part of the fast path's stack frame: touched at a session's first request, that
// stack page would cost each new session thread a page fault.
__attribute__((noinline)) int walkOpen(const QByteArray &folderPath)
{
    UniqueFd folder(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid())
        return errno == EMFILE || errno == ENFILE ? kNoneFree : kUncountable;
    // The raw entries: no allocation, and one system call for hundreds of descriptors.
    alignas(8) char entries[8192];
    int count = 0;
    for (;;) {
        const long n = ::syscall(SYS_getdents64, folder.get(), entries, sizeof entries);
        if (n < 0)
            return kUncountable;
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

int countOpen()
{
    const QByteArray folderPath = procPath("/proc/self/fd");
    // Linux 6.2 and later give the count as the folder's size, without a descriptor and without
    // a walk of the table.
    struct stat folderState{};
    if (::stat(folderPath.constData(), &folderState) == 0 && folderState.st_size > 0)
        return int(folderState.st_size);
    return walkOpen(folderPath);
}

bool leavesReserve(qint64 limit, int open, std::uint64_t promiseState, int count)
{
    return limit - open - qint64(promiseState & kPromisedMask) - count >= kDescriptorReserve;
}

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
    const int open = countOpen();
    return open < 0 ? -1 : open;
}

void leaveProcess(int code)
{
    std::_Exit(code);
}

bool descriptorsToSpare(int count)
{
    const std::uint64_t state = promises.load();
    const int open = countOpen();
    if (open == kUncountable) {
        uncounted = true;
        return true;
    }
    return open >= 0 && leavesReserve(openFileLimit(), open, state, count);
}

DescriptorClaim::DescriptorClaim(int count)
{
    const qint64 limit = openFileLimit();
    std::uint64_t state = promises.load();
    for (;;) {
        const int open = countOpen();
        if (open == kUncountable) {
            uncounted = true;
            granted = true;
            return;
        }
        if (open < 0 || !leavesReserve(limit, open, state, count))
            return;
        // A failed exchange loads the state anew, and the count is taken again after it.
        if (count <= 0 || promises.compare_exchange_strong(state, state + std::uint64_t(count)))
            break;
    }
    promised = count > 0 ? count : 0;
    granted = true;
}

DescriptorClaim::~DescriptorClaim()
{
    if (promised > 0)
        promises.fetch_add(kOneGivenBack - std::uint64_t(promised));
}

bool reserveUncheckedNotice()
{
    return uncounted.load() && !uncountedTold.exchange(true);
}

} // namespace platform
