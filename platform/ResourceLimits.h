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

// The descriptors open in the process now; -1 when they cannot be counted, which happens when
// not even one is left to look with.
int openDescriptorCount();

// Program end while threads still run that cannot be told to stop: leaves the process at once
// with `code`. Neither destructors nor exit handlers run, so no object that those threads use is
// destroyed under them. The caller flushes what must reach a file first.
[[noreturn]] void leaveProcess(int code);

} // namespace platform
