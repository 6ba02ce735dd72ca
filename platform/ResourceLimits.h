#pragma once

#include <QtGlobal>

// The descriptors the process may hold, and the way out when its threads cannot be waited for.
namespace platform {

// At start: raises the soft limit of open files to the hard one, which is as far as an
// unprivileged process may go. Returns the soft limit in effect afterwards.
qint64 raiseOpenFileLimit();

// The soft limit of open files that the process was started with, before any raise: programs the
// server starts get it back. Raw, as the system gives it (no bound is the largest value).
unsigned long long startingOpenFileLimit();

// The soft limit of open files in effect now; a limit without bound reads as INT_MAX.
qint64 openFileLimit();

// The descriptors open in the process now; -1 when they cannot be counted.
int openDescriptorCount();

// Program end while threads still run that cannot be told to stop: leaves the process at once
// with `code`. Neither destructors nor exit handlers run, so no object that those threads use is
// destroyed under them. The caller flushes what must reach a file first.
[[noreturn]] void leaveProcess(int code);

// Descriptors kept free for the process itself: its listeners, the debug log, settings writes,
// Qt's wake-ups and the accept of a connection that is then refused. A terminal can then only
// make its own further opens fail, never the process.
constexpr int kDescriptorReserve = 32;

// True when `count` more descriptors would still leave the reserve free; false when the open
// descriptors cannot be counted. A few microseconds on Linux 6.2 and later, however many are
// open; older kernels are walked, at about 0.6 ms a thousand descriptors.
bool descriptorsToSpare(int count);

} // namespace platform
