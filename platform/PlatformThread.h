#pragma once

#include <cstdint>

namespace platform {

// The kernel's id of the calling thread: a small number, like the thread ids the log showed on
// the platform the server came from, and unique among the live threads of the machine.
std::uint64_t currentThreadId();

} // namespace platform
