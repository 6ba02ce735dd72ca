#include "PStopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = int(sizeof kStopSignals / sizeof kStopSignals[0]);

// The handler may only do async-signal-safe work: it writes the signal number into a pipe that
// the main thread watches.
int pipeRead = -1;
int pipeWrite = -1;
struct sigaction previous[kSignalCount];

extern "C" void onStopSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request; losing this one changes nothing.
    ssize_t ignored = ::write(pipeWrite, &byte, 1);
    (void)ignored;
    errno = saved;
}

} // namespace

PStopSignals::PStopSignals(QObject *parent)
    : QObject(parent)
{
    if (pipeRead >= 0)
        return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    pipeRead = fds[0];
    pipeWrite = fds[1];
    notifier = new QSocketNotifier(pipeRead, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PStopSignals::drain);

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t wanted;
    sigemptyset(&wanted);
    for (int i = 0; i < kSignalCount; ++i) {
        ::sigaction(kStopSignals[i], &action, &previous[i]);
        sigaddset(&wanted, kStopSignals[i]);
    }
    // A manager may start us with these signals blocked; then a stop request would never come.
    ::pthread_sigmask(SIG_UNBLOCK, &wanted, nullptr);
    armed = true;
}

PStopSignals::~PStopSignals()
{
    if (!armed)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kStopSignals[i], &previous[i], nullptr);
    delete notifier;
    ::close(pipeRead);
    ::close(pipeWrite);
    pipeRead = pipeWrite = -1;
}

void PStopSignals::drain()
{
    unsigned char bytes[16];
    ssize_t n;
    int first = 0;
    while ((n = ::read(pipeRead, bytes, sizeof bytes)) > 0) {
        if (!first)
            first = bytes[0];
    }
    if (first && !reported) {
        reported = true;
        emit stopRequested(first);
    }
}
