#include "SerialDevice.h"

#include "RetryEintr.h"

#include <QDeadlineTimer>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<ModemLineReader> lineReader{&readModemLines};

bool isGone(int err)
{
    // The device was unplugged, or the far side of a pseudo-terminal closed.
    return err == EIO || err == ENXIO || err == ENODEV;
}

void applyLineSettings(termios &tio)
{
    // Raw bytes both ways: no line editing, echo, signals, translations or output processing.
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    // No XON/XOFF and no hardware flow control: a cradle drives neither.
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    tio.c_cflag &= ~tcflag_t(CRTSCTS);
    // 8 data bits, no parity, one stop bit. CLOCAL: the modem lines neither gate the data nor
    // hang the port up; a change of them is watched while reading instead.
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= tcflag_t(CS8 | CREAD | CLOCAL);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

} // namespace

bool readModemLines(int fd, quint64 &stamp)
{
    // The counters see every change, even one undone before the next look.
    serial_icounter_struct counts{};
    if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        stamp = quint64(unsigned(counts.cts)) + quint64(unsigned(counts.dsr)) + quint64(unsigned(counts.dcd));
        return true;
    }
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) == 0) {
        stamp = quint64(unsigned(bits & (TIOCM_CTS | TIOCM_DSR | TIOCM_CD)));
        return true;
    }
    return false;
}

void setModemLineReader(ModemLineReader reader)
{
    lineReader.store(reader ? reader : &readModemLines);
}

void SerialDevice::fail(const char *call, const QString &path)
{
    const int err = errno;
    error = QStringLiteral("%1 %2: %3").arg(QLatin1String(call), path, QString::fromLocal8Bit(std::strerror(err)));
}

bool SerialDevice::open(const QString &path)
{
    close();
    error.clear();
    const QByteArray native = QFile::encodeName(path);
    const int d =
        retryEintr([&native] { return ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (d < 0) {
        fail("open", path);
        return false;
    }
    // Only a terminal device takes the line settings; anything else would not carry raw bytes.
    termios tio{};
    if (::tcgetattr(d, &tio) != 0) {
        fail("tcgetattr", path);
        ::close(d);
        return false;
    }
    // Exclusive use: the lock keeps out every cooperating user (and a second session), the
    // exclusive mode every other unprivileged open.
    if (::flock(d, LOCK_EX | LOCK_NB) != 0) {
        fail("flock", path);
        ::close(d);
        return false;
    }
    ::ioctl(d, TIOCEXCL);
    applyLineSettings(tio);
    if (::tcsetattr(d, TCSANOW, &tio) != 0) {
        fail("tcsetattr", path);
        ::ioctl(d, TIOCNXCL);
        ::close(d);
        return false;
    }
    // DTR on tells the terminal the PC is there; a pseudo-terminal has no modem lines.
    int dtr = TIOCM_DTR;
    ::ioctl(d, TIOCMBIS, &dtr);
    // Whatever waited from before the session is stale.
    ::tcflush(d, TCOFLUSH);
    ::tcflush(d, TCIFLUSH);
    fd = d;
    return true;
}

void SerialDevice::close()
{
    if (fd < 0)
        return;
    ::tcflush(fd, TCIOFLUSH);
    ::ioctl(fd, TIOCNXCL);
    // No retry on EINTR: the descriptor is gone either way on Linux.
    ::close(fd);
    fd = -1;
}

SerialDevice::Result SerialDevice::waitFor(short events, int timeoutMs, int stopFd1, int stopFd2, bool watchLines,
                                           quint64 lines)
{
    pollfd fds[3] = {{fd, events, 0}, {stopFd1, POLLIN, 0}, {stopFd2, POLLIN, 0}};
    const QDeadlineTimer deadline(timeoutMs < 0 ? qint64(-1) : qint64(timeoutMs), Qt::PreciseTimer);
    const ModemLineReader reader = lineReader.load();
    for (;;) {
        const qint64 left = deadline.remainingTime();
        int slice = left < 0 ? -1 : int(qMin<qint64>(left, INT_MAX));
        // The lines raise no poll event: they are looked at between short slices.
        if (watchLines && (slice < 0 || slice > kLineCheckMs))
            slice = kLineCheckMs;
        const int rc = ::poll(fds, 3, slice);
        if (rc < 0 && errno != EINTR)
            return Result::Failed;
        // A stop wins over data that is ready.
        if (rc > 0 && ((fds[1].revents | fds[2].revents) != 0))
            return Result::Stopped;
        if (watchLines) {
            quint64 now = 0;
            if (!reader(fd, now))
                watchLines = false; // the device stopped reporting them; poll tells the rest
            else if (now != lines)
                return Result::LineChanged;
        }
        if (rc > 0) {
            const short got = fds[0].revents;
            if (got & POLLNVAL)
                return Result::Failed;
            // With data and a hang-up both reported, the read tells which comes first.
            if (got & events)
                return Result::Done;
            if (got & (POLLHUP | POLLERR))
                return Result::HungUp;
        }
        if (deadline.hasExpired())
            return Result::TimedOut;
    }
}

SerialDevice::Result SerialDevice::readExact(char *buffer, int length, const WaitTime &waitTime, int stopFd1,
                                             int stopFd2)
{
    if (length <= 0)
        return Result::Done;
    if (fd < 0)
        return Result::Failed;
    // A change from this moment on means the terminal was lifted out of the cradle.
    quint64 lines = 0;
    const bool watchLines = lineReader.load()(fd, lines);
    int got = 0;
    while (got < length) {
        const Result waited = waitFor(POLLIN, waitTime ? waitTime() : -1, stopFd1, stopFd2, watchLines, lines);
        if (waited != Result::Done)
            return waited;
        const ssize_t n = ::read(fd, buffer + got, size_t(length - got));
        if (n > 0) {
            got += int(n);
            continue;
        }
        // A raw terminal reads 0 bytes only once it is hung up.
        if (n == 0)
            return Result::HungUp;
        if (errno == EINTR || errno == EAGAIN)
            continue;
        return isGone(errno) ? Result::HungUp : Result::Failed;
    }
    return Result::Done;
}

SerialDevice::Result SerialDevice::writeAll(const char *data, int length, const WaitTime &waitTime, int stopFd1,
                                            int stopFd2)
{
    if (length <= 0)
        return Result::Done;
    if (fd < 0)
        return Result::Failed;
    int sent = 0;
    while (sent < length) {
        const Result waited = waitFor(POLLOUT, waitTime ? waitTime() : -1, stopFd1, stopFd2, false, 0);
        if (waited != Result::Done)
            return waited;
        const ssize_t n = ::write(fd, data + sent, size_t(length - sent));
        if (n > 0) {
            sent += int(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n < 0 && !isGone(errno) ? Result::Failed : Result::HungUp;
    }
    return Result::Done;
}

} // namespace platform
