#include "PtyTerminal.h"

#include "Helpers.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

bool waitReady(int fd, short events, const QDeadlineTimer &deadline)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, int(deadline.remainingTime()));
        if (rc > 0)
            return (p.revents & events) != 0;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

PtyTerminal::PtyTerminal()
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    char slave[128];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, slave, sizeof slave) != 0) {
        ::close(fd);
        return;
    }
    QString path = QString::fromLocal8Bit(slave);
    if (!path.startsWith(QLatin1String("/dev/"))) {
        ::close(fd);
        return;
    }
    name = path.mid(5);
    master = fd;
}

PtyTerminal::~PtyTerminal()
{
    close();
}

bool PtyTerminal::sendRaw(const QByteArray &bytes, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    int done = 0;
    while (done < bytes.size()) {
        if (!waitReady(master, POLLOUT, deadline))
            return false;
        const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

bool PtyTerminal::sendPacket(const QByteArray &payload)
{
    char head[4];
    writeUInt32BE(head, quint32(payload.size()));
    return sendRaw(QByteArray(head, 4) + payload);
}

bool PtyTerminal::readExact(int count, QByteArray &out, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    out.resize(count);
    int done = 0;
    while (done < count) {
        if (!waitReady(master, POLLIN, deadline))
            return false;
        const ssize_t n = ::read(master, out.data() + done, size_t(count - done));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

bool PtyTerminal::readPacket(QByteArray &payload)
{
    QByteArray head;
    if (!readExact(4, head))
        return false;
    const quint32 length = readUInt32BE(head.constData());
    return length <= 0x400000 && readExact(int(length), payload);
}

QByteArray PtyTerminal::call(const QByteArray &payload)
{
    QByteArray reply;
    if (!sendPacket(payload) || !readPacket(reply))
        return QByteArray();
    return reply;
}

bool PtyTerminal::silentFor(int timeoutMs)
{
    pollfd p{master, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 0;
}

bool PtyTerminal::lineSettings(termios &out) const
{
    return master >= 0 && ::tcgetattr(master, &out) == 0;
}

bool PtyTerminal::setSpeed(speed_t speed)
{
    termios tio{};
    return lineSettings(tio) && ::cfsetspeed(&tio, speed) == 0 && ::tcsetattr(master, TCSANOW, &tio) == 0;
}

void PtyTerminal::close()
{
    if (master >= 0)
        ::close(master);
    master = -1;
}
