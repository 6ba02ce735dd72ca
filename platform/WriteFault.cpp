#include "WriteFault.h"

#include <atomic>

namespace platform {

namespace {
// Counts down to the failing write; 0 means disarmed.
std::atomic<int> writesUntilFault{0};
std::atomic<std::int64_t> bytesAllowedAtFault{0};
} // namespace

void armWriteFault(int nth, std::int64_t bytesBeforeFailure)
{
    bytesAllowedAtFault.store(bytesBeforeFailure < 0 ? 0 : bytesBeforeFailure);
    writesUntilFault.store(nth < 0 ? 0 : nth);
}

void disarmWriteFault()
{
    writesUntilFault.store(0);
}

bool takeWriteFault(std::int64_t &bytesBeforeFailure)
{
    int current = writesUntilFault.load();
    while (current > 0) {
        if (writesUntilFault.compare_exchange_weak(current, current - 1)) {
            if (current != 1)
                return false;
            bytesBeforeFailure = bytesAllowedAtFault.load();
            return true;
        }
    }
    return false;
}

} // namespace platform
