#pragma once

#include "NativeSocket.h"
#include "PDataPort.h"

#include <QTcpSocket>

#include <climits>

// The data port of a socket link (TCP, Bluetooth RFCOMM and IrDA): an accepted native
// socket taken over by a QTcpSocket. Built, used and deleted on the session thread.
class PNetPort : public PDataPort
{
    Q_OBJECT
public:
    explicit PNetPort(qintptr descriptor);
    ~PNetPort() override;

    bool read(char *buffer, int length) override;
    bool write(const char *data, int length) override;
    // Takes the descriptor over; on false the descriptor is closed, so it never leaks.
    bool open() override;
    bool close() override;

    QTcpSocket &tcpSocket() { return socket; }

    // One wait of the link in milliseconds for a networkTimeout in seconds: the product in 64
    // bits, at most INT_MAX; a negative setting waits without a limit (-1), 0 does not wait.
    static int waitMilliseconds(qint32 networkTimeout);

protected:
    bool readHead(char *buffer, int length) override;
    bool writeHead(const char *data, int length, bool payloadFollows) override;

private:
    static int currentWait();
    // The largest piece one send gives a radio link whose send buffer holds `sendBuffer` bytes
    // (-1: unknown).
    static int radioPiece(int sendBuffer);
    // Before the socket may wait: the setting as it is now becomes the socket's time-out; false
    // when the setting allows no wait at all, or the socket refuses it.
    bool prepareWait();
    // read(), starting with a wait when `expectWait` (or a look at what is there when not).
    bool receive(char *buffer, int length, bool expectWait);
    bool send(const char *data, int length);

    QTcpSocket socket;
    const qintptr descriptor;
    // The socket's own descriptor while the port is open, -1 otherwise: every transfer uses it,
    // and asking Qt for it each time walks through three objects that a session long idle has
    // let go cold.
    qintptr linkFd = -1;
    // The socket's wait as last set; none yet.
    int appliedWait = INT_MIN;
    // The most one send hands a radio link (see open()); 0 on TCP, which takes a reply whole.
    int pieceLimit = 0;
    platform::SendFunction sendFunction = platform::sendSome;
    // A length word held back to leave with its payload.
    char pendingHead[4];
    int pendingLength = 0;
};
