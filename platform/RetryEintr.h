#pragma once

#include <cerrno>

namespace platform {

// Makes `call` (a system call that says -1 on failure) again for as long as it fails with EINTR,
// a signal that came before it did anything; its last result, with errno as that call left it.
template <typename Call>
auto retryEintr(Call call)
{
    auto result = call();
    while (result == -1 && errno == EINTR)
        result = call();
    return result;
}

} // namespace platform
