#include "TestSeams.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<int> tableOpenRetryDelayMs{kDefaultTableOpenRetryDelayMs};
} // namespace

void setTableOpenRetryDelayForTesting(int milliseconds)
{
    tableOpenRetryDelayMs.store(milliseconds < 0 ? 0 : milliseconds);
}

int tableOpenRetryDelay()
{
    return tableOpenRetryDelayMs.load();
}

} // namespace platform
