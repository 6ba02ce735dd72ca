#pragma once

#include <cstdint>

namespace platform {

// Test seam for file writes that must never report a failed write as success. Arming it makes the
// nth guarded write from now (1 = the next one) write only its first `bytesBeforeFailure` bytes
// and then fail as a full disk would (ENOSPC). Off by default; one shot.
void armWriteFault(int nth, std::int64_t bytesBeforeFailure = 0);
void disarmWriteFault();

// Called by a guarded write path before every write. True when this write must fail: the path
// writes at most `bytesBeforeFailure` bytes of it (less than the whole) and reports ENOSPC.
bool takeWriteFault(std::int64_t &bytesBeforeFailure);

} // namespace platform
