#include "PNetPort.h"

#include "NativeSocket.h"
#include "PSettings.h"
#include "TestSeams.h"

#include <climits>
#include <cstring>

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
    if (!platform::makeBlocking(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
    linkFd = socket.socketDescriptor();
    if (type == ConnectionType::Bluetooth && !allocateHexBuffer()) {
        linkFd = -1;
        socket.abort();
        return false;
    }
    if (type != ConnectionType::Network) {
        pieceLimit = radioPiece(platform::sendBufferSize(linkFd));
        sendFunction = platform::radioSend();
    }
    return true;
}

// The kernel builds an RFCOMM send whole, as frames of the link's frame size, inside the socket's
// send buffer before any of it leaves, and charges each frame at its true size: about 770 bytes
// for the default frame of 127, six times its data. A send whose frames do not fit waits out the
// time-out and fails however fast the terminal reads. A twelfth of the buffer is charged about
// half of it, so one piece fits while the one before still drains. And at most 4 KiB, about that
// share of RFCOMM's default buffer of 50,800 bytes, whatever buffer a link reports.
int PNetPort::radioPiece(int sendBuffer)
{
    constexpr int kMaxPiece = 4096;
    if (sendBuffer <= 0)
        return kMaxPiece;
    return qBound(1, sendBuffer / 12, kMaxPiece);
}

// Reading and writing go straight to the descriptor, in blocking mode with the setting as the
// socket's own time-out: Qt's buffers, notifiers and polls would take four times the system
// calls of every request. Qt never reads or writes this socket itself (nothing runs the session
// thread's event loop, and no byte is ever given to Qt), so no byte waits in a Qt buffer.
//
// Each transfer first takes what the socket has (or has room for) at once; only when it would
// have to wait is the setting read and, if it changed, given to the socket. So the setting is
// read at each wait, as before, and bytes that are there cost no look at it. The length word
// of a request is the exception: it is waited for at once (readHead).
bool PNetPort::prepareWait()
{
    const int wait = currentWait();
    if (wait == 0)
        return false;
    if (wait != appliedWait) {
        if (!platform::setSocketWait(linkFd, wait))
            return false;
        appliedWait = wait;
    }
    return true;
}

bool PNetPort::read(char *buffer, int length)
{
    return receive(buffer, length, false);
}

// The next request is not there yet, as a rule: the terminal sends it once it has the answer
// to the last one. Looking first would cost a system call that finds nothing.
bool PNetPort::readHead(char *buffer, int length)
{
    return receive(buffer, length, true);
}

bool PNetPort::receive(char *buffer, int length, bool expectWait)
{
    if (length <= 0)
        return length == 0;
    const qintptr fd = linkFd;
    if (expectWait && !prepareWait())
        expectWait = false; // no wait allowed: only what is there counts
    bool waited = expectWait;
    for (int done = 0; done < length;) {
        int count = 0;
        switch (platform::receiveSome(fd, buffer + done, length - done, waited, count)) {
        case platform::SocketTransfer::Moved:
            done += count;
            waited = false;
            break;
        case platform::SocketTransfer::WouldWait:
            // A wait that ran out ends the read; data that keeps coming keeps it alive.
            if (waited || !prepareWait())
                return false;
            waited = true;
            break;
        case platform::SocketTransfer::Closed:
        case platform::SocketTransfer::Failed:
            return false;
        }
    }
    return true;
}

bool PNetPort::write(const char *data, int length)
{
    if (length <= 0)
        return length == 0;
    return send(data, length);
}

// The length word waits for its payload and leaves with it: one segment and one system call
// instead of two, the same bytes on the wire.
bool PNetPort::writeHead(const char *data, int length, bool payloadFollows)
{
    if (length <= 0)
        return length == 0;
    if (!payloadFollows || length > int(sizeof pendingHead))
        return send(data, length);
    std::memcpy(pendingHead, data, size_t(length));
    pendingLength = length;
    return true;
}

bool PNetPort::send(const char *data, int length)
{
    const qintptr fd = linkFd;
    const char *head = pendingHead;
    int headLength = pendingLength;
    pendingLength = 0;
    bool waited = false;
    while (headLength + length > 0) {
        // On a radio link piece after piece, each with a wait of its own.
        int pieceHead = headLength;
        int pieceData = length;
        if (pieceLimit > 0) {
            pieceHead = qMin(headLength, pieceLimit);
            pieceData = qMin(length, pieceLimit - pieceHead);
        }
        int count = 0;
        switch (sendFunction(fd, head, pieceHead, data, pieceData, waited, count)) {
        case platform::SocketTransfer::Moved: {
            const int fromHead = qMin(count, headLength);
            head += fromHead;
            headLength -= fromHead;
            data += count - fromHead;
            length -= count - fromHead;
            waited = false;
            break;
        }
        case platform::SocketTransfer::WouldWait:
            if (waited || !prepareWait())
                return false;
            waited = true;
            break;
        case platform::SocketTransfer::Closed:
        case platform::SocketTransfer::Failed:
            return false;
        }
    }
    return true;
}

bool PNetPort::close()
{
    linkFd = -1;
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            socket.waitForDisconnected(30000);
    }
    freeHexBuffer();
    hexMode = false;
    return true;
}
