#include "PStopEvent.h"

#include "RetryEintr.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

PStopEvent::PStopEvent()
    : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

PStopEvent::~PStopEvent()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void PStopEvent::set()
{
    signalled.store(true, std::memory_order_release);
    if (fd_ < 0)
        return;
    // Nobody ever reads the counter, so the descriptor stays readable for good. A write can
    // only fail when the counter would overflow, and then it is readable already.
    const std::uint64_t one = 1;
    platform::retryEintr([this, &one] { return ::write(fd_, &one, sizeof one); });
}

bool PStopEvent::waitAny(const PStopEvent *first, const PStopEvent *second, int timeoutMs)
{
    const auto isSetNow = [&]() { return (first && first->isSet()) || (second && second->isSet()); };
    if (isSetNow())
        return true;
    pollfd fds[2];
    nfds_t count = 0;
    for (const PStopEvent *event : {first, second}) {
        if (event && event->isValid())
            fds[count++] = pollfd{event->fd(), POLLIN, 0};
    }
    QDeadlineTimer deadline(timeoutMs < 0 ? qint64(-1) : qint64(timeoutMs));
    for (;;) {
        const qint64 left = deadline.remainingTime();
        const int rc = ::poll(fds, count, left < 0 ? -1 : int(left));
        if (isSetNow())
            return true;
        if (rc == 0 || (rc < 0 && errno != EINTR))
            return false;
        if (deadline.hasExpired())
            return false;
    }
}
