#include "PNetPort.h"

#include "NativeSocket.h"
#include "PSettings.h"

#include <climits>

PNetPort::PNetPort(qintptr descriptor)
    : descriptor(descriptor)
{
}

PNetPort::~PNetPort() = default;

int PNetPort::waitMilliseconds(qint32 networkTimeout)
{
    if (networkTimeout < 0)
        return -1;
    const qint64 ms = qint64(networkTimeout) * 1000;
    return ms > INT_MAX ? INT_MAX : int(ms);
}

int PNetPort::currentWait()
{
    // Read at every wait, so a changed setting applies to the next one.
    return waitMilliseconds(settings.snapshot().networkTimeout);
}

bool PNetPort::open()
{
    if (!socket.setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        // Qt did not take the descriptor, so nobody else will close it.
        platform::closeSocket(descriptor);
        return false;
    }
    // A reply goes out as two writes, its length and then its payload; with Nagle's rule the
    // payload would wait for the terminal's delayed acknowledgement of the length.
    if (type == ConnectionType::Network)
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (type == ConnectionType::Bluetooth && !allocateHexBuffer()) {
        socket.abort();
        return false;
    }
    return true;
}

bool PNetPort::read(char *buffer, int length)
{
    if (length <= 0)
        return length == 0;
    // Each wait has its own time-out: a terminal that keeps sending keeps the read alive.
    while (socket.bytesAvailable() < length) {
        if (!socket.waitForReadyRead(currentWait()))
            return false;
    }
    return socket.read(buffer, length) == length;
}

bool PNetPort::write(const char *data, int length)
{
    if (length <= 0)
        return length == 0;
    if (socket.write(data, length) != length)
        return false;
    // Only bytes that have left Qt's buffer count as sent.
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(currentWait()))
            return false;
    }
    return true;
}

bool PNetPort::close()
{
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            socket.waitForDisconnected(30000);
    }
    freeHexBuffer();
    hexMode = false;
    return true;
}
