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

// True when `count` more descriptors, beside those open and those that requests have promised
// (see DescriptorClaim), would still leave the reserve free. Also true when the open descriptors
// cannot be counted at all (no /proc): the reserve is then not checked, and
// reserveUncheckedNotice() says so. A few microseconds on Linux 6.2 and later, however many are
// open; older kernels are walked, at about 0.6 ms a thousand descriptors.
bool descriptorsToSpare(int count);

// A request's promise of the descriptors it is about to open, made together with the check of
// the reserve: requests that check at the same time see each other's promises, so that together
// they never open into the reserve. Granted (true) as descriptorsToSpare would answer; the
// promise is given back when the claim ends, after the opens it covered succeeded or failed;
// until then what it opened counts twice, which errs on the side of the reserve.
class DescriptorClaim
{
public:
    explicit DescriptorClaim(int count);
    ~DescriptorClaim();
    DescriptorClaim(const DescriptorClaim &) = delete;
    DescriptorClaim &operator=(const DescriptorClaim &) = delete;

    explicit operator bool() const { return granted; }

private:
    int promised = 0;
    bool granted = false;
};

// True once: at the first call after a check found that the open descriptors cannot be counted.
// The caller tells the operator that the reserve is not checked.
bool reserveUncheckedNotice();

} // namespace platform
