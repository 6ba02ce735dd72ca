#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace platform {

// One serial port opened for exclusive use, with the line settings of a cradle: 8 data bits,
// no parity, one stop bit, no flow control, raw bytes, DTR on, the baud rate left as it is.
// The descriptor is non-blocking; every transfer waits in poll(), each wait bounded by its own
// time-out and ended at once by either of two stop descriptors. Nothing is left outstanding
// when a call returns. One thread uses it at a time.
class SerialDevice
{
public:
    enum class Result {
        Done,
        TimedOut,    // a wait ended without progress
        Stopped,     // a stop descriptor became readable
        LineChanged, // CTS, DSR or the carrier changed while reading: the terminal left
        HungUp,      // the device went away or the other side closed it
        Failed,      // any other error
    };

    // The length of one wait in milliseconds, asked again before each wait; -1 waits without a
    // limit. It lets a changed setting apply to the next wait.
    using WaitTime = std::function<int()>;

    SerialDevice() = default;
    ~SerialDevice() { close(); }
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    // Opens `path` (such as "/dev/ttyACM0") and sets it up. False when it cannot be opened, is
    // taken by another user, or is no terminal device; lastError() says why. On false nothing
    // stays open.
    bool open(const QString &path);
    // Drops what is still queued either way (a terminal that left would hold a close for the
    // driver's closing wait) and closes. Safe to call when closed.
    void close();
    bool isOpen() const { return fd >= 0; }
    QString lastError() const { return error; }

    // Exactly `length` bytes; a change of the modem lines after the call began ends it.
    Result readExact(char *buffer, int length, const WaitTime &waitTime, int stopFd1, int stopFd2);
    // All `length` bytes handed to the driver.
    Result writeAll(const char *data, int length, const WaitTime &waitTime, int stopFd1, int stopFd2);

    // How often the modem lines are looked at while a read waits, on devices that report them.
    static constexpr int kLineCheckMs = 100;

private:
    Result waitFor(short events, int timeoutMs, int stopFd1, int stopFd2, bool watchLines, quint64 lines);
    void fail(const char *call, const QString &path);

    int fd = -1;
    QString error;
};

// Reads a number that changes whenever CTS, DSR or the carrier changes; false when the device
// reports none of them (a pseudo-terminal). Test seam: setModemLineReader replaces it; null
// puts the system's back.
using ModemLineReader = bool (*)(int fd, quint64 &stamp);
bool readModemLines(int fd, quint64 &stamp);
void setModemLineReader(ModemLineReader reader);

} // namespace platform
